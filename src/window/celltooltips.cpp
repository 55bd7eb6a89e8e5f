#include "window/celltooltips.h"

#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <QTreeView>

namespace orvantis {

CellToolTips::CellToolTips(QTreeView &view) : QObject(view.viewport()), view_(view) {
    view_.viewport()->installEventFilter(this);
}

bool CellToolTips::eventFilter(QObject *watched, QEvent *event) {
    if (watched != view_.viewport() || event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = view_.indexAt(help->pos());
    const QRect cell = view_.visualRect(index);
    QString text = index.data(Qt::ToolTipRole).toString();
    if (text.isEmpty()) {
        text = index.data().toString();
        // The view leaves a margin on either side of a cell's text.
        const int margin = view_.style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        if (view_.fontMetrics().horizontalAdvance(text) + 2 * margin <= cell.width())
            text.clear();
    }
    if (index.isValid() && !text.isEmpty())
        QToolTip::showText(help->globalPos(), text, view_.viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}

} // namespace orvantis
