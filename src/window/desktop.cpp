#include "window/desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QDir>
#include <QProcess>
#else
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#endif

namespace orvantis {

QString SystemDesktop::chooseSaveFile(QWidget *parent, const QString &filters, QString *filter) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), QString(), filters,
                                        filter);
}

bool SystemDesktop::openFile(const QString &path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

#ifdef Q_OS_WIN
// Explorer, with the file selected; the folder opens when Explorer cannot be started.
void SystemDesktop::showInFolder(const QString &path) {
    if (!QProcess::startDetached(QStringLiteral("explorer.exe"),
                                 {QStringLiteral("/select,") + QDir::toNativeSeparators(path)}))
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
#else
void SystemDesktop::showInFolder(const QString &path) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    // Asked without waiting; when no file manager answers, the folder opens instead.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher *answered) {
                         if (answered->isError())
                             QDesktopServices::openUrl(folder);
                         answered->deleteLater();
                     });
}
#endif

} // namespace orvantis
