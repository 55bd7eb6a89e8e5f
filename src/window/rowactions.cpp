#include "window/rowactions.h"

#include "formats/accountranking.h"
#include "formats/rowtext.h"
#include "platform/failure.h"
#include "platform/writeall.h"
#include "scan/accounts/accountcells.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>

namespace orvantis {

RowActions::RowActions(QTreeView &view, AccountsModel &model, MessageBox &messages, QWidget &window)
    : QObject(&window), view_(view), model_(model), messages_(messages), window_(window) {}

// In the order shown, whatever the order of selecting.
std::vector<int> RowActions::selectedRowNumbers() const {
    std::vector<int> rows;
    for (const QModelIndex &index : view_.selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList RowActions::cellsOf(int row) const {
    QStringList cells;
    for (int column = 0; column < model_.columnCount(); ++column)
        cells << model_.cellText(row, column);
    return cells;
}

QString RowActions::selectedRowsText() const {
    QString text;
    for (int row : selectedRowNumbers())
        text += tabSeparatedLine(cellsOf(row)) + u'\n';
    return text;
}

void RowActions::copySelectedRows() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void RowActions::copySelectedRowsWithTitles() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(reportColumnTitles().join(u'\t') + u'\n' + text);
}

QString RowActions::accountFileOf(int row) const {
    return model_.ranking().accountFileOf(model_.place(row));
}

bool RowActions::saveRows(const QString &path, RankingFormat format, bool selectedOnly) {
    std::vector<size_t> chosen;
    if (selectedOnly)
        for (int row : selectedRowNumbers())
            chosen.push_back(static_cast<size_t>(row));
    const QByteArray text = rankingText(model_.records(), model_.characters(), format, -1,
                                        CellText::AsIs, selectedOnly ? &chosen : nullptr);
    const QString failure = replaceFile(path, text).failure;
    if (!failure.isEmpty()) {
        messages_.show(QStringLiteral("Could not save %1: %2").arg(path, failure), kCritical,
                       QString());
        return false;
    }
    return true;
}

void RowActions::saveAllAs() {
    saveAs(false);
}

void RowActions::saveSelectedAs() {
    saveAs(true);
}

void RowActions::saveAs(bool selectedOnly) {
    static const QString kTsv = QStringLiteral("Tab-separated values (*.tsv)");
    static const QString kCsv = QStringLiteral("Comma-separated values (*.csv)");
    static const QString kJson = QStringLiteral("JSON (*.json)");
    QString filter = kTsv;
    QString path =
        desktop_->chooseSaveFile(&window_, QStringList{kTsv, kCsv, kJson}.join(";;"), &filter);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    RankingFormat format = filter == kCsv    ? RankingFormat::Csv
                           : filter == kJson ? RankingFormat::Json
                                             : RankingFormat::Tsv;
    if (const auto named = rankingFormatNamed(suffix))
        format = *named; // the name the user typed wins
    else
        path += format == RankingFormat::Csv    ? QStringLiteral(".csv")
                : format == RankingFormat::Json ? QStringLiteral(".json")
                                                : QStringLiteral(".tsv");
    saveRows(path, format, selectedOnly);
}

void RowActions::openAccountFile() {
    const QModelIndex current = view_.currentIndex();
    if (!current.isValid())
        return;
    const QString file = accountFileOf(current.row());
    if (!file.isEmpty() && !desktop_->openFile(file))
        messages_.show(QStringLiteral("No program is set to open %1.").arg(file), kExclamation,
                       QString());
}

void RowActions::showAccountFileInFolder() {
    const QModelIndex current = view_.currentIndex();
    if (!current.isValid())
        return;
    const QString file = accountFileOf(current.row());
    if (!file.isEmpty())
        desktop_->showInFolder(file);
}

} // namespace orvantis
