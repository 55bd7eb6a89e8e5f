#pragma once

#include "platform/messagebox.h"

class QWidget;

namespace orvantis {

// A modal QMessageBox: an OK button, and the critical-stop icon for the critical style.
class WidgetMessageBox : public MessageBox {
public:
    void setParentWidget(QWidget *parent) { parent_ = parent; }
    void show(const QString &text, MessageBoxStyle style, const QString &title) override;

private:
    QWidget *parent_ = nullptr;
};

} // namespace orvantis
