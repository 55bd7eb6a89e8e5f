#pragma once

// The built orvantis-rank, copied into a temporary folder as an admin would place it, and run
// there.
#include "accountfiles.h"
#include "programrun.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// What a file the program wrote holds, "(missing)" when there is none.
inline QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The program folder, and the program in it.
class RankEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        program = folder.path("orvantis-rank");
        ASSERT_TRUE(QFile::copy(ORVANTIS_RANK_EXE, program));
    }
    ProgramRun run(const QList<QByteArray> &args = {}, const ProgramOptions &options = {}) {
        return runProgram(program.toUtf8(), args, options);
    }
    TempFolder folder;
    QString program;
};
