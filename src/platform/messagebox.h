#pragma once

#include <QString>

namespace orvantis {

// Style values of a message box: the buttons plus the icon.
enum MessageBoxStyle : int {
    kOkOnly = 0,
    kCritical = 16,
    kExclamation = 48,
};

// Shows a modal message and returns once the user has dismissed it. The window hands in a
// real dialog, the console tool a line on stderr, the tests a recorder.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // An empty title means the application title, "Orvantis".
    virtual void show(const QString &text, MessageBoxStyle style, const QString &title) = 0;
    // The same with details that the user may open, read in full and copy; where a box cannot
    // hide them, they follow the text.
    virtual void showWithDetails(const QString &text, MessageBoxStyle style, const QString &title,
                                 const QString &details) {
        show(details.isEmpty() ? text : text + QStringLiteral("\n\n") + details, style, title);
    }
    // The same with a second, smaller text below the main one, saying more; where a box cannot
    // set it apart, it follows the text.
    virtual void showInformed(const QString &text, const QString &informativeText,
                              MessageBoxStyle style, const QString &title) {
        show(text + QStringLiteral("\n\n") + informativeText, style, title);
    }
};

inline const QString kApplicationTitle = QStringLiteral("Orvantis");

} // namespace orvantis
