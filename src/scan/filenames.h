#pragma once

#include <QByteArray>
#include <QString>

namespace orvantis {

// File names on disk are bytes, usually UTF-8. A name is decoded as UTF-8 with every byte that
// is not part of valid UTF-8 kept as a lone surrogate U+DC80..U+DCFF, so that encoding the text
// again gives back exactly the bytes on disk, and any file opens by its name, whatever its script.
QString decodeFileName(const QByteArray &bytes);
QByteArray encodeFileName(const QString &name);

} // namespace orvantis
