#pragma once

#include "platform/messagebox.h"

#include <QApplication>

#include <exception>

namespace orvantis {

// The exit status of a program ended by an error it could not handle.
constexpr int kUnhandledErrorExitStatus = 70;

// Says in a message box titled "Orvantis" that the program met an error and will close.
void ReportUnhandledError(MessageBox &messages, const std::exception &error);

// The one place where an error that escapes an event handler is caught: it is reported, and
// the program ends with kUnhandledErrorExitStatus once the current event has returned.
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
