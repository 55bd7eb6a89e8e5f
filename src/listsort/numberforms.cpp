#include "listsort/numberforms.h"

#include "platform/decimaltext.h"
#include "platform/failure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orvantis {

namespace {

QLocale withoutGrouping(const QLocale &locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return plain;
}

// |value| in fixed notation, shortest round-trip digits, split at the decimal point.
void splitFixed(double value, QString &whole, QString &fraction) {
    const QString fixed = QString::number(std::fabs(value), 'f', QLocale::FloatingPointShortest);
    const qsizetype point = fixed.indexOf(QLatin1Char('.'));
    whole = point < 0 ? fixed : fixed.left(point);
    fraction = point < 0 ? QString() : fixed.mid(point + 1);
}

// Integral values of up to 15 digits are written and read without going through the general
// conversions, which matters when a list of 100,000 levels is sorted.
constexpr double kPlainIntegerLimit = 1e15;

bool isPlainInteger(double value) {
    return std::fabs(value) < kPlainIntegerLimit && value == std::trunc(value);
}

// "-?[0-9]{1,15}" read exactly; false for any other text.
bool readPlainInteger(QStringView text, double &value) {
    const bool negative = text.startsWith(u'-');
    const QStringView digits = negative ? text.mid(1) : text;
    if (digits.isEmpty() || digits.size() > 15)
        return false;
    int64_t n = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        n = n * 10 + (c.unicode() - u'0');
    }
    value = negative ? -static_cast<double>(n) : static_cast<double>(n);
    return true;
}

QString ninesComplement(const QString &digits) {
    QString out(digits.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < digits.size(); ++i)
        out[i] = QChar(u'9' - (digits[i].unicode() - u'0'));
    return out;
}

// Writes the characters into `out`, reusing its memory when it has room.
void assign(QString &out, const char16_t *text, qsizetype length) {
    out.resize(length);
    std::copy(text, text + length, reinterpret_cast<char16_t *>(out.data()));
}

// The sortable form of a value given as its sign, its whole digits and its fraction digits,
// written into `out` (reusing its memory): the whole digits padded with zeros to `width`, then
// "." and the fraction when there is one; for a negative value "-", the nines' complement of
// all those digits, and "~".
void writeSortable(bool negative, QStringView whole, QStringView fraction, int width,
                   QString &out) {
    const qsizetype pad = std::max<qsizetype>(0, width - whole.size());
    out.resize((negative ? 2 : 0) + pad + whole.size() +
               (fraction.isEmpty() ? 0 : 1 + fraction.size()));
    char16_t *at = reinterpret_cast<char16_t *>(out.data());
    const auto put = [&at, negative](char16_t digit) {
        *at++ = negative ? char16_t(u'9' - (digit - u'0')) : digit;
    };
    if (negative)
        *at++ = u'-';
    for (qsizetype i = 0; i < pad; ++i)
        put(u'0');
    for (QChar digit : whole)
        put(digit.unicode());
    if (!fraction.isEmpty()) {
        *at++ = u'.';
        for (QChar digit : fraction)
            put(digit.unicode());
    }
    if (negative)
        *at++ = u'~';
}

} // namespace

NumberFormat::NumberFormat(const QLocale &locale)
    : locale_(withoutGrouping(locale)), ascii_(withoutGrouping(QLocale::c())),
      decimalPoint_(locale.decimalPoint()) {}

double readNumber(const QString &text, const QLocale &locale) {
    return NumberFormat(locale).read(text);
}

QString generalNumber(double value, const QLocale &locale) {
    return NumberFormat(locale).general(value);
}

double NumberFormat::read(const QString &text) const {
    double value = 0;
    if (readPlainInteger(text, value))
        return value;
    bool ok = false;
    value = locale_.toDouble(text, &ok);
    if (!ok) // the general form, which not every locale's own reading takes (sv_SE's exponent)
        value = readGeneralForm(text, ok);
    if (!ok || !std::isfinite(value))
        throw Failure(kTypeMismatch,
                      QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text));
    return value;
}

double NumberFormat::readGeneralForm(const QString &text, bool &ok) const {
    ok = false;
    if (decimalPoint_ != QLatin1String(".") && text.contains(u'.'))
        return 0; // a point that is no decimal separator here
    QString ascii = text;
    ascii.replace(decimalPoint_, QLatin1String("."));
    return ascii_.toDouble(ascii, &ok);
}

void NumberFormat::general(double value, QString &out) const {
    if (value != 0 && isPlainInteger(value)) {
        char16_t text[kDecimalRoom];
        assign(out, text, writeDecimal(static_cast<int64_t>(value), text));
        return;
    }
    out = general(value);
}

QString NumberFormat::general(double value) const {
    if (value == 0)
        return QStringLiteral("0");
    if (isPlainInteger(value))
        return QString::number(static_cast<int64_t>(value));
    // Plain decimals for everyday magnitudes, an exponent only for the very large and small.
    const double magnitude = std::fabs(value);
    const char format = magnitude >= 1e-5 && magnitude < kPlainIntegerLimit ? 'f' : 'e';
    QString text = ascii_.toString(value, format, QLocale::FloatingPointShortest);
    text.replace(u'.', decimalPoint_);
    return text;
}

int wholeDigitCount(double value) {
    if (isPlainInteger(value)) {
        int digits = 1;
        for (int64_t n = static_cast<int64_t>(std::fabs(value)); n >= 10; n /= 10)
            ++digits;
        return digits;
    }
    QString whole, fraction;
    splitFixed(value, whole, fraction);
    return static_cast<int>(whole.size());
}

QString sortableNumber(double value, int width) {
    QString text;
    sortableNumber(value, width, text);
    return text;
}

void sortableNumber(double value, int width, QString &out) {
    if (isPlainInteger(value)) { // the digits without going through text conversions
        char16_t digits[kDecimalRoom];
        const int length = writeDecimal(static_cast<int64_t>(std::fabs(value)), digits);
        writeSortable(value < 0, QStringView(digits, length), QStringView(), width, out);
        return;
    }
    QString whole, fraction;
    splitFixed(value, whole, fraction);
    writeSortable(value < 0, whole, fraction, width, out); // -0 counts as zero
}

double readSortableNumber(const QString &text) {
    double integer = 0;
    if (readPlainInteger(text, integer))
        return integer;
    if (text.startsWith(u'-') && text.endsWith(u'~') &&
        readPlainInteger(QStringView(text).mid(1, text.size() - 2), integer)) {
        // The nines' complement of a d-digit number c is 10^d - 1 - c.
        double power = 1;
        for (qsizetype d = 0; d < text.size() - 2; ++d)
            power *= 10;
        return -(power - 1 - integer);
    }
    if (!text.startsWith(u'-'))
        return QLocale::c().toDouble(text);
    const QString body = text.mid(1, text.size() - 2); // between "-" and "~"
    const qsizetype point = body.indexOf(u'.');
    QString plain = u'-' + ninesComplement(point < 0 ? body : body.left(point));
    if (point >= 0)
        plain += u'.' + ninesComplement(body.mid(point + 1));
    return QLocale::c().toDouble(plain);
}

} // namespace orvantis
