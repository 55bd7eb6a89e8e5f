#pragma once

#include "platform/messagebox.h"

class QWidget;

namespace orvantis {

// A modal QMessageBox: an OK button, the critical-stop icon for the critical style and the
// warning icon for the exclamation style; details behind "Show Details…", selectable.
class WidgetMessageBox : public MessageBox {
public:
    void setParentWidget(QWidget *parent) { parent_ = parent; }
    void show(const QString &text, MessageBoxStyle style, const QString &title) override;
    void showWithDetails(const QString &text, MessageBoxStyle style, const QString &title,
                         const QString &details) override;
    void showInformed(const QString &text, const QString &informativeText, MessageBoxStyle style,
                      const QString &title) override;

private:
    QWidget *parent_ = nullptr;
};

} // namespace orvantis
