#include "formats/accountranking.h"

#include "scan/accounts/accountcells.h"

namespace orvantis {

namespace {

// Records as a ranking reads them: the cells as the list shows them, the level as the number it
// is.
class RecordRows : public RankingRows {
public:
    RecordRows(const AccountRecords &records, const AccountCharacters *characters,
               const std::vector<size_t> *chosen, bool withRanks, const Movements *movements)
        : records_(records), characters_(characters), chosen_(chosen), withRanks_(withRanks),
          movements_(movements) {}
    int count() const override {
        return static_cast<int>(chosen_ ? chosen_->size() : records_.size());
    }
    QStringList columnTitles() const override { return reportColumnTitles(); }
    QStringView cell(int row, int column, QString &scratch) const override {
        return recordCell(records_, at(row), column, scratch);
    }
    int64_t level(int row) const override { return records_[at(row)].level; }
    bool playersText(int column) const override {
        return column == kLoginColumn || column == kNameColumn;
    }
    std::optional<int32_t> tiedLevel(int row) const override {
        const AccountRecord &record = records_[at(row)];
        if (!characters_ || record.slot != 0)
            return std::nullopt;
        const auto tied = characters_->tiedLevel(record.place);
        return tied && *tied > 0 ? tied : std::nullopt;
    }
    bool ranked() const override { return withRanks_; }
    int64_t rank(int row) const override { return static_cast<int64_t>(at(row)) + 1; }
    std::optional<RowMovement> movement(int row) const override {
        if (!movements_)
            return std::nullopt;
        return movements_->of(records_[at(row)].place, rank(row));
    }

private:
    size_t at(int row) const {
        return chosen_ ? (*chosen_)[static_cast<size_t>(row)] : static_cast<size_t>(row);
    }
    const AccountRecords &records_;
    const AccountCharacters *characters_;
    const std::vector<size_t> *chosen_;
    bool withRanks_;
    const Movements *movements_;
};

} // namespace

QByteArray rankingText(const AccountRecords &records, const AccountCharacters *characters,
                       RankingFormat format, int top, CellText cellText,
                       const std::vector<size_t> *chosen, bool withRanks,
                       const Movements *movements) {
    return rankingText(RecordRows(records, characters, chosen, withRanks, movements), format, top,
                       cellText);
}

} // namespace orvantis
