#pragma once

#include "window/accountsmodel.h"

#include <QString>

#include <cstdint>
#include <vector>

class QTreeView;

namespace orvantis {

// Keeps what the user sees of the levels list while its rows change under it, by account: the
// current row when a whole read replaces the rows, and the current row, the selection and the
// rows in view when files changed are applied in place.
class ViewKeeper {
public:
    ViewKeeper(QTreeView &view, AccountsModel &model) : view_(view), model_(model) {}

    // Before a whole read replaces the rows, and after: the account that was current (by its
    // login) is current again if it is still there.
    void rememberBeforeReplacing();
    void restoreAfterReplacing();
    // Before changes are applied in place, and after, `reset` when they took a reset of the
    // model. Each step keeps the selection and the current row; after a reset they are put back
    // by account. The rows shown stay: the first row in view is first again, unless the list
    // was at its top, which a leaderboard keeps in view.
    void rememberBeforeChanging();
    void restoreAfterChanging(bool reset);

    // Makes the row current and selected, in the middle of the view.
    void makeRowCurrent(int row);

private:
    int64_t placeAt(int row) const;

    QTreeView &view_;
    AccountsModel &model_;
    QString currentLogin_;
    bool atTop_ = false;
    int64_t topPlace_ = -1, currentPlace_ = -1; // -1 for none
    std::vector<uint32_t> selected_;
};

} // namespace orvantis
