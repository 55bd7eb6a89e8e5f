#include "window/widgetmessagebox.h"

#include <QMessageBox>

namespace orvantis {

void WidgetMessageBox::show(const QString &text, MessageBoxStyle style, const QString &title) {
    const QMessageBox::Icon icon =
        (style & kCritical) == kCritical ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, title.isEmpty() ? kApplicationTitle : title, text, QMessageBox::Ok,
                    parent_);
    box.exec();
}

} // namespace orvantis
