#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>
#include <vector>

namespace orvantis {

// A date and time of day as a cell holds it, without a time zone.
struct DateTimeValue {
    QDate date;
    QTime time;
    friend bool operator==(const DateTimeValue &a, const DateTimeValue &b) {
        return a.date == b.date && a.time == b.time;
    }
};

// The day a value without a date part falls on.
inline QDate dayZero() {
    return QDate(1899, 12, 30);
}

// Reads and writes dates and times in one locale; its formats are made once for many cells.
class DateForms {
public:
    explicit DateForms(const QLocale &locale);
    // See readDateTime and generalDate below.
    std::optional<DateTimeValue> read(const QString &text) const;
    QString general(const DateTimeValue &value) const;

    struct DateFormat {
        QString format;
        bool twoDigitYear;
    };

private:
    std::optional<QDate> readDate(const QString &text) const;
    std::optional<QTime> readTime(const QString &text) const;

    QLocale locale_;
    QString longTime_;
    QString shortDate_;
    std::vector<DateFormat> dates_;
    QStringList times_;
};

// Reads a date and time written in the locale's short or long forms (a date, a time, or a date
// followed by a time), in ISO 8601, or in the "YYYY MM DD hh:mm:ss" sort form. A time alone
// falls on day zero, a date alone at midnight. Two-digit years fall in 1930..2029.
std::optional<DateTimeValue> readDateTime(const QString &text, const QLocale &locale);

// "YYYY MM DD hh:mm:ss": its character order is the chronological order.
QString sortableDateTime(const DateTimeValue &value);

// The "General Date" form: the locale's short date and long time; only the date at midnight,
// only the time on day zero. Years are always written in full.
QString generalDate(const DateTimeValue &value, const QLocale &locale);

} // namespace orvantis
