#pragma once

#include "platform/exitstatus.h"
#include "platform/messagebox.h"

#include <QApplication>

#include <cstdint>
#include <exception>

namespace orvantis {

// Says in a message box titled "Orvantis" that the program met an error and will close: what
// it was, with its failure number where it has one (not 0).
void reportUnhandledError(MessageBox &messages, const QString &what, int32_t number);
void reportUnhandledError(MessageBox &messages, const std::exception &error);

// The one place where an error that escapes an event handler is caught: it is reported, and
// the program ends with kExitUnhandledError once the current event has returned.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int &argc, char **argv, MessageBox &messages);
    bool notify(QObject *receiver, QEvent *event) override;
    bool failed() const { return failed_; }

private:
    MessageBox &messages_;
    bool failed_ = false;
};

} // namespace orvantis
