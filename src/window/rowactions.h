#pragma once

#include "formats/rankingtext.h"
#include "platform/messagebox.h"
#include "window/accountsmodel.h"
#include "window/desktop.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class QTreeView;
class QWidget;

namespace orvantis {

// What the levels list's menu does with its rows: copy them, save them, open or show the
// account file a row was read from.
class RowActions : public QObject {
    Q_OBJECT

public:
    // Acts on the rows of `view`, which shows `model`; dialogs open over `window`.
    RowActions(QTreeView &view, AccountsModel &model, MessageBox &messages, QWidget &window);

    // Where dialogs for saving, and opening or showing files, go: the system's unless a test
    // hands in its own.
    void setDesktop(Desktop &desktop) { desktop_ = &desktop; }

    // The selected rows as tab-separated lines, in the order shown; what Copy puts on the
    // clipboard.
    QString selectedRowsText() const;
    // The account file that a row was read from.
    QString accountFileOf(int row) const;
    // Writes the list's rows (all, or the selected ones) to `path` in `format`, by way of a
    // temporary file put in its place only once complete; says so in a message and gives false
    // when that fails.
    bool saveRows(const QString &path, RankingFormat format, bool selectedOnly);

    void copySelectedRows();
    void copySelectedRowsWithTitles();
    void saveAllAs();
    void saveSelectedAs();
    void openAccountFile();
    void showAccountFileInFolder();

private:
    std::vector<int> selectedRowNumbers() const;
    QStringList cellsOf(int row) const;
    void saveAs(bool selectedOnly);

    QTreeView &view_;
    AccountsModel &model_;
    MessageBox &messages_;
    QWidget &window_;
    SystemDesktop systemDesktop_;
    Desktop *desktop_ = &systemDesktop_;
};

} // namespace orvantis
