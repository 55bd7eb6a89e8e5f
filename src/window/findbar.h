#pragma once

#include "window/rowfinder.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

namespace orvantis {

// A small find field laid over the bottom of the list: it finds logins and the names of every
// character of an account as the user types, any part of them, letter case ignored, and says "3 of
// 17". Enter and F3 go to the next match, Shift+F3 to the one before, Esc closes it. Rows are
// looked through a slice per turn of the event loop, so that typing stays quick on a million rows.
class FindBar : public QWidget {
    Q_OBJECT

public:
    // `currentRow` tells which row is current in the list, where finding starts.
    FindBar(const AccountsModel &accounts, std::function<int()> currentRow, QWidget *parent);

    // Shows the bar and puts the focus in its field, with its text selected.
    void open();
    void findNext();
    void findPrevious();
    // The list's rows were replaced: what is typed is looked for again.
    void rowsReplaced();

    QLineEdit *field() const { return field_; }
    // "3 of 17"; "No match"; while rows are still being looked through, "3 of 17+".
    QString countText() const;
    bool searching() const { return !finder_.done(); }

    static constexpr int kRowsPerSlice = 20000;

signals:
    // The row to make current.
    void found(int row);
    // The bar was closed with Esc: the focus goes back to the list.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restart();
    void lookFurther();
    void go(int row);
    void showCount();

    RowFinder finder_;
    std::function<int()> currentRow_;
    QLineEdit *field_;
    QLabel *count_;
    QTimer more_;
    bool waitingForFirst_ = false;
};

} // namespace orvantis
