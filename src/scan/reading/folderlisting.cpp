#include "scan/reading/folderlisting.h"

#include "platform/asciitext.h"
#include "platform/failure.h"
#include "scan/system/filenames.h"
#include "scan/system/pathignoringcase.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace orvantis {

QString FolderListing::name(size_t i) const {
    const std::string_view raw = rawName(i);
    return decodeFileName(QByteArray::fromRawData(raw.data(), static_cast<qsizetype>(raw.size())));
}

std::string_view FolderListing::rawName(size_t i) const {
    return std::string_view(names_).substr(entries_[i].offset, entries_[i].length);
}

void FolderListing::path(size_t i, QByteArray &path) const {
    const std::string_view raw = rawName(i);
    path.resize(folderBytes_.size() + static_cast<qsizetype>(raw.size()));
    std::memcpy(path.data(), folderBytes_.constData(), static_cast<size_t>(folderBytes_.size()));
    std::memcpy(path.data() + folderBytes_.size(), raw.data(), raw.size());
}

FolderListing::FolderListing() = default;
FolderListing::FolderListing(FolderListing &&other) noexcept = default;
FolderListing &FolderListing::operator=(FolderListing &&other) noexcept = default;
FolderListing::~FolderListing() = default;

int FolderListing::folderDescriptor() const {
    return open_ ? open_->descriptor() : -1;
}

void FolderListing::add(const char *name, size_t length) {
    entries_.push_back({static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(length)});
    names_.append(name, length);
    names_ += '\0';
}

// By the names with ASCII letters folded, then by the names as they are, so that the order is
// the same on every run, also for names that differ only in letter case. Each name's first 16
// folded bytes are compared as two numbers first: a million names are mostly told apart by them
// without their texts being looked at again.
std::vector<size_t> FolderListing::nameOrder() const {
    const std::string_view names(names_);
    const auto nameOf = [&](uint32_t i) {
        return names.substr(entries_[i].offset, entries_[i].length);
    };
    // The first bytes of a name, folded, as a number that orders like them.
    const auto keyOf = [](std::string_view name, size_t from) {
        uint64_t key = 0;
        for (size_t b = from; b < from + 8; ++b)
            key =
                key << 8 | (b < name.size() ? static_cast<unsigned char>(foldAscii(name[b])) : 0u);
        return key;
    };
    struct Keyed {
        uint64_t high, low; // the first 16 folded bytes
        uint32_t index;
    };
    std::vector<Keyed> keyed(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        const std::string_view name = nameOf(static_cast<uint32_t>(i));
        keyed[i] = {keyOf(name, 0), keyOf(name, 8), static_cast<uint32_t>(i)};
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed &x, const Keyed &y) {
        if (x.high != y.high)
            return x.high < y.high;
        if (x.low != y.low)
            return x.low < y.low;
        return comesBeforeInNameOrder(nameOf(x.index), nameOf(y.index));
    });
    std::vector<size_t> order(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].index;
    return order;
}

void FolderListing::sortByName() {
    std::vector<Entry> sorted;
    sorted.reserve(entries_.size());
    for (size_t i : nameOrder())
        sorted.push_back(entries_[i]);
    entries_.swap(sorted);
}

void FolderListing::fail(int error, const QString &shownPath) {
    failure_ = systemScanFailure(ScanFailure::FolderUnreadable, error, path_,
                                 QStringLiteral("Cannot read the folder ") + shownPath);
    names_.clear();
    entries_.clear();
}

namespace {

// What kind of entry a path names, looked at before it is opened; nothing, with `error` set,
// when the system would not tell.
std::optional<FolderState> stateOf(const QByteArray &path, int &error) {
    EntryKind kind{};
    error = kindOfPath(path, kind);
    if (error == 0)
        return kind == EntryKind::Folder ? FolderState::Listed : FolderState::NotAFolder;
    if (error == ELOOP)
        return FolderState::LinkToNowhere;
    if (error != ENOENT && error != ENOTDIR)
        return std::nullopt;
    return isLink(path) ? FolderState::LinkToNowhere : FolderState::Missing;
}

} // namespace

FolderListing listRegularFiles(const QString &folder, ListingOrder order) {
    FolderListing listing;
    const QString resolved = resolvePathIgnoringCase(folder);
    listing.path_ = resolved.endsWith(u'/') && resolved.size() > 1 ? resolved.chopped(1) : resolved;
    const QByteArray path = encodeFileName(listing.path_);
    int error = 0;
    const std::optional<FolderState> state = stateOf(path, error);
    if (!state) {
        listing.fail(error, resolved);
        return listing;
    }
    listing.state_ = *state;
    if (listing.state_ == FolderState::LinkToNowhere)
        listing.linkTarget_ = linkTargetOf(path);
    if (listing.state_ != FolderState::Listed)
        return listing;
    auto entries = std::make_unique<FolderEntries>(path);
    if (!entries->isOpen()) {
        if (entries->error() == ENOENT || entries->error() == ENOTDIR) // gone since the look
            listing.state_ = FolderState::Missing;
        else
            listing.fail(entries->error(), resolved);
        return listing;
    }
    if (const int identityError = identityOfOpenFile(entries->descriptor(), listing.identity_)) {
        listing.fail(identityError, resolved);
        return listing;
    }
    listing.folder_ = resolved.endsWith(u'/') ? resolved : resolved + u'/';
    listing.folderBytes_ = encodeFileName(listing.folder_);
    while (const FolderEntry *entry = entries->next())
        if (entries->mayBeRegularFile(*entry))
            listing.add(entry->name, entry->length);
    if (entries->error() != 0) { // a listing cut short is no listing
        listing.fail(entries->error(), resolved);
        return listing;
    }
    listing.open_ = std::move(entries);
    if (order == ListingOrder::ByName)
        listing.sortByName();
    return listing;
}

QStringList ListFolderFiles(QString folder) {
    const FolderListing listing = listRegularFiles(folder);
    if (const auto &failure = listing.failure()) // as the system's own folder service raises it
        throw Failure(failure->number, failure->text);
    QStringList names;
    for (size_t i = 0; i < listing.size(); ++i)
        names << listing.name(i);
    if (names.isEmpty())
        names << QString();
    return names;
}

} // namespace orvantis
