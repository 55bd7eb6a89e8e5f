#include "listsort/dateforms.h"

#include <QDateTime>
#include <QList>

#include <QStringList>
#include <algorithm>

namespace orvantis {

namespace {

const QString kSortForm = QStringLiteral("yyyy MM dd HH:mm:ss");

// Qt's long time forms end in the time-zone name; a cell's value has no zone, so drop it.
QString longTimeFormat(const QLocale &locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.simplified();
}

// The short date form with the year written in full, so that nothing is lost in display.
QString fullYearShortDateFormat(const QLocale &locale) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

bool hasTwoDigitYear(const QString &format) {
    return format.contains(QLatin1String("yy")) && !format.contains(QLatin1String("yyyy"));
}

// Qt reads two-digit years as 19yy; keep them within 1930..2029 instead.
QDate pivotTwoDigitYear(QDate date) {
    return date.year() < 1930 ? date.addYears(100) : date;
}

bool inRange(const QDate &date) {
    return date.isValid() && date.year() >= 1 && date.year() <= 9999;
}

// The same form, also taking one-digit days, months, hours and minutes as people type them.
QString lenient(QString format) {
    for (const char *field : {"dd", "MM", "HH", "hh", "mm", "ss"}) {
        const QString twice = QString::fromLatin1(field);
        if (!format.contains(twice + twice.left(1)))
            format.replace(twice, twice.left(1));
    }
    return format;
}

QList<DateForms::DateFormat> dateFormats(const QLocale &locale) {
    QList<DateForms::DateFormat> formats;
    for (const QString &f :
         {fullYearShortDateFormat(locale), locale.dateFormat(QLocale::ShortFormat),
          locale.dateFormat(QLocale::LongFormat), QStringLiteral("yyyy-MM-dd")}) {
        for (const QString &variant : {f, lenient(f)}) {
            if (!variant.isEmpty() &&
                std::none_of(formats.begin(), formats.end(),
                             [&](const DateForms::DateFormat &d) { return d.format == variant; }))
                formats.append({variant, hasTwoDigitYear(variant)});
        }
    }
    return formats;
}

QStringList timeFormats(const QLocale &locale) {
    QStringList formats;
    for (const QString &f :
         {longTimeFormat(locale), locale.timeFormat(QLocale::ShortFormat),
          QStringLiteral("HH:mm:ss"), QStringLiteral("HH:mm"), QStringLiteral("HH:mm:ss.zzz")})
        formats << f << lenient(f);
    formats.removeDuplicates();
    return formats;
}

} // namespace

DateForms::DateForms(const QLocale &locale)
    : locale_(locale), longTime_(longTimeFormat(locale)),
      shortDate_(fullYearShortDateFormat(locale)) {
    for (const auto &form : dateFormats(locale))
        dates_.push_back({form.format, form.twoDigitYear});
    times_ = timeFormats(locale);
}

std::optional<QDate> DateForms::readDate(const QString &text) const {
    for (const DateFormat &d : dates_) {
        QDate date = locale_.toDate(text, d.format);
        if (date.isValid() && d.twoDigitYear)
            date = pivotTwoDigitYear(date);
        if (inRange(date))
            return date;
    }
    return std::nullopt;
}

std::optional<QTime> DateForms::readTime(const QString &text) const {
    for (const QString &format : times_) {
        const QTime time = locale_.toTime(text, format);
        if (time.isValid())
            return time;
    }
    return std::nullopt;
}

std::optional<DateTimeValue> DateForms::read(const QString &input) const {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (text.size() == kSortForm.size()) {
        const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy MM dd"));
        const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
        if (text[10] == u' ' && date.isValid() && time.isValid())
            return DateTimeValue{date, time};
    }
    // Dates and times are read apart, so that no time zone or clock change gets in the way.
    if (const auto date = readDate(text))
        return DateTimeValue{*date, QTime(0, 0)};
    if (const auto time = readTime(text))
        return DateTimeValue{dayZero(), *time};
    // A date, then a time: split at each blank (or the ISO "T") in turn.
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != u' ' && text[i] != u'T')
            continue;
        const auto date = readDate(text.left(i).trimmed());
        if (!date)
            continue;
        if (const auto time = readTime(text.mid(i + 1).trimmed()))
            return DateTimeValue{*date, *time};
    }
    return std::nullopt;
}

QString DateForms::general(const DateTimeValue &value) const {
    const QString time = locale_.toString(value.time, longTime_);
    if (value.date == dayZero())
        return time;
    const QString date = locale_.toString(value.date, shortDate_);
    if (value.time == QTime(0, 0))
        return date;
    return date + u' ' + time;
}

std::optional<DateTimeValue> readDateTime(const QString &text, const QLocale &locale) {
    return DateForms(locale).read(text);
}

QString sortableDateTime(const DateTimeValue &value) {
    return QDateTime(value.date, value.time, Qt::UTC).toString(kSortForm);
}

QString generalDate(const DateTimeValue &value, const QLocale &locale) {
    return DateForms(locale).general(value);
}

} // namespace orvantis
