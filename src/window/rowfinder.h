#pragma once

#include "window/accountsmodel.h"

#include <QString>

#include <vector>

namespace orvantis {

// Finds the rows whose login, or the name of any character of whose account, holds a text,
// letter case ignored. The rows are
// looked through a slice at a time, so that a million of them never hold the window up: find()
// starts over, step() looks through the next slice, and the matches found so far are usable at
// once, in row order.
class RowFinder {
public:
    explicit RowFinder(const AccountsModel &accounts) : accounts_(accounts) {}

    // Starts looking for `text` (nothing is found for the empty text).
    void find(const QString &text);
    // Looks through up to `rows` more rows; whether all have been looked through.
    bool step(int rows);
    bool done() const { return next_ >= accounts_.rowCount(); }

    const QString &text() const { return text_; }
    const std::vector<int> &matches() const { return matches_; }
    // The first match at or after `row`, going round to the first; -1 when none is known yet.
    int matchFrom(int row) const;
    // The match after / before `row`, going round; -1 when none is known yet.
    int nextMatch(int row) const;
    int previousMatch(int row) const;
    // The place (from 1) of the match at `row` among all matches, or 0.
    int placeOf(int row) const;

private:
    bool matches(int row) const;

    const AccountsModel &accounts_;
    QString text_;
    std::vector<int> matches_;
    int next_ = 0;
};

} // namespace orvantis
