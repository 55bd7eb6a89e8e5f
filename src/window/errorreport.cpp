#include "window/errorreport.h"

#include "platform/failure.h"

namespace orvantis {

void reportUnhandledError(MessageBox &messages, const QString &what, int32_t number) {
    messages.show(
        QStringLiteral("Orvantis met an error it cannot recover from and will close.\n\n%1")
            .arg(number != 0 ? QStringLiteral("%1 (%2)").arg(what, QString::number(number)) : what),
        kCritical, kApplicationTitle);
}

void reportUnhandledError(MessageBox &messages, const std::exception &error) {
    const auto *failure = dynamic_cast<const Failure *>(&error);
    reportUnhandledError(messages, describeError(error), failure ? failure->number() : 0);
}

GuardedApplication::GuardedApplication(int &argc, char **argv, MessageBox &messages)
    : QApplication(argc, argv), messages_(messages) {}

bool GuardedApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        if (!failed_) { // one report, even if closing raises more
            failed_ = true;
            reportUnhandledError(messages_, error);
            exit(kExitUnhandledError);
        }
        return true;
    }
}

} // namespace orvantis
