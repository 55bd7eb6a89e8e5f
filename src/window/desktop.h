#pragma once

#include <QString>

class QWidget;

namespace orvantis {

// What the window asks of the desktop around it: a file to save to, and a file to open or to
// show in the file manager. The window hands in the system's; tests hand in their own, so that
// nothing waits on a dialog or starts another program.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Asks where to save, offering `filters` ("Name (*.ext)", separated by ";;"); the path, and
    // in `filter` the filter chosen, or the empty text when the user cancelled.
    virtual QString chooseSaveFile(QWidget *parent, const QString &filters, QString *filter) = 0;
    // Opens the file in the desktop's handler for it; false when there is none.
    virtual bool openFile(const QString &path) = 0;
    // Shows the file selected in the file manager; where no file manager answers, opens its
    // folder.
    virtual void showInFolder(const QString &path) = 0;
};

// The desktop of the session the window runs in: a file dialog, the handlers the desktop knows,
// and the file manager (the freedesktop interface over D-Bus on Linux, Explorer on Windows).
class SystemDesktop : public Desktop {
public:
    QString chooseSaveFile(QWidget *parent, const QString &filters, QString *filter) override;
    bool openFile(const QString &path) override;
    void showInFolder(const QString &path) override;
};

} // namespace orvantis
