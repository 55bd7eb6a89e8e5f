#pragma once

#include <QLocale>
#include <QString>

namespace orvantis {

// Reads and writes numbers in one locale; made once for many cells.
class NumberFormat {
public:
    explicit NumberFormat(const QLocale &locale);
    double read(const QString &text) const;
    QString general(double value) const;
    // The same into `out`, reusing its memory.
    void general(double value, QString &out) const;

private:
    double readGeneralForm(const QString &text, bool &ok) const;

    QLocale locale_; // with digit grouping neither written nor accepted
    QLocale ascii_;  // the C locale, likewise
    QString decimalPoint_;
};

// Reads a cell as a number in the given locale: an optional sign, digits with the locale's
// decimal separator, an optional exponent; no digit grouping. The locale's own digits and signs
// are read, and so are the ASCII ones of the general form. Throws a type-mismatch Failure for
// anything else.
double readNumber(const QString &text, const QLocale &locale);

// The general number form: the fewest digits that read back to the same value, without digit
// grouping; plain decimals from 0.00001 up to 15 whole digits, an exponent ("e+20") beyond.
// Digits and signs are always ASCII, whatever the locale's own script, so that a level reads the
// same for every user and every script; only the decimal separator is the locale's. Zero is "0",
// never "-0".
QString generalNumber(double value, const QLocale &locale);

// The number of digits in the whole part of |value| written out in full.
int wholeDigitCount(double value);

// A text whose character order is the numeric order among all values given the same width
// (at least wholeDigitCount of each). Non-negative values are their whole digits padded with
// zeros to the width, then the fraction. Negative values start with "-" (which sorts before
// every digit), then the nines' complement of the padded digits and of the fraction, closed by
// "~" (which sorts after every digit), so a larger magnitude sorts first.
QString sortableNumber(double value, int width);
void sortableNumber(double value, int width, QString &out);

// The value of a text made by sortableNumber.
double readSortableNumber(const QString &text);

} // namespace orvantis
