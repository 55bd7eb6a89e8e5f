#pragma once

#include "qtprinters.h"
#include "recordhelpers.h"
#include "scan/live/liveranking.h"
#include "scan/reading/changereading.h"
#include "scan/reading/scanaccounts.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

// Everything a ranking shows and reports, for comparing one kept up to date with a full scan:
// the rows in order, each row's characters and account file, the counts and the files left out.
inline QStringList rankingState(const orvantis::LiveRanking &ranking) {
    QStringList state = rowTexts(ranking.records());
    for (size_t r = 0; r < ranking.records().size(); ++r) {
        const uint32_t place = ranking.records()[r].place;
        state << QStringLiteral("row %1 characters: %2; file %3")
                     .arg(r)
                     .arg(ranking.characters().charactersText(place), ranking.accountFileOf(place));
    }
    const orvantis::ScanReport &report = ranking.report();
    state << QStringLiteral("%1 account files, %2 without a login")
                 .arg(report.accountFiles)
                 .arg(report.withoutLogin);
    for (const orvantis::SkippedFile &file : report.skipped)
        state << QStringLiteral("left out %1: %2 (%3)")
                     .arg(file.name, file.reason)
                     .arg(file.unreadable);
    return state;
}

// The ranking a full scan of the folder gives now.
inline QStringList scannedState(const QString &programFolder) {
    return rankingState(orvantis::LiveRanking(orvantis::scanAccounts(programFolder)));
}

// Steps applied to a list of places of its own, as a view's model applies them: the list must
// come out as the ranking's rows, and every begin must have its end.
class MirroredSteps : public orvantis::RankingSteps {
public:
    explicit MirroredSteps(const orvantis::LiveRanking &ranking) : ranking_(ranking) {
        for (size_t r = 0; r < ranking.records().size(); ++r)
            places_.push_back(ranking.records()[r].place);
    }
    void beginInsert(size_t row) override {
        open();
        pendingRow_ = row;
    }
    void endInsert() override {
        close();
        places_.insert(places_.begin() + static_cast<ptrdiff_t>(pendingRow_),
                       ranking_.records()[pendingRow_].place);
    }
    void beginRemove(size_t row) override {
        open();
        ASSERT_LT(row, places_.size());
        places_.erase(places_.begin() + static_cast<ptrdiff_t>(row));
    }
    void endRemove() override { close(); }
    void beginMove(size_t from, size_t to) override {
        open();
        ASSERT_LT(from, places_.size());
        ASSERT_LT(to, places_.size());
        const uint32_t moved = places_[from];
        places_.erase(places_.begin() + static_cast<ptrdiff_t>(from));
        places_.insert(places_.begin() + static_cast<ptrdiff_t>(to), moved);
        ++moves;
    }
    void endMove() override { close(); }
    void rowChanged(size_t row) override { changed.push_back(row); }
    void beginReset() override { open(); }
    void endReset() override {
        close();
        places_.clear();
        for (size_t r = 0; r < ranking_.records().size(); ++r)
            places_.push_back(ranking_.records()[r].place);
        ++resets;
    }

    // Whether the places followed the ranking's rows.
    bool matches() const {
        if (places_.size() != ranking_.records().size() || inStep_)
            return false;
        for (size_t r = 0; r < places_.size(); ++r)
            if (places_[r] != ranking_.records()[r].place)
                return false;
        return true;
    }
    int moves = 0, resets = 0;
    std::vector<size_t> changed;

private:
    void open() {
        EXPECT_FALSE(inStep_) << "a step began inside another";
        inStep_ = true;
    }
    void close() {
        EXPECT_TRUE(inStep_) << "a step ended that had not begun";
        inStep_ = false;
    }
    const orvantis::LiveRanking &ranking_;
    std::vector<uint32_t> places_;
    size_t pendingRow_ = 0;
    bool inStep_ = false;
};

// Reads the named files of the ranking's accounts folder again and applies them to the ranking,
// checking its steps; gives the steps' record.
inline void readAndApply(orvantis::LiveRanking &ranking, const QStringList &names,
                         int *moves = nullptr, int *resets = nullptr) {
    std::vector<QByteArray> raw;
    for (const QString &name : names)
        raw.push_back(name.toUtf8());
    // Read in the folder the ranking's scan listed, as the follower reads them.
    orvantis::ChangesRead read = orvantis::readChangedFiles(*ranking.report().listing, raw);
    ASSERT_FALSE(read.failure);
    MirroredSteps steps(ranking);
    ranking.apply(std::move(read.files), steps);
    EXPECT_TRUE(steps.matches()) << "the steps told are not what was done to the rows";
    if (moves)
        *moves = steps.moves;
    if (resets)
        *resets = steps.resets;
}
