#pragma once

#include <QString>

#include <cstdint>
#include <exception>

namespace orvantis {

// The numbers of the failures this program raises. They are the classic desktop runtime's error
// numbers, which admins know from the sort's failure report, "description (number)".
enum FailureNumber : int32_t {
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kTypeMismatch = 13,
    kDeviceIoError = 57,
    kTooManyFiles = 67,
    kPermissionDenied = 70,
    kInvalidPropertyValue = 380,
};

// A failing operation: a number and a description, as the sort's failure report shows them.
class Failure : public std::exception {
public:
    Failure(int32_t number, QString description)
        : number_(number), description_(std::move(description)), what_(description_.toUtf8()) {}

    int32_t number() const { return number_; }
    const QString &description() const { return description_; }
    const char *what() const noexcept override { return what_.constData(); }

private:
    int32_t number_;
    QString description_;
    QByteArray what_;
};

// The system's words for an error number, such as "Permission denied".
QString systemErrorText(int error);

// A failed system call on `subject` (a folder, a file): "<subject>: <the system's words>", with
// the failure number that fits the error: permission denied, too many files, out of memory, or a
// device I/O error for the rest.
Failure systemFailure(int error, const QString &subject);

// What went wrong, in words for the user: a Failure's description, "Out of memory", the system's
// words for a system error, or what the exception says.
QString describeError(const std::exception &error);

} // namespace orvantis
