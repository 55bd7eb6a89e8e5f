#include "window/reportlistmodel.h"

namespace orvantis {

ReportListModel::ReportListModel(ReportList &list, QObject *parent)
    : QAbstractTableModel(parent), list_(list), shownRows_(list.listItems().Count()) {
    list_.setChangeHandler([this](ReportList::Change change) { listChanged(change); });
}

ReportListModel::~ReportListModel() {
    list_.setChangeHandler(nullptr);
}

int ReportListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ReportListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : list_.columnCount();
}

QVariant ReportListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= list_.listItems().Count())
        return QVariant();
    if (role == Qt::DisplayRole)
        return list_.cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && toolTips_) {
        const QString tip = toolTips_(index.row(), index.column());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    return QVariant();
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= list_.columnCount())
        return QVariant();
    if (role == Qt::DisplayRole)
        return list_.columnHeaders().at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags ReportListModel::flags(const QModelIndex &index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

void ReportListModel::flush() {
    if (!pending_)
        return;
    pending_ = false;
    beginResetModel();
    shownRows_ = list_.listItems().Count();
    endResetModel();
}

void ReportListModel::listChanged(ReportList::Change change) {
    if (change == ReportList::Change::Visibility) {
        emit visibleChanged(list_.Visible());
        return;
    }
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(this, &ReportListModel::flush, Qt::QueuedConnection);
}

} // namespace orvantis
