#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure messages for Qt's text types.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *os) {
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *os << (i ? ", \"" : "\"") << texts[i].toStdString() << '"';
    *os << '}';
}
QT_END_NAMESPACE
