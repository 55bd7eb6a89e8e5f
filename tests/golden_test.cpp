// The console ranking, byte for byte, against what it printed when it was recorded: the sample
// accounts shipped with the program, and a generated folder of 100,000 accounts with many tied
// levels, in every format, whole and with --top.
#include "accountgenerator.h"
#include "golden.h"
#include "programrun.h"
#include "tempfolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

struct Form {
    const char *suffix;
    QList<QByteArray> arguments;
};

const Form kForms[] = {
    {"tsv", {}},
    {"csv", {"--format", "csv"}},
    {"json", {"--format", "json"}},
    {"top3.tsv", {"--top", "3"}},
    {"top3.csv", {"--format", "csv", "--top", "3"}},
    {"top3.json", {"--format", "json", "--top", "3"}},
};

// What a run printed, its status and its messages, as one golden file keeps them.
QByteArray statusAndMessages(const ProgramRun &run) {
    return "status " + QByteArray::number(run.status) + '\n' + run.err;
}

} // namespace

TEST(GoldenOutput, SampleAccountsInEveryForm) {
    TempFolder folder;
    QDir().mkpath(folder.path("accounts"));
    const QDir sample(QStringLiteral(ORVANTIS_SAMPLE_ACCOUNTS));
    for (const QString &name : sample.entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(sample.filePath(name), folder.path("accounts/" + name)));
    for (const Form &form : kForms) {
        const ProgramRun run = runProgram(
            ORVANTIS_RANK_EXE, form.arguments + QList<QByteArray>{folder.path().toUtf8()});
        expectGolden(QStringLiteral("sample.") + form.suffix, run.out);
        expectGolden(QStringLiteral("sample.") + form.suffix + QStringLiteral(".status"),
                     statusAndMessages(run));
    }
}

TEST(GoldenOutput, GeneratedHundredThousandAccountsInEveryForm) {
    TempFolder folder;
    ASSERT_TRUE(orvantis::bench::generateAccounts(folder.path(), 100'000, 1));
    for (const Form &form : kForms) {
        const ProgramRun run = runProgram(
            ORVANTIS_RANK_EXE, form.arguments + QList<QByteArray>{folder.path().toUtf8()});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        // The whole ranking is kept as its digest; the first rows as they are, to read.
        if (form.arguments.contains("--top"))
            expectGolden(QStringLiteral("generated-100000.") + form.suffix, run.out);
        else
            expectGoldenDigest(QStringLiteral("generated-100000.") + form.suffix + ".sha256",
                               run.out);
        expectGolden(QStringLiteral("generated-100000.") + form.suffix + QStringLiteral(".status"),
                     statusAndMessages(run));
    }
}
