#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"
#include "scan/live/liveranking.h"

#include <QAbstractTableModel>

#include <memory>

namespace orvantis {

// The levels list as Qt's item views see it: a ranking's records, one row each, read as the
// view asks for a cell; a level stays a number until it is shown. A name cell's tooltip lists
// the account's characters, an "X" cell's says the level its characters share.
class AccountsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit AccountsModel(QObject *parent = nullptr);
    ~AccountsModel() override;

    // Shows this ranking in place of the one shown, in one reset, so that a screen reader never
    // sees a half-made list.
    void setRanking(std::shared_ptr<const LiveRanking> ranking);
    // The steps to tell as the ranking shown is changed in place, a row inserted, removed, moved
    // or changed at a time (or, for many, in one reset): the model's signals, so that views keep
    // their selection and current row, and each step shows a whole list.
    RankingSteps &steps();
    const LiveRanking &ranking() const { return *ranking_; }
    const AccountRecords &records() const { return ranking_->records(); }
    const AccountCharacters *characters() const { return &ranking_->characters(); }

    // A cell's text as shown, and what its tooltip says (empty for none).
    QString cellText(int row, int column) const;
    QString toolTip(int row, int column) const;
    // Where the row's account file is in its ranking's names.
    uint32_t place(int row) const { return records()[static_cast<size_t>(row)].place; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    class Steps;
    std::shared_ptr<const LiveRanking> ranking_;
    std::unique_ptr<Steps> steps_;
};

} // namespace orvantis
