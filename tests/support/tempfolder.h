#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A temporary folder that tests write files into; removed with everything in it afterwards.
class TempFolder {
public:
    TempFolder() { EXPECT_TRUE(dir_.isValid()); }
    QString path() const { return dir_.path(); }
    QString path(const QString &relative) const { return dir_.path() + u'/' + relative; }

    // Writes bytes to a file, making its folders as needed; returns its full path.
    QString write(const QString &relative, const QByteArray &bytes) const {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << full.toStdString();
        file.write(bytes);
        return full;
    }
    QString mkdir(const QString &relative) const {
        QDir().mkpath(path(relative));
        return path(relative);
    }

private:
    QTemporaryDir dir_;
};
