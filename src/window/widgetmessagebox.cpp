#include "window/widgetmessagebox.h"

#include <QMessageBox>

namespace orvantis {

namespace {

QMessageBox::Icon iconOf(MessageBoxStyle style) {
    switch (style & 0x70) {
    case kCritical:
        return QMessageBox::Critical;
    case kExclamation:
        return QMessageBox::Warning;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void WidgetMessageBox::show(const QString &text, MessageBoxStyle style, const QString &title) {
    showWithDetails(text, style, title, QString());
}

void WidgetMessageBox::showWithDetails(const QString &text, MessageBoxStyle style,
                                       const QString &title, const QString &details) {
    QMessageBox box(iconOf(style), title.isEmpty() ? kApplicationTitle : title, text,
                    QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details);
    box.exec();
}

void WidgetMessageBox::showInformed(const QString &text, const QString &informativeText,
                                    MessageBoxStyle style, const QString &title) {
    QMessageBox box(iconOf(style), title.isEmpty() ? kApplicationTitle : title, text,
                    QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informativeText);
    box.exec();
}

} // namespace orvantis
