#include "scan/live/folderwatch.h"

#include "platform/failure.h"
#include "scan/accounts/accountnames.h"
#include "scan/system/filenames.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

namespace orvantis {

namespace {

// File systems whose changes, made elsewhere, never reach inotify here: network file systems
// and FUSE.
bool reportsNoChanges(long type) {
    switch (static_cast<unsigned long>(type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x65735546UL: // FUSE
    case 0x01021997UL: // 9P
    case 0x00C36400UL: // Ceph
    case 0x5346414FUL: // AFS
        return true;
    default:
        return false;
    }
}

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR;
constexpr uint32_t kParentEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
// A file linked to: written, its links or permissions changed, or gone (a file saved by renaming
// over it), when its name leads elsewhere now.
constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

QString reasonOf(int error) {
    return systemErrorText(error) +
           (error == ENOSPC ? QStringLiteral(" (the system's limit of watches)") : QString());
}

class InotifyWatch : public FolderWatch {
public:
    InotifyWatch(QObject *parent, AddWatchCall addWatch)
        : parent_(parent),
          addWatch_(addWatch ? std::move(addWatch) : AddWatchCall(systemAddWatch)) {}
    ~InotifyWatch() override { stop(); }

    WatchProblems watch(const QString &accountsPath, Deliver deliver) override {
        stop();
        deliver_ = std::move(deliver);
        accountsPath_ = encodeFileName(accountsPath);
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0)
            return {watchFailure(accountsPath, errno, systemErrorText(errno)), std::nullopt};
        const QString parent = QFileInfo(accountsPath).absolutePath();
        struct statfs info {};
        if (::statfs(accountsPath_.constData(), &info) == 0 && reportsNoChanges(info.f_type)) {
            stop();
            return {ScanFailure{ScanFailure::WatchUnavailable, accountsPath, 0,
                                QStringLiteral("changes are not reported on the accounts "
                                               "folder's file system (a network or FUSE file "
                                               "system)")},
                    std::nullopt};
        }
        folder_ = addWatch_(fd_, accountsPath_.constData(), kFolderEvents);
        const int folderError = folder_ < 0 ? errno : 0;
        parentWatch_ = addWatch_(fd_, encodeFileName(parent).constData(), kParentEvents);
        const int parentError = parentWatch_ < 0 ? errno : 0;
        // A folder that is not there now is watched for once it comes back, by its parent.
        const int error = folder_ >= 0            ? 0
                          : folderError != ENOENT ? folderError
                          : parentWatch_ < 0      ? parentError
                                                  : 0;
        if (error != 0) {
            stop();
            return {watchFailure(accountsPath, error, reasonOf(error)), std::nullopt};
        }
        WatchProblems problems;
        if (parentError != 0) // the folder's own move or removal is still seen
            problems.above = ScanFailure{
                ScanFailure::WatchUnavailable, parent, parentError,
                QStringLiteral("cannot watch %1 for changes: %2; a replaced accounts folder will "
                               "not be noticed")
                    .arg(parent, reasonOf(parentError))};
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, parent_);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_,
                         [this] { readEvents(); });
        return problems;
    }

    std::optional<ScanFailure> watchFile(const QByteArray &rawName) override {
        if (fd_ < 0)
            return std::nullopt; // nothing followed: nothing to say
        unwatchFile(rawName);    // it may lead elsewhere now
        const QByteArray path = accountsPath_ + '/' + rawName;
        const int wd = addWatch_(fd_, path.constData(), kFileEvents);
        if (wd < 0)
            return ScanFailure{ScanFailure::WatchUnavailable, decodeFileName(path), errno,
                               reasonOf(errno)};
        fileWatches_[wd].push_back(rawName);
        watchOfFile_[rawName] = wd;
        return std::nullopt;
    }

    void unwatchFile(const QByteArray &rawName) override {
        const auto found = watchOfFile_.find(rawName);
        if (found == watchOfFile_.end())
            return;
        const int wd = found->second;
        watchOfFile_.erase(found);
        std::vector<QByteArray> &names = fileWatches_[wd];
        names.erase(std::remove(names.begin(), names.end(), rawName), names.end());
        if (names.empty()) {
            fileWatches_.erase(wd);
            ::inotify_rm_watch(fd_, wd);
        }
    }

    // Safe from within the notifier's own signal, where the follower may watch anew.
    void stop() override {
        if (notifier_) {
            notifier_->setEnabled(false);
            notifier_->deleteLater();
            notifier_ = nullptr;
        }
        if (fd_ >= 0)
            ::close(fd_); // the watches go with it
        fd_ = folder_ = parentWatch_ = -1;
        fileWatches_.clear();
        watchOfFile_.clear();
    }

private:
    static int systemAddWatch(int fd, const char *path, uint32_t mask) {
        return ::inotify_add_watch(fd, path, mask);
    }

    void readEvents() {
        alignas(inotify_event) char buffer[64 * 1024];
        std::vector<FolderEvent> events;
        for (;;) {
            const ssize_t length = ::read(fd_, buffer, sizeof buffer);
            if (length <= 0)
                break; // EAGAIN: all read
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                take(*event, events);
            }
        }
        if (!events.empty())
            deliver_(std::move(events));
    }

    void take(const inotify_event &event, std::vector<FolderEvent> &events) {
        if (event.mask & IN_Q_OVERFLOW) {
            events.push_back({FolderEvent::EventsLost, {}});
        } else if (event.wd == folder_ && event.len > 0) {
            events.push_back({FolderEvent::EntryChanged, QByteArray(event.name)});
        } else if (event.wd == folder_ &&
                   (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
            events.push_back({FolderEvent::FolderReplaced, {}});
        } else if (event.wd == parentWatch_ && event.len > 0 &&
                   isAccountsNameIgnoringCase(event.name)) {
            events.push_back({FolderEvent::FolderReplaced, {}});
        } else if (const auto file = fileWatches_.find(event.wd); file != fileWatches_.end()) {
            for (const QByteArray &name : file->second)
                events.push_back({FolderEvent::EntryChanged, name});
            if (event.mask &
                IN_IGNORED) { // the file is gone: read again, its names are watched anew
                for (const QByteArray &name : file->second)
                    watchOfFile_.erase(name);
                fileWatches_.erase(file);
            }
        }
    }

    QObject *parent_;
    AddWatchCall addWatch_;
    Deliver deliver_;
    QByteArray accountsPath_;
    int fd_ = -1, folder_ = -1, parentWatch_ = -1;
    std::map<int, std::vector<QByteArray>> fileWatches_; // the names each file watch tells of
    std::map<QByteArray, int> watchOfFile_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace

std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *parent, AddWatchCall addWatch) {
    return std::make_unique<InotifyWatch>(parent, std::move(addWatch));
}

} // namespace orvantis
