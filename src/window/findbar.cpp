#include "window/findbar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace orvantis {

FindBar::FindBar(const AccountsModel &accounts, std::function<int()> currentRow, QWidget *parent)
    : QWidget(parent), finder_(accounts), currentRow_(std::move(currentRow)),
      field_(new QLineEdit(this)), count_(new QLabel(this)) {
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(QStringLiteral("Find bar"));
    setAutoFillBackground(true);
    field_->setObjectName(QStringLiteral("findField"));
    field_->setPlaceholderText(QStringLiteral("Find a login or character name"));
    field_->setAccessibleName(QStringLiteral("Find"));
    field_->setAccessibleDescription(field_->placeholderText());
    field_->setClearButtonEnabled(true);
    field_->installEventFilter(this);
    count_->setObjectName(QStringLiteral("findCount"));
    count_->setAccessibleName(QStringLiteral("Matches"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(field_, 1);
    layout->addWidget(count_);
    more_.setInterval(0);
    connect(&more_, &QTimer::timeout, this, &FindBar::lookFurther);
    connect(field_, &QLineEdit::textChanged, this, &FindBar::restart);
    hide();
}

void FindBar::open() {
    show();
    raise();
    field_->setFocus();
    field_->selectAll();
}

bool FindBar::eventFilter(QObject *watched, QEvent *event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            hide();
            emit closed();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            (key->key() == Qt::Key_F3 && !(key->modifiers() & Qt::ShiftModifier))) {
            findNext();
            return true;
        }
        if (key->key() == Qt::Key_F3) {
            findPrevious();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::restart() {
    finder_.find(field_->text());
    waitingForFirst_ = !field_->text().isEmpty();
    lookFurther();
}

void FindBar::rowsReplaced() {
    if (!field_->text().isEmpty())
        restart();
}

// One slice of rows; the first match at or after the current row is gone to as soon as it is
// known, and the rest are counted in the turns after.
void FindBar::lookFurther() {
    const bool done = finder_.step(kRowsPerSlice);
    if (waitingForFirst_) {
        const int from = std::max(currentRow_(), 0);
        const auto &matches = finder_.matches();
        const bool afterCurrent = !matches.empty() && matches.back() >= from;
        if (afterCurrent || (done && !matches.empty())) {
            waitingForFirst_ = false;
            go(finder_.matchFrom(from));
        }
    }
    if (done)
        more_.stop();
    else if (!more_.isActive())
        more_.start();
    showCount();
}

void FindBar::findNext() {
    waitingForFirst_ = false;
    const int row = finder_.nextMatch(currentRow_());
    if (row >= 0)
        go(row);
}

void FindBar::findPrevious() {
    waitingForFirst_ = false;
    const int row = finder_.previousMatch(currentRow_());
    if (row >= 0)
        go(row);
}

void FindBar::go(int row) {
    emit found(row);
    showCount();
}

QString FindBar::countText() const {
    if (finder_.text().isEmpty())
        return QString();
    const size_t count = finder_.matches().size();
    if (count == 0)
        return finder_.done() ? QStringLiteral("No match") : QStringLiteral("Looking…");
    // ASCII digits, as everywhere in the window's texts.
    return QStringLiteral("%1 of %2%3")
        .arg(finder_.placeOf(currentRow_()))
        .arg(count)
        .arg(finder_.done() ? QString() : QStringLiteral("+"));
}

// The count is the label's description too: a screen reader is told when it changes, while
// the label keeps its name.
void FindBar::showCount() {
    const QString text = countText();
    if (text == count_->text())
        return;
    count_->setText(text);
    count_->setAccessibleDescription(text);
}

} // namespace orvantis
