#pragma once

#include <QLocale>
#include <QString>

namespace orvantis {

// Reads a cell as a number in the given locale: an optional sign, digits with the locale's
// decimal separator, an optional exponent; no digit grouping. Throws a type-mismatch Failure
// for anything else.
double ReadNumber(const QString &text, const QLocale &locale);

// The general number form: the shortest text that reads back to the same value, in the given
// locale, without digit grouping. Zero is "0", never "-0".
QString GeneralNumber(double value, const QLocale &locale);

// The number of digits in the whole part of |value| written out in full.
int WholeDigitCount(double value);

// A text whose character order is the numeric order among all values given the same width
// (at least WholeDigitCount of each). Non-negative values are their whole digits padded with
// zeros to the width, then the fraction. Negative values start with "-" (which sorts before
// every digit), then the nines' complement of the padded digits and of the fraction, closed by
// "~" (which sorts after every digit), so a larger magnitude sorts first.
QString SortableNumber(double value, int width);

// The value of a text made by SortableNumber.
double ReadSortableNumber(const QString &text);

} // namespace orvantis
