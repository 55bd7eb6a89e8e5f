// The folder watch on Windows: ReadDirectoryChangesW on the accounts folder and on the folder
// holding it, overlapped, each completion seen through a QWinEventNotifier on the thread that
// made the watch.
#include "scan/live/folderwatch.h"

#include "scan/accounts/accountnames.h"
#include "scan/system/filenames.h"

#include <QFileInfo>
#include <QWinEventNotifier>

#include <windows.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace orvantis {

namespace {

QString windowsErrorText(DWORD error) {
    return qt_error_string(static_cast<int>(error)).trimmed();
}

// One folder's changes, asked for again after each batch the system hands over.
class DirectoryChanges {
public:
    // A batch of changes: the entries' names, or none with `lost` when the system's buffer
    // overflowed and changes were lost; `gone` when the folder can no longer be watched.
    using Changed = std::function<void(const std::vector<QString> &names, bool lost, bool gone)>;

    ~DirectoryChanges() { stop(); }

    // 0 once watching, else Windows' error.
    DWORD start(const QString &path, DWORD filter, QObject *parent, Changed changed) {
        stop();
        filter_ = filter;
        changed_ = std::move(changed);
        folder_ = ::CreateFileW(path.toStdWString().c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                nullptr);
        if (folder_ == INVALID_HANDLE_VALUE)
            return ::GetLastError();
        event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!event_) {
            const DWORD error = ::GetLastError();
            stop();
            return error;
        }
        buffer_.assign(16 * 1024, 0); // 64 KiB, the most a network share takes
        if (const DWORD error = ask()) {
            stop();
            return error;
        }
        notifier_ = new QWinEventNotifier(event_, parent);
        QObject::connect(notifier_, &QWinEventNotifier::activated, notifier_,
                         [this] { completed(); });
        return 0;
    }

    void stop() {
        if (notifier_) {
            notifier_->setEnabled(false);
            notifier_->deleteLater();
            notifier_ = nullptr;
        }
        if (folder_ != INVALID_HANDLE_VALUE) {
            if (asking_) { // the buffer stays the system's until the request has ended
                ::CancelIoEx(folder_, &overlapped_);
                DWORD ignored = 0;
                ::GetOverlappedResult(folder_, &overlapped_, &ignored, TRUE);
                asking_ = false;
            }
            ::CloseHandle(folder_);
            folder_ = INVALID_HANDLE_VALUE;
        }
        if (event_) {
            ::CloseHandle(event_);
            event_ = nullptr;
        }
    }

private:
    DWORD ask() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
        ::ResetEvent(event_);
        if (!::ReadDirectoryChangesW(folder_, buffer_.data(),
                                     static_cast<DWORD>(buffer_.size() * sizeof(DWORD)), FALSE,
                                     filter_, nullptr, &overlapped_, nullptr))
            return ::GetLastError();
        asking_ = true;
        return 0;
    }

    void completed() {
        DWORD length = 0;
        const bool done = ::GetOverlappedResult(folder_, &overlapped_, &length, FALSE);
        asking_ = false;
        const Changed changed = changed_; // the call may watch anew, replacing changed_
        if (!done) {
            changed({}, false, true);
            return;
        }
        std::vector<QString> names;
        const auto *bytes = reinterpret_cast<const char *>(buffer_.data());
        for (DWORD at = 0; length > 0;) {
            const auto *entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION *>(bytes + at);
            names.push_back(
                QString::fromWCharArray(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
        // Asked again before the batch is handed on, so that nothing is missed meanwhile; the
        // batch may stop this watch, which then asks nothing more.
        const bool gone = ask() != 0;
        changed(names, length == 0, gone);
    }

    HANDLE folder_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED overlapped_{};
    bool asking_ = false;
    DWORD filter_ = 0;
    std::vector<DWORD> buffer_; // FILE_NOTIFY_INFORMATION wants DWORD alignment
    QWinEventNotifier *notifier_ = nullptr;
    Changed changed_;
};

constexpr DWORD kFolderChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                                 FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kParentChanges = FILE_NOTIFY_CHANGE_DIR_NAME;

class DirectoryChangesWatch : public FolderWatch {
public:
    explicit DirectoryChangesWatch(QObject *parent) : parent_(parent) {}
    ~DirectoryChangesWatch() override { stop(); }

    WatchProblems watch(const QString &accountsPath, Deliver deliver) override {
        stop();
        deliver_ = std::move(deliver);
        const DWORD folderError = folder_.start(
            accountsPath, kFolderChanges, parent_,
            [this](const std::vector<QString> &names, bool lost, bool gone) {
                std::vector<FolderEvent> events;
                if (lost)
                    events.push_back({FolderEvent::EventsLost, {}});
                for (const QString &name : names)
                    events.push_back({FolderEvent::EntryChanged, encodeFileName(name)});
                if (gone)
                    events.push_back({FolderEvent::FolderReplaced, {}});
                const Deliver handOver = deliver_;
                handOver(std::move(events));
            });
        const QString parent = QFileInfo(accountsPath).absolutePath();
        const DWORD parentError = parentFolder_.start(
            parent, kParentChanges, parent_,
            [this](const std::vector<QString> &names, bool lost, bool) {
                bool replaced = lost;
                for (const QString &name : names)
                    replaced =
                        replaced || isAccountsNameIgnoringCase(encodeFileName(name).toStdString());
                if (replaced) {
                    const Deliver handOver = deliver_;
                    handOver({{FolderEvent::FolderReplaced, {}}});
                }
            });
        // A folder that is not there now is watched for once it comes back, by its parent.
        const bool missing =
            folderError == ERROR_FILE_NOT_FOUND || folderError == ERROR_PATH_NOT_FOUND;
        const DWORD error = folderError == 0 ? 0 : !missing ? folderError : parentError;
        if (error != 0) {
            stop();
            const bool nowhere = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            return {watchFailure(accountsPath, nowhere ? ENOENT : 0, windowsErrorText(error)),
                    std::nullopt};
        }
        WatchProblems problems;
        if (parentError != 0)
            problems.above = ScanFailure{
                ScanFailure::WatchUnavailable, parent, 0,
                QStringLiteral("cannot watch %1 for changes: %2; a replaced accounts folder will "
                               "not be noticed")
                    .arg(parent, windowsErrorText(parentError))};
        return problems;
    }

    // ReadDirectoryChangesW watches folders only: a file's other names are not followed here.
    std::optional<ScanFailure> watchFile(const QByteArray &rawName) override {
        return ScanFailure{ScanFailure::WatchUnavailable, decodeFileName(rawName), 0,
                           QStringLiteral("files with other names are not watched on Windows")};
    }
    void unwatchFile(const QByteArray &) override {}

    void stop() override {
        folder_.stop();
        parentFolder_.stop();
    }

private:
    QObject *parent_;
    Deliver deliver_;
    DirectoryChanges folder_;
    DirectoryChanges parentFolder_;
};

} // namespace

std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *parent, AddWatchCall) {
    return std::make_unique<DirectoryChangesWatch>(parent);
}

} // namespace orvantis
