#include "scan/live/liveranking.h"

#include "scan/accounts/highestlevel.h"
#include "scan/system/filenames.h"

#include <QSet>

#include <algorithm>

namespace orvantis {

namespace {

bool isLeftOut(FileOutcome outcome) {
    return outcome == FileOutcome::OutOfRange || outcome == FileOutcome::Unreadable;
}

std::string_view viewOf(const QByteArray &bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

} // namespace

LiveRanking::LiveRanking()
    : records_(std::make_shared<AccountRecords>()),
      characters_(std::make_shared<AccountCharacters>()) {}

LiveRanking::LiveRanking(ScanResult scan)
    : records_(scan.records ? std::move(scan.records) : std::make_shared<AccountRecords>()),
      characters_(scan.characters ? std::move(scan.characters)
                                  : std::make_shared<AccountCharacters>()),
      report_(std::move(scan.report)), nameOrder_(std::move(scan.nameOrder)),
      outcomes_(std::move(scan.outcomes)) {
    // The report lists the files left out in name order: so are their places.
    for (uint32_t place : nameOrder_)
        if (isLeftOut(outcomes_[place]))
            skippedPlaces_.push_back(place);
}

std::string_view LiveRanking::rawName(uint32_t place) const {
    const size_t listed = report_.listing ? report_.listing->size() : 0;
    return place < listed ? report_.listing->rawName(place) : viewOf(added_[place - listed]);
}

QString LiveRanking::accountFileOf(uint32_t place) const {
    if (!report_.listing || report_.listing->folder().isEmpty() || place >= outcomes_.size())
        return QString();
    if (place < report_.listing->size())
        return report_.accountFileOf(place);
    return report_.listing->folder() + decodeFileName(added_[place - report_.listing->size()]);
}

std::optional<uint32_t> LiveRanking::knownPlaceOf(const QByteArray &name) const {
    const std::string_view wanted = viewOf(name);
    const auto found = std::lower_bound(nameOrder_.begin(), nameOrder_.end(), wanted,
                                        [this](uint32_t place, std::string_view n) {
                                            return comesBeforeInNameOrder(rawName(place), n);
                                        });
    if (found != nameOrder_.end() && rawName(*found) == wanted)
        return *found;
    if (const auto added = addedPlaces_.constFind(name); added != addedPlaces_.cend())
        return *added;
    return std::nullopt;
}

bool LiveRanking::concerns(const ChangedFile &change) const {
    return change.file.outcome != FileOutcome::NotListed || knownPlaceOf(change.rawName);
}

uint32_t LiveRanking::placeOf(const QByteArray &name) {
    if (const std::optional<uint32_t> known = knownPlaceOf(name))
        return *known;
    const auto place = static_cast<uint32_t>(outcomes_.size());
    added_.push_back(name);
    addedPlaces_.insert(name, place);
    outcomes_.push_back(FileOutcome::NotListed);
    characters_->growTo(outcomes_.size());
    return place;
}

bool LiveRanking::ranksBefore(const AccountRecord &a, const AccountRecord &b) const {
    return orvantis::ranksBefore(a, b, [this](uint32_t x, uint32_t y) {
        return comesBeforeInNameOrder(rawName(x), rawName(y));
    });
}

// The first row whose record does not rank before `record`: its own, when it is there.
size_t LiveRanking::rowFor(const AccountRecord &record) const {
    size_t low = 0, high = records_->size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (ranksBefore((*records_)[middle], record))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

std::optional<size_t> LiveRanking::rowOf(uint32_t place) const {
    if (place >= outcomes_.size() || outcomes_[place] != FileOutcome::Row)
        return std::nullopt;
    const HighestLevel highest = findHighestLevel(
        characters_->level(place, 1), characters_->level(place, 2), characters_->level(place, 3));
    AccountRecord probe{};
    probe.place = place;
    probe.level = highest.level;
    const size_t row = rowFor(probe);
    if (row < records_->size() && (*records_)[row].place == place)
        return row;
    return std::nullopt;
}

bool LiveRanking::account(uint32_t place, const AccountFile &file) {
    const FileOutcome before = outcomes_[place];
    const auto skippedAt = [&] {
        return static_cast<size_t>(
            std::lower_bound(skippedPlaces_.begin(), skippedPlaces_.end(), place,
                             [this](uint32_t a, uint32_t b) {
                                 return comesBeforeInNameOrder(rawName(a), rawName(b));
                             }) -
            skippedPlaces_.begin());
    };
    if (before != FileOutcome::NotListed)
        --report_.accountFiles;
    if (before == FileOutcome::NoLogin)
        --report_.withoutLogin;
    if (isLeftOut(before)) {
        const size_t at = skippedAt();
        skippedPlaces_.erase(skippedPlaces_.begin() + static_cast<ptrdiff_t>(at));
        report_.skipped.erase(report_.skipped.begin() + static_cast<ptrdiff_t>(at));
    }
    const FileOutcome now = file.outcome;
    if (now != FileOutcome::NotListed)
        ++report_.accountFiles;
    if (now == FileOutcome::NoLogin)
        ++report_.withoutLogin;
    if (isLeftOut(now)) {
        const size_t at = skippedAt();
        const std::string_view name = rawName(place);
        const QString shown =
            decodeFileName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        skippedPlaces_.insert(skippedPlaces_.begin() + static_cast<ptrdiff_t>(at), place);
        report_.skipped.insert(report_.skipped.begin() + static_cast<ptrdiff_t>(at),
                               skippedFile(shown, now, file.error));
    }
    if (now == FileOutcome::Row)
        characters_->keep(place, file.levels, file.names);
    else
        characters_->forget(place);
    outcomes_[place] = now;
    return before == FileOutcome::Row;
}

AccountRecord LiveRanking::recordOf(uint32_t place, const AccountFile &file) {
    return records_->make(place, file.level, file.slot, file.login, file.name);
}

void LiveRanking::applyStep(uint32_t place, const AccountFile &file, RankingSteps &steps) {
    const std::optional<size_t> before = rowOf(place);
    account(place, file);
    if (file.outcome != FileOutcome::Row) {
        if (before) {
            steps.placeTouched(place);
            steps.beginRemove(*before);
            records_->erase(*before);
            steps.endRemove();
        }
        return;
    }
    const AccountRecord record = recordOf(place, file);
    size_t to = rowFor(record);
    steps.placeTouched(place);
    if (!before) {
        steps.beginInsert(to);
        records_->insert(to, record);
        steps.endInsert();
        return;
    }
    if (to > *before)
        --to; // counted with the record's old row still above
    if (to != *before) {
        steps.beginMove(*before, to);
        records_->replace(*before, record);
        records_->move(*before, to);
        steps.endMove();
    } else {
        records_->replace(to, record);
    }
    steps.rowChanged(to);
}

void LiveRanking::applyAtOnce(const std::vector<ChangedFile> &changes) {
    std::vector<bool> replaced(outcomes_.size() + changes.size());
    std::vector<AccountRecord> made;
    for (const ChangedFile &change : changes) {
        const uint32_t place = placeOf(change.rawName);
        if (account(place, change.file))
            replaced[place] = true;
        if (change.file.outcome == FileOutcome::Row)
            made.push_back(recordOf(place, change.file));
    }
    std::vector<AccountRecord> kept = records_->takeAll();
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const AccountRecord &r) { return replaced[r.place]; }),
               kept.end());
    const auto before = [this](const AccountRecord &a, const AccountRecord &b) {
        return ranksBefore(a, b);
    };
    std::sort(made.begin(), made.end(), before);
    std::vector<AccountRecord> merged;
    merged.reserve(kept.size() + made.size());
    std::merge(kept.begin(), kept.end(), made.begin(), made.end(), std::back_inserter(merged),
               before);
    records_->setAll(std::move(merged));
}

