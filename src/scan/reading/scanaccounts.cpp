#include "scan/reading/scanaccounts.h"

#include "scan/accounts/accountnames.h"
#include "scan/reading/folderlisting.h"
#include "scan/system/systemfiles.h"

#include <algorithm>

namespace orvantis {

namespace {

// The places of the account files at `positions` that are symbolic links, or regular files with
// more than one name: a write through another name reaches no watch of this folder.
std::vector<uint32_t> linkedFiles(const FolderListing &listing,
                                  const std::vector<size_t> &positions) {
    std::vector<uint32_t> linked;
    for (size_t i : positions) {
        EntryLinks links;
        if (linksInFolder(listing.folderDescriptor(), listing.rawName(i).data(), links) == 0 &&
            (links.symbolic || links.names > 1))
            linked.push_back(static_cast<uint32_t>(i));
    }
    return linked;
}

// The files' places in name order and their outcomes, and the report's account files without a
// login and left out, in name order.
void putInNameOrder(const FolderListing &listing, const std::vector<size_t> &nameOrder,
                    const std::vector<AccountOutcome> &outcomes, ScanParts &parts) {
    parts.nameRank.resize(listing.size());
    parts.nameOrder.resize(listing.size());
    parts.outcomes.resize(listing.size());
    for (size_t rank = 0; rank < nameOrder.size(); ++rank) {
        const size_t i = nameOrder[rank];
        parts.nameRank[i] = static_cast<uint32_t>(rank);
        parts.nameOrder[rank] = static_cast<uint32_t>(i);
        parts.outcomes[i] = outcomes[i].kind;
        const AccountOutcome &outcome = outcomes[i];
        if (outcome.kind == FileOutcome::NoLogin)
            ++parts.report.withoutLogin;
        else if (outcome.kind == FileOutcome::OutOfRange || outcome.kind == FileOutcome::Unreadable)
            parts.report.skipped.push_back(
                skippedFile(listing.name(i), outcome.kind, outcome.error));
    }
}

// The records of every reader thread put together in `records`; the texts they point into.
std::shared_ptr<TextBlocks> gatherRecords(std::vector<ThreadRecords> &made,
                                          std::vector<AccountRecord> &records) {
    size_t count = 0;
    for (const ThreadRecords &thread : made)
        count += thread.records.size();
    records.reserve(count);
    auto texts = std::make_shared<TextBlocks>();
    texts->reserve(made.size());
    for (ThreadRecords &thread : made) {
        records.insert(records.end(), thread.records.begin(), thread.records.end());
        std::vector<AccountRecord>().swap(thread.records);
        texts->push_back(std::move(thread.text));
    }
    return texts;
}

} // namespace

ScanParts scanFolder(const QString &programFolder, const ScanSettings &settings) {
    ScanProgress ownProgress;
    ScanProgress &progress = settings.progress ? *settings.progress : ownProgress;
    // Listed once, as the folder stores it, so that reading starts at once; every account file
    // is then read once, through the folder as found on disk. The name order, which decides
    // between accounts of the same level, is worked out while the files are read.
    FolderListing listing =
        listRegularFiles(accountsFolderOf(programFolder) + u'/', ListingOrder::AsStored);
    ScanParts parts;
    ScanReport &report = parts.report;
    if (listing.failure()) {
        report.failure = listing.failure();
        return parts;
    }
    report.accounts = listing.state();
    report.accountsPath = listing.path();
    report.accountsLinkTarget = listing.linkTarget();
    std::vector<size_t> positions;
    for (size_t i = 0; i < listing.size(); ++i)
        if (isAccountFileRawName(listing.rawName(i)))
            positions.push_back(i);
    report.accountFiles = positions.size();
    progress.filesFound = positions.size();
    std::vector<size_t> nameOrder;
    auto characters = std::make_shared<AccountCharacters>(listing.size());
    // The name order, and which files are linked, are worked out while the files are read.
    AccountFilesRead read = readAccountFiles(
        listing, positions, settings, progress,
        [&] {
            nameOrder = listing.nameOrder();
            if (settings.findLinkedFiles)
                parts.linkedPlaces = linkedFiles(listing, positions);
        },
        *characters);
    report.readThroughRing = read.readThroughRing;
    if (read.failure || read.stopped) {
        report.failure = std::move(read.failure);
        report.stopped = read.stopped;
        return parts;
    }
    // What stays to do after the last file: the report in name order, and the records and
    // texts of every thread put together.
    putInNameOrder(listing, nameOrder, read.outcomes, parts);
    std::shared_ptr<TextBlocks> texts = gatherRecords(read.made, parts.records);
    characters->setBlocks(texts);
    parts.texts = std::move(texts);
    listing.closeFolder(); // not held: a disk may be unmounted while it is followed
    report.listing = std::make_shared<const FolderListing>(std::move(listing));
    parts.characters = std::move(characters);
    return parts;
}

ScanResult scanAccounts(const QString &programFolder, const ScanSettings &settings) {
    ScanParts parts = scanFolder(programFolder, settings);
    // Every record's key is its own, so any sort gives that order.
    const std::vector<uint32_t> &rank = parts.nameRank;
    std::sort(parts.records.begin(), parts.records.end(),
              [&rank](const AccountRecord &a, const AccountRecord &b) {
                  return ranksBefore(a, b,
                                     [&rank](uint32_t x, uint32_t y) { return rank[x] < rank[y]; });
              });
    ScanResult result;
    result.records =
        std::make_shared<AccountRecords>(std::move(parts.records), std::move(parts.texts));
    result.report = std::move(parts.report);
    result.characters = std::move(parts.characters);
    result.nameOrder = std::move(parts.nameOrder);
    result.outcomes = std::move(parts.outcomes);
    result.linkedPlaces = std::move(parts.linkedPlaces);
    return result;
}

} // namespace orvantis
