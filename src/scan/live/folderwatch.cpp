#include "scan/live/folderwatch.h"

#include "platform/failure.h"
#include "scan/accounts/accountnames.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

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

class InotifyWatch : public FolderWatch {
public:
    explicit InotifyWatch(QObject *parent) : parent_(parent) {}
    ~InotifyWatch() override { stop(); }

    std::optional<ScanFailure> watch(const QString &accountsPath, Deliver deliver) override {
        stop();
        deliver_ = std::move(deliver);
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0)
            return watchFailure(accountsPath, errno, systemErrorText(errno));
        const QByteArray path = QFile::encodeName(accountsPath);
        const QByteArray parentPath = QFile::encodeName(QFileInfo(accountsPath).absolutePath());
        struct statfs info {};
        if (::statfs(path.constData(), &info) == 0 && reportsNoChanges(info.f_type)) {
            stop();
            return ScanFailure{ScanFailure::WatchUnavailable, accountsPath, 0,
                               QStringLiteral("changes are not reported on the accounts folder's "
                                              "file system (a network or FUSE file system)")};
        }
        folder_ = ::inotify_add_watch(fd_, path.constData(), kFolderEvents);
        const int folderError = folder_ < 0 ? errno : 0;
        parentWatch_ = ::inotify_add_watch(fd_, parentPath.constData(), kParentEvents);
        const int parentError = parentWatch_ < 0 ? errno : 0;
        // A folder that is not there now is watched for once it comes back, by its parent; a
        // parent that cannot be watched leaves only the folder's own move or removal seen.
        const int error = folder_ >= 0            ? 0
                          : folderError != ENOENT ? folderError
                          : parentWatch_ < 0      ? parentError
                                                  : 0;
        if (error != 0) {
            stop();
            return watchFailure(accountsPath, error,
                                systemErrorText(error) +
                                    (error == ENOSPC
                                         ? QStringLiteral(" (the system's limit of watches)")
                                         : QString()));
        }
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, parent_);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_,
                         [this] { readEvents(); });
        return std::nullopt;
    }

    // Safe from within the notifier's own signal, where the controller may watch anew.
    void stop() override {
        if (notifier_) {
            notifier_->setEnabled(false);
            notifier_->deleteLater();
            notifier_ = nullptr;
        }
        if (fd_ >= 0)
            ::close(fd_); // the watches go with it
        fd_ = folder_ = parentWatch_ = -1;
    }

private:
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
        }
    }

    QObject *parent_;
    Deliver deliver_;
    int fd_ = -1, folder_ = -1, parentWatch_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace

std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *parent) {
    return std::make_unique<InotifyWatch>(parent);
}

} // namespace orvantis
