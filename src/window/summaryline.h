#pragma once

#include <QLabel>
#include <QString>

namespace orvantis {

// The line left of Refresh that says what the last scan read: rich text, whose one link,
// "details", asks for the report of the files left out. Where the whole text would be cut, it
// shows a short form; the whole text is its tooltip and what assistive technology reads. Its
// link takes one stop in the tab order, and Enter or Space opens it.
class SummaryLine : public QLabel {
    Q_OBJECT

public:
    explicit SummaryLine(QWidget *parent);

    // Shows `text`, or `shortText` where `text` does not fit; nothing changes when it is the
    // text shown.
    void showText(const QString &text, const QString &shortText = QString());

signals:
    void detailsAsked();

protected:
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString text_; // the whole text shown
};

} // namespace orvantis
