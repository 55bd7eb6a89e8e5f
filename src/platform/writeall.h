#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace orvantis {

// Writes every byte of `data` to the descriptor: on after a short write or a signal, and, where
// the descriptor is non-blocking (a pipe its reader set so), waiting until it takes more rather
// than giving up. Returns 0 once all is written, or the errno that stopped it.
int writeAll(int fd, const char *data, size_t size);

// How replacing a file went: why it failed (the old file is then as it was and nothing is left
// beside it), or the empty text; and, once it was replaced, why the old file's owner and group
// could not be given to the new one (it is then the program's own), or the empty text.
struct FileReplacement {
    QString failure;
    QString ownerNotKept;
};

// Puts `bytes` in the file at `path` whole or not at all: written beside it, given the old
// file's mode, owner and group where the program may, synced to the disk, and only then renamed
// into its place, as `install -p` and editors that save by renaming do.
FileReplacement replaceFile(const QString &path, const QByteArray &bytes);

} // namespace orvantis
