#include "window/viewkeeper.h"

#include "scan/accounts/accountcells.h"

#include <QItemSelection>
#include <QScrollBar>
#include <QTreeView>

namespace orvantis {

int64_t ViewKeeper::placeAt(int row) const {
    return row >= 0 && row < model_.rowCount() ? int64_t{model_.place(row)} : int64_t{-1};
}

void ViewKeeper::makeRowCurrent(int row) {
    const QModelIndex index = model_.index(row, 0);
    view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    view_.scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void ViewKeeper::rememberBeforeReplacing() {
    const QModelIndex current = view_.currentIndex();
    currentLogin_ = current.isValid() && current.row() < model_.rowCount()
                        ? model_.cellText(current.row(), kLoginColumn)
                        : QString();
}

void ViewKeeper::restoreAfterReplacing() {
    if (currentLogin_.isEmpty())
        return;
    const AccountRecords &records = model_.records();
    for (int row = 0; row < model_.rowCount(); ++row)
        if (records.login(static_cast<size_t>(row)) == currentLogin_) {
            makeRowCurrent(row);
            return;
        }
}

void ViewKeeper::rememberBeforeChanging() {
    atTop_ = view_.verticalScrollBar()->value() == 0;
    topPlace_ = placeAt(view_.indexAt(QPoint(0, 0)).row());
    currentPlace_ = placeAt(view_.currentIndex().row());
    selected_.clear();
    for (const QModelIndex &index : view_.selectionModel()->selectedRows())
        selected_.push_back(model_.place(index.row()));
}

void ViewKeeper::restoreAfterChanging(bool reset) {
    const LiveRanking &ranking = model_.ranking();
    const auto rowOf = [&](int64_t place) {
        const auto row = place >= 0 ? ranking.rowOf(static_cast<uint32_t>(place)) : std::nullopt;
        return row ? static_cast<int>(*row) : -1;
    };
    if (reset) { // the selection and the current row went with the reset
        QItemSelection selection;
        for (uint32_t place : selected_)
            if (const int row = rowOf(place); row >= 0)
                selection.select(model_.index(row, 0), model_.index(row, model_.columnCount() - 1));
        if (const int row = rowOf(currentPlace_); row >= 0)
            view_.selectionModel()->setCurrentIndex(model_.index(row, 0),
                                                    QItemSelectionModel::NoUpdate);
        view_.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (atTop_)
        view_.scrollToTop();
    else if (const int row = rowOf(topPlace_); row >= 0)
        view_.scrollTo(model_.index(row, 0), QAbstractItemView::PositionAtTop);
}

} // namespace orvantis
