#include "window/summaryline.h"

#include <QKeyEvent>
#include <QTextDocumentFragment>

namespace orvantis {

SummaryLine::SummaryLine(QWidget *parent) : QLabel(parent) {
    setObjectName(QStringLiteral("scanSummary"));
    setAccessibleName(QStringLiteral("Scan summary"));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QLabel::linkActivated, this, &SummaryLine::detailsAsked);
}

void SummaryLine::showText(const QString &text, const QString &shortText) {
    if (text == text_ && isVisibleTo(parentWidget()))
        return; // as it was: a change in the same second says nothing new
    text_ = text;
    // A label named for assistive technology gives them its name, not its text: the whole text
    // goes to them as the description, and as a tooltip. The strip shows the short form where the
    // whole one would be cut, and with it the link.
    const QString plain = QTextDocumentFragment::fromHtml(text).toPlainText();
    const bool fits = fontMetrics().horizontalAdvance(plain) <= width();
    setText(fits || shortText.isEmpty() ? text : shortText);
    setToolTip(plain);
    setAccessibleDescription(plain);
    // The tab order is the list's and Refresh's, and the line's only while it holds a link.
    setFocusPolicy(text.contains(QLatin1String("<a ")) ? Qt::TabFocus : Qt::NoFocus);
    show();
}

// A label would keep Tab to go from link to link, and hold it there: Tab goes on to the
// window's next widget.
bool SummaryLine::focusNextPrevChild(bool next) {
    return QWidget::focusNextPrevChild(next);
}

void SummaryLine::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit detailsAsked();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

} // namespace orvantis
