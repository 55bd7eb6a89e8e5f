#pragma once

#include "scan/system/scanfailure.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace orvantis {

// What watching the accounts folder reports: an entry of it that changed (written and closed,
// made, removed, renamed in or out, its permissions changed), events lost because the system's
// queue of them overflowed, or the folder itself gone or replaced.
struct FolderEvent {
    enum Kind { EntryChanged, EventsLost, FolderReplaced };
    Kind kind = EntryChanged;
    QByteArray name; // the entry's name as stored, for EntryChanged
};

// Watches an accounts folder for changes and hands what it sees, a few events at a time, to the
// function given, on the thread that made it. The system's watch (inotify on Linux,
// ReadDirectoryChangesW on Windows) unless a test hands in its own.
class FolderWatch {
public:
    using Deliver = std::function<void(std::vector<FolderEvent>)>;
    virtual ~FolderWatch() = default;
    // Watches the folder at `accountsPath`, and the folder holding it for another taking its
    // place. Gives why it cannot, nothing when it watches. Watching again replaces the watch.
    virtual std::optional<ScanFailure> watch(const QString &accountsPath, Deliver deliver) = 0;
    virtual void stop() = 0;
};

// The system's watch; its notifier is a child of `parent`.
std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *parent);

// Why a folder's changes cannot be watched, in words that start "cannot watch for changes".
inline ScanFailure watchFailure(const QString &path, int error, const QString &reason) {
    return {ScanFailure::WatchUnavailable, path, error,
            QStringLiteral("cannot watch for changes: ") + reason};
}

} // namespace orvantis
