#pragma once

// orvantis-serve on a folder of its own, on free ports of loopback, for the tests that speak to
// it over sockets.

#include "accountfiles.h"
#include "accountgenerator.h"
#include "httpclient.h"
#include "programrun.h"
#include "tempfolder.h"

#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

class Serving : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(orvantis::bench::generateAccounts(folder.path(), 300, 5));
        folder.write("accounts/evil.ini", "[GENERAL]\nLogin=<script>alert(1)</script>\n[CHAR1]\n"
                                          "Level=777\nName=\"><img src=x onerror=alert(2)>\n");
    }
    // Starts it with `arguments` (on 127.0.0.1, and on ::1 too when `v6`), through `wrapper`
    // (such as prlimit) when given, and waits until it has read the folder.
    void start(QList<QByteArray> arguments = {}, bool v6 = false, QList<QByteArray> wrapper = {}) {
        arguments << "--listen"
                  << "127.0.0.1:0";
        if (v6)
            arguments << "--listen"
                      << "[::1]:0";
        arguments << folder.path().toUtf8();
        QByteArray program = ORVANTIS_SERVE_EXE;
        if (!wrapper.isEmpty()) {
            arguments = wrapper.mid(1) + QList<QByteArray>{program} + arguments;
            program = wrapper[0];
        }
        server = std::make_unique<BackgroundRun>(program, arguments);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return server->errors().contains(" accounts from "); }, 20000))
            << server->errors().data();
        const QString said = QString::fromUtf8(server->errors());
        static const QRegularExpression v4Port("listening on https?://127\\.0\\.0\\.1:(\\d+)/");
        static const QRegularExpression v6Port("listening on https?://\\[::1\\]:(\\d+)/");
        port = static_cast<uint16_t>(v4Port.match(said).captured(1).toUInt());
        ASSERT_NE(port, 0);
        if (v6) {
            port6 = static_cast<uint16_t>(v6Port.match(said).captured(1).toUInt());
            ASSERT_NE(port6, 0);
        }
    }
    QByteArray rank(const QByteArray &format) {
        return runProgram(ORVANTIS_RANK_EXE, {"--format", format, folder.path().toUtf8()}).out;
    }

    TempFolder folder;
    std::unique_ptr<BackgroundRun> server;
    uint16_t port = 0;
    uint16_t port6 = 0;
};