// Records and characters handed out are never changed again: the ranking goes on with copies.
// Only this thread hands them out, so a count of one cannot become two meanwhile.
void LiveRanking::detachShared() {
    if (records_.use_count() > 1)
        records_ = std::make_shared<AccountRecords>(*records_);
    if (characters_.use_count() > 1)
        characters_ = std::make_shared<AccountCharacters>(*characters_);
}

bool LiveRanking::apply(std::vector<ChangedFile> changes, RankingSteps &steps) {
    detachShared();
    // The last reading of each name is the one that counts.
    QSet<QByteArray> seen;
    std::vector<ChangedFile> last;
    for (auto change = changes.rbegin(); change != changes.rend(); ++change)
        if (!seen.contains(change->rawName)) {
            seen.insert(change->rawName);
            last.push_back(std::move(*change));
        }
    std::reverse(last.begin(), last.end());
    last.erase(std::remove_if(last.begin(), last.end(),
                              [this](const ChangedFile &change) { return !concerns(change); }),
               last.end());
    if (last.size() > kStepsUpTo) {
        steps.beginReset();
        applyAtOnce(last);
        steps.endReset();
        return true;
    }
    for (const ChangedFile &change : last)
        applyStep(placeOf(change.rawName), change.file, steps);
    return false;
}

} // namespace orvantis
