#pragma once

#include <QString>

#include <cstdint>
#include <exception>

namespace orvantis {

// The failure numbers this program raises and reports.
enum FailureNumber : int32_t {
    kOverflow = 6,
    kSubscriptOutOfRange = 9,
    kTypeMismatch = 13,
    kInvalidPropertyValue = 380,
};

// A failing operation: a number and a description, as the sort's failure report shows them.
class Failure : public std::exception {
public:
    Failure(int32_t number, QString description)
        : number_(number), description_(std::move(description)),
          what_(description_.toUtf8()) {}

    int32_t number() const { return number_; }
    const QString &description() const { return description_; }
    const char *what() const noexcept override { return what_.constData(); }

private:
    int32_t number_;
    QString description_;
    QByteArray what_;
};

} // namespace orvantis
