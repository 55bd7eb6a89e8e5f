#pragma once

#include <QString>
#include <QStringView>

namespace orvantis {

// Text from account files and file names, made safe to show where a terminal will print it:
// every control character (C0, DEL, C1) is written as a visible escape, so that nothing in it
// reaches a terminal as a command and a message stays on one line. C0 and DEL become \xHH, C1
// characters \u00HH, a byte of a file name that is not UTF-8 \xHH, and a backslash \\, so that
// the escaped form reads back unambiguously. Every other character is kept.
QString withControlsEscaped(QStringView text);

// Whether withControlsEscaped would change the text.
bool needsEscaping(QStringView text);

} // namespace orvantis
