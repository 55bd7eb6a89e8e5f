// What every program does at its door, the same for each: --help, --version, bad usage in one
// line with status 2, and a folder without "accounts" refused with status 1 and where it looked.
// The window's door is run under a display by window_endtoend.sh.
#include "programrun.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

struct Door {
    QByteArray name, path;
};

const Door kDoors[] = {{"orvantis-rank", ORVANTIS_RANK_EXE},
                       {"orvantis-serve", ORVANTIS_SERVE_EXE}};

} // namespace

TEST(Door, EveryProgramReadsTheCommonOptionsAndChecksTheFolderAlike) {
    TempFolder folder;
    const QByteArray nowhere = folder.path("no/such/folder").toUtf8();
    for (const Door &door : kDoors) {
        SCOPED_TRACE(door.name.toStdString());
        const ProgramRun help = runProgram(door.path, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.startsWith("Usage: " + door.name + " [OPTION]... [FOLDER]\n"));
        EXPECT_TRUE(help.out.contains("\nExit status:\n  0   "));
        const ProgramRun version = runProgram(door.path, {"--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, door.name + " " ORVANTIS_VERSION "\n");

        for (const QList<QByteArray> &bad : {QList<QByteArray>{"--bogus"}, {"one", "two"}}) {
            const ProgramRun r = runProgram(door.path, bad);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.err.startsWith(door.name + ": ") && r.err.count('\n') == 1 &&
                        r.err.endsWith(" (see --help)\n"))
                << r.err.data();
        }
        const ProgramRun missing = runProgram(door.path, {nowhere});
        EXPECT_EQ(missing.status, 1);
        EXPECT_EQ(missing.err, "Accounts folder not found!\n" + door.name + ": " + nowhere +
                                   " does not exist\n");
        const ProgramRun file = runProgram(door.path, {door.path});
        EXPECT_EQ(file.status, 1);
        EXPECT_EQ(file.err, "Accounts folder not found!\n" + door.name + ": " + door.path +
                                " is not a folder\n");
    }
}
