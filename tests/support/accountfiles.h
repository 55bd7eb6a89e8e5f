#pragma once

#include <QByteArray>

#include <initializer_list>

// The text of an account file: section GENERAL with the login, then one section per level given,
// CHAR1 to CHAR3, holding that level and a name ("One", "Two", "Three"); `extra` is added at
// the end as it stands.
inline QByteArray accountFile(const QByteArray &login, std::initializer_list<QByteArray> levels,
                              const QByteArray &extra = {}) {
    static const char *const names[] = {"One", "Two", "Three"};
    QByteArray text = "[GENERAL]\nLogin=" + login + "\n";
    int slot = 0;
    for (const QByteArray &level : levels) {
        text += "[CHAR" + QByteArray::number(slot + 1) + "]\nName=" + names[slot] +
                "\nLevel=" + level + "\n";
        ++slot;
    }
    return text + extra;
}

// An account file with one character, CHAR1 "One", at a level.
inline QByteArray accountFile(const QByteArray &login, int level) {
    return accountFile(login, {QByteArray::number(level)});
}
