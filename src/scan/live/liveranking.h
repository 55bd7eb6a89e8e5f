#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountfile.h"
#include "scan/accounts/accountrecords.h"
#include "scan/reading/scanaccounts.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace orvantis {

// What a change does to the rows, told to whoever shows them step by step, each step between a
// begin and an end leaving a whole list. A move takes the row at `from` to `to`, the rows
// between shifting by one; a changed row keeps its place and shows new values.
class RankingSteps {
public:
    virtual ~RankingSteps() = default;
    // The place (AccountRecord::place) of the account the steps that follow are about, told
    // once before them; a reset is about every account.
    virtual void placeTouched(uint32_t /*place*/) {}
    virtual void beginInsert(size_t /*row*/) {}
    virtual void endInsert() {}
    virtual void beginRemove(size_t /*row*/) {}
    virtual void endRemove() {}
    virtual void beginMove(size_t /*from*/, size_t /*to*/) {}
    virtual void endMove() {}
    virtual void rowChanged(size_t /*row*/) {}
    // Many changes at once: the rows are made anew between the two.
    virtual void beginReset() {}
    virtual void endReset() {}
};

// The ranking of a scan, kept up to date as account files change: each changed file replaces,
// adds or removes its account's record, so that the rows, their order and the report are those
// a full scan of the folder would give now. Used on one thread.
class LiveRanking {
public:
    // No accounts: the ranking of a folder not yet read.
    LiveRanking();
    explicit LiveRanking(ScanResult scan);

    const AccountRecords &records() const { return *records_; }
    const AccountCharacters &characters() const { return *characters_; }
    // The records and characters as they are now, to be read on any thread for as long as they
    // are held: a change applied while they are held changes a copy of them instead.
    std::shared_ptr<const AccountRecords> sharedRecords() const { return records_; }
    std::shared_ptr<const AccountCharacters> sharedCharacters() const { return characters_; }
    // The counts and the files left out, as a scan of the folder now would report them.
    const ScanReport &report() const { return report_; }

    // The account file a record's place names, with its folder.
    QString accountFileOf(uint32_t place) const;
    // The row of the account at `place`, when it has one.
    std::optional<size_t> rowOf(uint32_t place) const;
    // The name of the account file at `place`, as the system gives it: the account.
    std::string_view rawName(uint32_t place) const;

    // Whether applying a file read again can change anything: a name never listed that lists
    // nothing now (no account file's, or one gone again) does not, and is given no place.
    bool concerns(const ChangedFile &change) const;

    // Applies what the files given read now, one after another, telling `steps`; a file given
    // more than once counts as read last. More than kStepsUpTo files are applied in one reset:
    // then it gives true.
    bool apply(std::vector<ChangedFile> changes, RankingSteps &steps);
    static constexpr size_t kStepsUpTo = 64;

private:
    std::optional<uint32_t> knownPlaceOf(const QByteArray &rawName) const;
    uint32_t placeOf(const QByteArray &rawName);
    void detachShared();
    bool ranksBefore(const AccountRecord &a, const AccountRecord &b) const;
    size_t rowFor(const AccountRecord &record) const;
    // Brings the outcome, the counts, the files left out and the characters of `place` to what
    // `file` gives; whether the place had a row before.
    bool account(uint32_t place, const AccountFile &file);
    void applyStep(uint32_t place, const AccountFile &file, RankingSteps &steps);
    void applyAtOnce(const std::vector<ChangedFile> &changes);
    AccountRecord recordOf(uint32_t place, const AccountFile &file);

    std::shared_ptr<AccountRecords> records_;
    std::shared_ptr<AccountCharacters> characters_;
    ScanReport report_;
    std::vector<uint32_t> nameOrder_;   // the listing's places in name order
    std::vector<FileOutcome> outcomes_; // by place: the listing's, then those of names added
    std::vector<QByteArray> added_;     // names not in the listing, at places after its own
    QHash<QByteArray, uint32_t> addedPlaces_;
    std::vector<uint32_t> skippedPlaces_; // of report_.skipped, in the same order
};

} // namespace orvantis
