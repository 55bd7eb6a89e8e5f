#pragma once

#include "window/desktop.h"

#include <QStringList>

// A desktop that answers the save dialog with a path set beforehand and remembers what it was
// asked to open or show, without starting anything.
class RecordingDesktop : public orvantis::Desktop {
public:
    QString saveTo;       // the path the dialog gives; empty: cancelled
    QString filterChosen; // the filter the dialog gives
    QStringList opened, shown;

    QString chooseSaveFile(QWidget *, const QString &, QString *filter) override {
        if (filter && !filterChosen.isEmpty())
            *filter = filterChosen;
        return saveTo;
    }
    bool openFile(const QString &path) override {
        opened << path;
        return true;
    }
    void showInFolder(const QString &path) override { shown << path; }
};
