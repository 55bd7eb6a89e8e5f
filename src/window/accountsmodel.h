#pragma once

#include "scan/accountcharacters.h"
#include "scan/accountrecords.h"

#include <QAbstractTableModel>

#include <memory>

namespace orvantis {

// The levels list as Qt's item views see it: a scan's ranked records, one row each, read as the
// view asks for a cell; a level stays a number until it is shown. A name cell's tooltip lists
// the account's characters, an "X" cell's says the level its characters share.
class AccountsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit AccountsModel(QObject *parent = nullptr);

    // Shows these accounts in place of those shown, in one reset, so that a screen reader never
    // sees a half-made list.
    void setAccounts(std::shared_ptr<const AccountRecords> records,
                     std::shared_ptr<const AccountCharacters> characters);
    const AccountRecords &records() const { return *records_; }
    const AccountCharacters *characters() const { return characters_.get(); }

    // A cell's text as shown, and what its tooltip says (empty for none).
    QString cellText(int row, int column) const;
    QString toolTip(int row, int column) const;
    // Where the row's account file is in its scan's listing.
    uint32_t place(int row) const { return (*records_)[static_cast<size_t>(row)].place; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    std::shared_ptr<const AccountRecords> records_;
    std::shared_ptr<const AccountCharacters> characters_;
};

} // namespace orvantis
