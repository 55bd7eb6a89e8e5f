#pragma once

#include <QByteArray>
#include <QStringView>

namespace orvantis {

// Text from account files, file names and requests, made safe for the place it lands: one
// function per place. Each gives UTF-8.

// HTML text between tags: &, <, > as character references; everything else as it is, so that a
// name shows as the window shows it.
QByteArray htmlText(QStringView text);

// An HTML attribute value in double quotes: &, <, >, " and ' as character references.
QByteArray htmlAttribute(QStringView text);

// A JSON string, quotes included: " and \ escaped, every control character, U+2028, U+2029,
// and <, >, & as \uXXXX, so that the text is one line, ends no script and opens no tag
// wherever the JSON is put.
QByteArray jsonString(QStringView text);

} // namespace orvantis
