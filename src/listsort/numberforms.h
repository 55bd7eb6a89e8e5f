#pragma once

#include <QLocale>
#include <QString>

namespace orvantis {

// Reads and writes numbers in one locale; made once for many cells.
class NumberFormat {
public:
    explicit NumberFormat(const QLocale &locale);
    double Read(const QString &text) const;
    QString General(double value) const;
    // The same into `out`, reusing its memory.
    void General(double value, QString &out) const;

private:
    QLocale locale_; // with digit grouping neither written nor accepted
    bool asciiDigits_;
};

// Reads a cell as a number in the given locale: an optional sign, digits with the locale's
// decimal separator, an optional exponent; no digit grouping. Throws a type-mismatch Failure
// for anything else.
double ReadNumber(const QString &text, const QLocale &locale);

// The general number form: the fewest digits that read back to the same value, in the given
// locale, without digit grouping; plain decimals from 0.00001 up to 15 whole digits, an exponent
// beyond. Zero is "0", never "-0".
QString GeneralNumber(double value, const QLocale &locale);

// The number of digits in the whole part of |value| written out in full.
int WholeDigitCount(double value);

// A text whose character order is the numeric order among all values given the same width
// (at least WholeDigitCount of each). Non-negative values are their whole digits padded with
// zeros to the width, then the fraction. Negative values start with "-" (which sorts before
// every digit), then the nines' complement of the padded digits and of the fraction, closed by
// "~" (which sorts after every digit), so a larger magnitude sorts first.
QString SortableNumber(double value, int width);
void SortableNumber(double value, int width, QString &out);

// The value of a text made by SortableNumber.
double ReadSortableNumber(const QString &text);

} // namespace orvantis
