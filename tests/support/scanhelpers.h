#pragma once

// Scans of generated folders, read in the ways a scan may read them, and compared: a scan with
// many reads in flight must give what reading the files one after another gives.
#include "accountfiles.h"
#include "accountgenerator.h"
#include "listhelpers.h"
#include "platform/failure.h"
#include "privileges.h"
#include "recordhelpers.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/getscores.h"
#include "scan/reading/backgroundscan.h"
#include "scan/reading/inifiles.h"
#include "scan/system/filering.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSet>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <thread>

using namespace orvantis;

struct Scan {
    QStringList rows;
    QStringList skipped;
    size_t readThroughRing = 0;
};

inline Scan scanWith(const QString &folder, ScanSettings settings) {
    RecordingMessageBox messages;
    ReportList list(reportColumnTitles());
    const ScanReport report = GetScores(folder, list, {messages, QLocale::c()}, settings);
    EXPECT_TRUE(report.whole()) << (report.failure ? report.failure->text.toStdString()
                                                   : "stopped");
    Scan scan{rowTexts(list), {}, report.readThroughRing};
    for (const SkippedFile &file : report.skipped)
        scan.skipped << file.name;
    EXPECT_TRUE(messages.shown.empty());
    return scan;
}

inline ScanSettings withReaders(int readsInFlight, FileReading reading = FileReading::Ring) {
    ScanSettings settings;
    settings.readsInFlight = readsInFlight;
    settings.reading = reading;
    return settings;
}

// The reference: one blocking read after another.
inline ScanSettings oneByOne() {
    return withReaders(1, FileReading::Blocking);
}

// A reader that holds some files a while, so that reads end in another order than they began.
inline ScanSettings withShuffledReads(int readsInFlight) {
    ScanSettings settings = withReaders(readsInFlight);
    settings.reader = [](IniLookup &lookup, const QByteArray &path, const std::atomic<bool> &stop) {
        const size_t hash = qHash(path);
        for (size_t spin = 0; spin < hash % 7; ++spin)
            std::this_thread::yield();
        return readIniFile(lookup, path, &stop);
    };
    return settings;
}

inline void expectSameScan(const Scan &got, const Scan &expected, const char *what) {
    EXPECT_EQ(got.rows, expected.rows) << what;
    EXPECT_EQ(got.skipped, expected.skipped) << what;
}
