#pragma once

#include "platform/messagebox.h"
#include "platform/visibletext.h"

#include <cstdio>

namespace orvantis {

// Messages of a program without a window: one line on stderr, "title: text", with any control
// character in the text escaped, so that it stays one line and sends the terminal nothing.
class ConsoleMessageBox : public MessageBox {
public:
    void show(const QString &text, MessageBoxStyle, const QString &title) override {
        const QString line = withControlsEscaped((title.isEmpty() ? kApplicationTitle : title) +
                                                 QStringLiteral(": ") + text) +
                             u'\n';
        std::fputs(line.toUtf8().constData(), stderr);
    }
};

} // namespace orvantis
