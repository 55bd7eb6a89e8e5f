#include "window/accountsmodel.h"

#include "scan/reportcolumns.h"

namespace orvantis {

AccountsModel::AccountsModel(QObject *parent)
    : QAbstractTableModel(parent), records_(std::make_shared<const AccountRecords>()) {}

void AccountsModel::setAccounts(std::shared_ptr<const AccountRecords> records,
                                std::shared_ptr<const AccountCharacters> characters) {
    beginResetModel();
    records_ = records ? std::move(records) : std::make_shared<const AccountRecords>();
    characters_ = std::move(characters);
    endResetModel();
}

QString AccountsModel::cellText(int row, int column) const {
    const auto r = static_cast<size_t>(row);
    switch (column) {
    case kLoginColumn:
        return records_->login(r).toString();
    case kLevelColumn:
        return AccountRecords::levelText((*records_)[r].level);
    case kSlotColumn:
        return AccountRecords::slotText((*records_)[r].slot);
    default:
        return records_->name(r).toString();
    }
}

QString AccountsModel::toolTip(int row, int column) const {
    if (!characters_)
        return {};
    if (column == kNameColumn)
        return characters_->charactersText(place(row));
    if (column == kSlotColumn)
        return characters_->tieText(place(row));
    return {};
}

int AccountsModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_->size());
}

int AccountsModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(reportColumnTitles().size());
}

QVariant AccountsModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    if (role == Qt::DisplayRole)
        return cellText(index.row(), index.column());
    if (role == Qt::ToolTipRole) {
        const QString tip = toolTip(index.row(), index.column());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    return QVariant();
}

QVariant AccountsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const QStringList titles = reportColumnTitles();
    if (orientation != Qt::Horizontal || section < 0 || section >= titles.size())
        return QVariant();
    if (role == Qt::DisplayRole)
        return titles.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags AccountsModel::flags(const QModelIndex &index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

} // namespace orvantis
