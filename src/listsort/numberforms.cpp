#include "listsort/numberforms.h"

#include "platform/failure.h"

#include <cmath>

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

QString ninesComplement(const QString &digits) {
    QString out(digits.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < digits.size(); ++i)
        out[i] = QChar(u'9' - (digits[i].unicode() - u'0'));
    return out;
}

} // namespace

double ReadNumber(const QString &text, const QLocale &locale) {
    bool ok = false;
    const double value = withoutGrouping(locale).toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        throw Failure(kTypeMismatch, QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text));
    return value;
}

QString GeneralNumber(double value, const QLocale &locale) {
    if (value == 0)
        return QStringLiteral("0");
    return withoutGrouping(locale).toString(value, 'g', QLocale::FloatingPointShortest);
}

int WholeDigitCount(double value) {
    QString whole, fraction;
    splitFixed(value, whole, fraction);
    return static_cast<int>(whole.size());
}

QString SortableNumber(double value, int width) {
    QString whole, fraction;
    splitFixed(value, whole, fraction);
    const QString padded = QString(qMax<qsizetype>(0, width - whole.size()), u'0') + whole;
    if (!(value < 0)) // zero and -0 alike
        return fraction.isEmpty() ? padded : padded + u'.' + fraction;
    QString text = u'-' + ninesComplement(padded);
    if (!fraction.isEmpty())
        text += u'.' + ninesComplement(fraction);
    return text + u'~';
}

double ReadSortableNumber(const QString &text) {
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
