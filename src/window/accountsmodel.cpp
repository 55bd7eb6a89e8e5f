#include "window/accountsmodel.h"

#include "scan/accounts/accountcells.h"

namespace orvantis {

// The ranking's steps as the model's signals.
class AccountsModel::Steps : public RankingSteps {
public:
    explicit Steps(AccountsModel &model) : model_(model) {}
    void beginInsert(size_t row) override {
        model_.beginInsertRows(QModelIndex(), rowOf(row), rowOf(row));
    }
    void endInsert() override { model_.endInsertRows(); }
    void beginRemove(size_t row) override {
        model_.beginRemoveRows(QModelIndex(), rowOf(row), rowOf(row));
    }
    void endRemove() override { model_.endRemoveRows(); }
    // Qt names the row a moved row goes before, as the rows are before the move.
    void beginMove(size_t from, size_t to) override {
        model_.beginMoveRows(QModelIndex(), rowOf(from), rowOf(from), QModelIndex(),
                             rowOf(to > from ? to + 1 : to));
    }
    void endMove() override { model_.endMoveRows(); }
    void rowChanged(size_t row) override {
        emit model_.dataChanged(model_.index(rowOf(row), 0),
                                model_.index(rowOf(row), model_.columnCount() - 1));
    }
    void beginReset() override { model_.beginResetModel(); }
    void endReset() override { model_.endResetModel(); }

private:
    static int rowOf(size_t row) { return static_cast<int>(row); }
    AccountsModel &model_;
};

AccountsModel::AccountsModel(QObject *parent)
    : QAbstractTableModel(parent), ranking_(std::make_shared<LiveRanking>()),
      steps_(std::make_unique<Steps>(*this)) {}

AccountsModel::~AccountsModel() = default;

void AccountsModel::setRanking(std::shared_ptr<const LiveRanking> ranking) {
    beginResetModel();
    ranking_ = ranking ? std::move(ranking) : std::make_shared<LiveRanking>();
    endResetModel();
}

RankingSteps &AccountsModel::steps() {
    return *steps_;
}

QString AccountsModel::cellText(int row, int column) const {
    QString scratch;
    return recordCell(records(), static_cast<size_t>(row), column, scratch).toString();
}

QString AccountsModel::toolTip(int row, int column) const {
    if (column == kNameColumn)
        return characters()->charactersText(place(row));
    if (column == kSlotColumn)
        return characters()->tieText(place(row));
    return {};
}

int AccountsModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records().size());
}

int AccountsModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : kReportColumns; // asked for often, by the view's layout
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
