#pragma once

#include "scan/system/scanfailure.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace orvantis {

// What watching the accounts folder reports: an entry of it that changed (written and closed,
// made, removed, renamed in or out, its permissions changed, or a file it links to written
// through another name), events lost because the system's queue of them overflowed, or the
// folder itself gone or replaced.
struct FolderEvent {
    enum Kind { EntryChanged, EventsLost, FolderReplaced };
    Kind kind = EntryChanged;
    QByteArray name; // the entry's name as stored, for EntryChanged
};

// What could not be watched: the accounts folder (its changes are then not followed at all), or
// only the folder above it, whose failure names what that costs.
struct WatchProblems {
    std::optional<ScanFailure> folder;
    std::optional<ScanFailure> above;
};

// Watches an accounts folder for changes and hands what it sees, a few events at a time, to the
// function given, on the thread that made it. The system's watch (inotify on Linux,
// ReadDirectoryChangesW on Windows) unless a test hands in its own.
class FolderWatch {
public:
    using Deliver = std::function<void(std::vector<FolderEvent>)>;
    virtual ~FolderWatch() = default;
    // Watches the folder at `accountsPath`, and the folder holding it for another taking its
    // place; says what it could not watch. Watching again replaces the watch, files and all.
    virtual WatchProblems watch(const QString &accountsPath, Deliver deliver) = 0;
    // Watches the file an account file's name leads to itself (the file a link reaches, or a
    // file with other names), so that a write through any name is told as a change of `rawName`.
    // Gives why it cannot. Watching a name again follows where it leads now.
    virtual std::optional<ScanFailure> watchFile(const QByteArray &rawName) = 0;
    virtual void unwatchFile(const QByteArray &rawName) = 0;
    virtual void stop() = 0;
};

// How the system's watch asks for the watch of one path (inotify_add_watch on Linux): a test's
// stand-in fails it as the system would, its limit of watches reached.
using AddWatchCall = std::function<int(int fd, const char *path, uint32_t mask)>;

// The system's watch; its notifier is a child of `parent`.
std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *parent, AddWatchCall addWatch = {});

// Why a folder's changes cannot be watched: "cannot watch for changes: " and the reason.
inline ScanFailure watchFailure(const QString &path, int error, const QString &reason) {
    return {ScanFailure::WatchUnavailable, path, error,
            QStringLiteral("cannot watch for changes: ") + reason};
}

} // namespace orvantis
