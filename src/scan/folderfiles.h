#pragma once

#include <QString>
#include <QStringList>

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvantis {

// An open folder, read entry by entry ("." and ".." left out); closed when it goes. The one way
// the program opens a folder.
class FolderEntries {
public:
    // An empty path is the current folder.
    explicit FolderEntries(const QByteArray &path);
    ~FolderEntries();
    FolderEntries(const FolderEntries &) = delete;
    FolderEntries &operator=(const FolderEntries &) = delete;

    bool isOpen() const { return dir_ != nullptr; }
    // Why the folder did not open (an errno value).
    int error() const { return error_; }
    // The next entry, or null at the end.
    const dirent *next();
    // Whether an entry is a regular file or a link to one.
    bool isRegularFile(const dirent &entry) const;
    // A descriptor of the open folder of its own (closed by its owner), or -1.
    int duplicateDescriptor() const;

private:
    DIR *dir_;
    int error_;
};

// The path with each part that does not exist as written replaced by an entry of the same
// name in other letter case, when there is one; names are matched without regard to letter
// case. A part that exists as written is kept. Returns the path unchanged when nothing matches.
QString resolvePathIgnoringCase(const QString &path);

// The order of a listing: by name without regard to ASCII letter case (then by the names as
// they are), or as the folder stores its entries, which is quicker to have.
enum class ListingOrder { ByName, AsStored };

// The regular files of a folder, found with its name matched without regard to letter case.
// Names are kept as stored on disk, in one block, and decoded only when asked for.
class FolderListing {
public:
    FolderListing() = default;
    FolderListing(FolderListing &&other) noexcept;
    FolderListing &operator=(FolderListing &&other) noexcept;
    FolderListing(const FolderListing &) = delete;
    FolderListing &operator=(const FolderListing &) = delete;
    ~FolderListing();

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
    int folderDescriptor() const { return folderFd_; }
    // The i-th file's full path as stored on disk, written into `path` to reuse its memory.
    void path(size_t i, QByteArray &path) const;
    // The indices of the files in name order (as ListingOrder::ByName has them). Only reads
    // the listing, so other threads may read it meanwhile.
    std::vector<size_t> nameOrder() const;

private:
    friend FolderListing listRegularFiles(const QString &folder, ListingOrder order);
    void add(const char *name, size_t length);
    void sortByName();
    struct Entry {
        uint32_t offset;
        uint32_t length;
    };
    QString folder_;
    QByteArray folderBytes_;
    std::string names_; // every raw name, one after another, each followed by a NUL
    std::vector<Entry> entries_;
    int folderFd_ = -1;
};

// The regular files directly in a folder (a link to a regular file counts, a folder never). A
// missing folder, or a path that is no folder, lists nothing. A folder that cannot be read
// raises a Failure.
FolderListing listRegularFiles(const QString &folder, ListingOrder order = ListingOrder::ByName);

// The names of the files in a folder, at indices 0 to n - 1; with no files (or no folder), one
// element holding the empty text.
QStringList ListFolderFiles(QString folder);

} // namespace orvantis
