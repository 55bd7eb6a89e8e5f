#pragma once

#include "platform/messagebox.h"

#include <utility>
#include <vector>

namespace orvantis {

// Keeps the messages shown on a thread that may show none, to be shown later, in order, by the
// thread that may.
class DeferredMessageBox : public MessageBox {
public:
    struct Message {
        QString text;
        MessageBoxStyle style;
        QString title;
        QString details;
    };
    void show(const QString &text, MessageBoxStyle style, const QString &title) override {
        messages_.push_back({text, style, title, {}});
    }
    void showWithDetails(const QString &text, MessageBoxStyle style, const QString &title,
                         const QString &details) override {
        messages_.push_back({text, style, title, details});
    }
    // The kept messages, in order; they are forgotten here.
    std::vector<Message> take() { return std::exchange(messages_, {}); }

    // Shows messages in `box`, in order.
    static void replay(const std::vector<Message> &messages, MessageBox &box) {
        for (const Message &m : messages) {
            if (m.details.isEmpty())
                box.show(m.text, m.style, m.title);
            else
                box.showWithDetails(m.text, m.style, m.title, m.details);
        }
    }

private:
    std::vector<Message> messages_;
};

} // namespace orvantis
