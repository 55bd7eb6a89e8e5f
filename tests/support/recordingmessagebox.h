#pragma once

#include "platform/messagebox.h"

#include <QString>
#include <vector>

// Remembers what would have been shown, and returns at once.
class RecordingMessageBox : public orvantis::MessageBox {
public:
    struct Shown {
        QString text;
        orvantis::MessageBoxStyle style;
        QString title;
        QString details;
        QString informative;
    };
    void show(const QString &text, orvantis::MessageBoxStyle style, const QString &title) override {
        shown.push_back({text, style, title, {}, {}});
    }
    void showWithDetails(const QString &text, orvantis::MessageBoxStyle style, const QString &title,
                         const QString &details) override {
        shown.push_back({text, style, title, details, {}});
    }
    void showInformed(const QString &text, const QString &informativeText,
                      orvantis::MessageBoxStyle style, const QString &title) override {
        shown.push_back({text, style, title, {}, informativeText});
    }
    std::vector<Shown> shown;
};
