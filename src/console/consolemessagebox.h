#pragma once

#include "platform/messagebox.h"

#include <cstdio>

namespace orvantis {

// Messages of a program without a window: one line on stderr, "title: text".
class ConsoleMessageBox : public MessageBox {
public:
    void show(const QString &text, MessageBoxStyle, const QString &title) override {
        const QString line =
            (title.isEmpty() ? kApplicationTitle : title) + QStringLiteral(": ") + text + u'\n';
        std::fputs(line.toUtf8().constData(), stderr);
    }
};

} // namespace orvantis
