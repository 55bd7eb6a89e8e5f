#pragma once

#include "scan/system/folderentries.h"
#include "scan/system/scanfailure.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvantis {

// The order of a listing: by name without regard to ASCII letter case (then by the names as
// they are), or as the folder stores its entries, which is quicker to have.
enum class ListingOrder { ByName, AsStored };

// What the path of a listing turned out to be. Only a folder is listed; the rest list nothing.
enum class FolderState {
    Listed,        // a folder, or a link to one
    Missing,       // nothing of that name (any more)
    NotAFolder,    // a plain file, a device, …
    LinkToNowhere, // a link whose target does not exist, or a loop of links
};

// The regular files of a folder, found with its name matched without regard to letter case.
// Names are kept as stored on disk, in one block, and decoded only when asked for.
class FolderListing {
public:
    FolderListing();
    FolderListing(FolderListing &&other) noexcept;
    FolderListing &operator=(FolderListing &&other) noexcept;
    FolderListing(const FolderListing &) = delete;
    FolderListing &operator=(const FolderListing &) = delete;
    ~FolderListing();

    FolderState state() const { return state_; }
    // Why the folder could not be opened or read to its end; it then lists nothing.
    const std::optional<ScanFailure> &failure() const { return failure_; }
    // The path as looked at, without its trailing "/".
    const QString &path() const { return path_; }
    // Where the path leads, when it is a link to nowhere.
    const QString &linkTarget() const { return linkTarget_; }
    // The folder as found on disk, ending in "/"; empty when there is none.
    const QString &folder() const { return folder_; }
    size_t size() const { return entries_.size(); }
    // The i-th file's name, decoded.
    QString name(size_t i) const;
    // The i-th file's name as stored on disk; a NUL follows it.
    std::string_view rawName(size_t i) const;
    // The folder that was read, open, so that its files open relative to it without walking
    // the path again; -1 when there is none. It is the folder as listed, even if another has
    // since taken its name.
    int folderDescriptor() const;
    // Lets go of the open folder; the names and the folder's identity stay.
    void closeFolder() { open_.reset(); }
    // Which folder was read, to tell it from another that takes its path later.
    const EntryIdentity &folderIdentity() const { return identity_; }
    // The i-th file's full path as stored on disk, written into `path` to reuse its memory.
    void path(size_t i, QByteArray &path) const;
    // The indices of the files in name order (as ListingOrder::ByName has them). Only reads
    // the listing, so other threads may read it meanwhile.
    std::vector<size_t> nameOrder() const;

private:
    friend FolderListing listRegularFiles(const QString &folder, ListingOrder order);
    void add(const char *name, size_t length);
    void sortByName();
    void fail(int error, const QString &shownPath);
    struct Entry {
        uint32_t offset;
        uint32_t length;
    };
    FolderState state_ = FolderState::Missing;
    std::optional<ScanFailure> failure_;
    QString path_;
    QString linkTarget_;
    QString folder_;
    QByteArray folderBytes_;
    EntryIdentity identity_;
    std::string names_; // every raw name, one after another, each followed by a NUL
    std::vector<Entry> entries_;
    std::unique_ptr<FolderEntries> open_; // kept open: its files are opened relative to it
};

// The regular files directly in a folder (a link to a regular file counts, a folder never). A
// missing folder, or a path that is no folder, lists nothing and says so in its state. A folder
// that cannot be opened or read to its end lists nothing and gives the failure with the reason.
FolderListing listRegularFiles(const QString &folder, ListingOrder order = ListingOrder::ByName);

// The names of the files in a folder, at indices 0 to n - 1; with no files (or no folder), one
// element holding the empty text. A folder that cannot be read lists nothing either.
QStringList ListFolderFiles(QString folder);

} // namespace orvantis
