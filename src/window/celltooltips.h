#pragma once

#include <QObject>

class QTreeView;

namespace orvantis {

// Tooltips for the cells of a list view: a cell shows its own tooltip, or, where it has none
// and its text does not fit its column, the whole text. It goes with the view's viewport.
class CellToolTips : public QObject {
public:
    explicit CellToolTips(QTreeView &view);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeView &view_;
};

} // namespace orvantis
