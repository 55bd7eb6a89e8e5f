#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountfile.h"
#include "scan/accounts/accountrecords.h"
#include "scan/reading/accountreading.h"
#include "scan/reading/scanreport.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orvantis {

// What a scan of the accounts folder read, before its records are put in an order: the records
// and their texts, their characters, the report, and the place of each listed file in name
// order. When the report says the scan failed or was stopped, it holds nothing else.
struct ScanParts {
    ScanReport report;
    std::vector<AccountRecord> records;
    std::shared_ptr<const TextBlocks> texts;
    std::shared_ptr<AccountCharacters> characters;
    std::vector<uint32_t> nameRank;     // by listing place
    std::vector<uint32_t> nameOrder;    // the listing places in name order
    std::vector<FileOutcome> outcomes;  // by listing place
    std::vector<uint32_t> linkedPlaces; // account files that are links or have other names
};

// Reads every account file in the accounts folder of the program folder, several at once: one
// record per account with a login, made by the thread that read its file; the report says the
// rest, its left-out files in name order. A file whose levels do not fit 32 bits, and a file
// that exists and cannot be read, is left out and named in the report; an accounts entry that
// is no folder gives no records, and the report says what it is. What is read and reported is
// that of reading the files one after another in name order. A folder that cannot be read, or
// a file that cannot be opened even alone for want of descriptors or memory, fails the scan:
// the report says why.
ScanParts scanFolder(const QString &programFolder, const ScanSettings &settings = {});

// What a scan gives: one record per account with a login, ranked highest level first, and what
// else it read.
struct ScanResult {
    std::shared_ptr<AccountRecords> records;
    // Every record's characters, by its place in the listing.
    std::shared_ptr<AccountCharacters> characters;
    ScanReport report;
    // What following the folder's changes starts from: the listing's places in name order, and
    // what each listed file came to.
    std::vector<uint32_t> nameOrder;
    std::vector<FileOutcome> outcomes;
    // The places of the account files that are links or have other names, when asked for.
    std::vector<uint32_t> linkedPlaces;
};

// The records of scanFolder, ranked: highest level first, and of the same level in name order.
ScanResult scanAccounts(const QString &programFolder, const ScanSettings &settings = {});

} // namespace orvantis
