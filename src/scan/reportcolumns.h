#pragma once

#include <QStringList>

namespace orvantis {

// The columns of the levels list, left to right.
inline QStringList reportColumnTitles() {
    return {QStringLiteral("Username"), QStringLiteral("Highest Level"), QStringLiteral("Char No."),
            QStringLiteral("Char Name")};
}

} // namespace orvantis
