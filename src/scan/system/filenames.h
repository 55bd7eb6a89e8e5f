#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace orvantis {

// File names on disk are bytes, usually UTF-8. A name is decoded as UTF-8 with every byte that
// is not part of valid UTF-8 kept as a lone surrogate U+DC80..U+DCFF, so that encoding the text
// again gives back exactly the bytes on disk, and any file opens by its name, whatever its script.
QString decodeFileName(const QByteArray &bytes);
QByteArray encodeFileName(const QString &name);

// Whether the name `a` comes before `b` in name order, both as stored on disk: by their bytes
// with ASCII letter case ignored, a shorter name before a longer one it begins, and then by the
// bytes as they are. Only the same name is neither before nor after itself.
bool comesBeforeInNameOrder(std::string_view a, std::string_view b);

} // namespace orvantis
