#pragma once

#include <QString>

namespace orvantis {

// Style values of a message box: the buttons plus the icon.
enum MessageBoxStyle : int {
    kOkOnly = 0,
    kCritical = 16,
};

// Shows a modal message and returns once the user has dismissed it. The window hands in a
// real dialog, the console tool a line on stderr, the tests a recorder.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // An empty title means the application title, "Orvantis".
    virtual void show(const QString &text, MessageBoxStyle style, const QString &title) = 0;
};

inline const QString kApplicationTitle = QStringLiteral("Orvantis");

} // namespace orvantis
