#pragma once

#include "scan/system/systemfiles.h"

#include <QByteArray>

#include <memory>

namespace orvantis {

// An open folder, read entry by entry ("." and ".." left out); closed when it goes. The one way
// the program opens a folder to read it. Made by the system's own calls, beside the others in
// systemfiles_posix.cpp and systemfiles_windows.cpp.
class FolderEntries {
public:
    // An empty path is the current folder.
    explicit FolderEntries(const QByteArray &path);
    ~FolderEntries();
    FolderEntries(const FolderEntries &) = delete;
    FolderEntries &operator=(const FolderEntries &) = delete;

    bool isOpen() const;
    // Why the folder did not open, or why reading it stopped before its end (an errno value);
    // 0 while all is well.
    int error() const;
    // The next entry, or null at the end or on a read error (see error()).
    const FolderEntry *next();
    // Whether a listing keeps an entry as a file to read: a regular file or a link to one, or an
    // entry whose kind could not be told (the system refused to say, other than that it is gone
    // or a loop of links), so that reading it says why rather than the entry going unseen.
    bool mayBeRegularFile(const FolderEntry &entry) const;
    // The open folder's descriptor, owned by this object; -1 when it is not open.
    int descriptor() const;

private:
    struct State; // the system's own handles
    std::unique_ptr<State> state_;
};

} // namespace orvantis
