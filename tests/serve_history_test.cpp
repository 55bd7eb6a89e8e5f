// orvantis-serve --history: what it records of each account, across restarts and kills, and
// what it does with a history file it cannot use or write.
#include "servefixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

#include <signal.h>

namespace {

// The history file, read as another process reads it while the server writes.
class HistoryReader {
public:
    explicit HistoryReader(const QString &path, int create = 0) {
        sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE | create, nullptr);
        sqlite3_busy_timeout(db_, 5000);
    }
    ~HistoryReader() { sqlite3_close_v2(db_); }
    // The rows of `sql`, each as "a|b|c".
    QStringList rows(const QByteArray &sql) const {
        QStringList rows;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
            return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db_))};
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList cells;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                cells << QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, i)));
            rows << cells.join(u'|');
        }
        sqlite3_finalize(statement);
        return rows;
    }
    QString one(const QByteArray &sql) const { return rows(sql).value(0); }
    bool exec(const char *sql) const {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3 *db_ = nullptr;
};

// The events after the first `first`, as "what|file|level|login".
QByteArray eventsAfter(const QString &first) {
    return "SELECT what, CAST(file AS TEXT), events.level, events.login FROM events JOIN "
           "accounts ON accounts.id = events.account WHERE events.rowid > " +
           first.toUtf8() + " ORDER BY events.rowid";
}

QByteArray hashOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

class History : public Serving {
protected:
    void startWithHistory() { start({"--history", historyPath.toUtf8()}); }
    // Waits until the first read is in the history: every account seen.
    void waitForFirstRead(const HistoryReader &history) {
        const int accounts = static_cast<int>(rank("tsv").count('\n'));
        ASSERT_TRUE(waitForRows(history, "SELECT id FROM accounts", accounts));
        ASSERT_EQ(history.one("SELECT count(*) FROM events WHERE what = 0"),
                  QString::number(accounts));
    }
    bool waitForRows(const HistoryReader &reader, const QByteArray &sql, int count) {
        const bool reached =
            QTest::qWaitFor([&] { return reader.rows(sql).size() == count; }, 10000);
        if (!reached)
            ADD_FAILURE() << reader.rows(sql).size()
                          << " rows: " << reader.rows(sql).mid(0, 3).join(" / ").toStdString();
        return reached;
    }
    QString historyPath = folder.path("history.db");
};

} // namespace

TEST_F(History, RecordsEachChangeOfAnAccountOnceAndKeepsItAcrossARestart) {
    startWithHistory();
    HistoryReader history(historyPath);
    waitForFirstRead(history);
    const QByteArray laterEvents = eventsAfter(history.one("SELECT max(rowid) FROM events"));
    const QStringList files = history.rows("SELECT CAST(file AS TEXT) FROM accounts WHERE "
                                           "CAST(file AS TEXT) != 'evil.ini' ORDER BY id LIMIT 2");
    folder.write("accounts/evil.ini", accountFile("<script>alert(1)</script>", 778));
    folder.write("accounts/" + files[0], accountFile("renamed", 5));
    ASSERT_TRUE(QFile::remove(folder.path("accounts/" + files[1])));
    folder.write("accounts/newcomer.ini", accountFile("newcomer", 3));
    ASSERT_TRUE(waitForRows(history, laterEvents, 4));
    QStringList expected{"1|evil.ini|778|<script>alert(1)</script>", "1|" + files[0] + "|5|renamed",
                         "2|" + files[1] + "||", "0|newcomer.ini|3|newcomer"};
    QStringList got = history.rows(laterEvents);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(server->stop(), 0);

    // What changed while it was stopped is recorded at the next start, and nothing else.
    folder.write("accounts/newcomer.ini", accountFile("newcomer", 4));
    startWithHistory();
    ASSERT_TRUE(waitForRows(history, laterEvents, 5));
    EXPECT_EQ(history.rows(laterEvents).last(), "1|newcomer.ini|4|newcomer");
    EXPECT_EQ(server->stop(), 0);
    EXPECT_EQ(history.rows(laterEvents).size(), 5) << "the unchanged accounts cost nothing";
    EXPECT_EQ(history.one("PRAGMA user_version"), "1");
}

TEST_F(History, AFileItMustNotWriteIsLeftAsItIsAndTheRankingIsServed) {
    struct Case {
        const char *name;
        std::function<void(const QString &)> make;
        const char *said;
    };
    const Case cases[] = {
        {"damaged",
         [](const QString &path) {
             QFile file(path);
             file.open(QIODevice::WriteOnly);
             file.write(QByteArray(8192, '\x5a'));
         },
         "left as it is"},
        {"newer",
         [](const QString &path) {
             HistoryReader(path, SQLITE_OPEN_CREATE)
                 .exec("PRAGMA application_id=1330796116; PRAGMA "
                       "user_version=99; CREATE TABLE later(x);");
         },
         "newer version of the program (history version 99"},
        {"another program's",
         [](const QString &path) {
             HistoryReader(path, SQLITE_OPEN_CREATE)
                 .exec("CREATE TABLE notes(x); INSERT INTO notes VALUES(1);");
         },
         "is not a history file of this program"},
    };
    for (const Case &made : cases) {
        SCOPED_TRACE(made.name);
        QFile::remove(historyPath);
        made.make(historyPath);
        const QByteArray before = hashOf(historyPath);
        ASSERT_FALSE(before.isEmpty());
        startWithHistory();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ::request(port, "/status").body.contains(made.said); }, 10000))
            << ::request(port, "/status").body.data();
        EXPECT_EQ(::request(port, "/ranking.tsv").body, rank("tsv"));
        folder.write("accounts/more.ini", accountFile("more", 1));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ::request(port, "/ranking.tsv").body.contains("more\t1"); }, 10000));
        EXPECT_EQ(server->stop(), 0);
        QFile::remove(folder.path("accounts/more.ini"));
        EXPECT_EQ(hashOf(historyPath), before) << "never written";
        EXPECT_TRUE(server->errors().contains(made.said));
    }
}

TEST_F(History, ChangesMadeWhileAnotherProcessHoldsTheFileAreWrittenWithTheirTimeOnceItLetsGo) {
    startWithHistory();
    HistoryReader history(historyPath);
    waitForFirstRead(history);
    const QByteArray laterEvents = eventsAfter(history.one("SELECT max(rowid) FROM events"));
    HistoryReader locker(historyPath);
    ASSERT_TRUE(locker.exec("BEGIN EXCLUSIVE"));
    const qint64 changedAt = QDateTime::currentMSecsSinceEpoch();
    folder.write("accounts/evil.ini", accountFile("evil", 5));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("database is locked"); }, 20000));
    EXPECT_TRUE(
        ::request(port, "/status").body.contains("\"problem\": {\"reason\": \"cannot write"));
    ASSERT_TRUE(locker.exec("COMMIT"));
    ASSERT_TRUE(waitForRows(history, laterEvents, 1));
    const qint64 at = history.one("SELECT max(at) FROM events").toLongLong();
    EXPECT_GE(at, changedAt - 1000);
    EXPECT_LT(at, changedAt + 2000) << "recorded with the time it was seen, not when written";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("\"problem\": null"); }, 10000));
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(History, AKillInAStormOfChangesLeavesAWholeFileThatTheServerStartsOn) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        startWithHistory();
        HistoryReader history(historyPath);
        folder.write("accounts/marker.ini", accountFile("marker", 100 + round));
        const QByteArray marked = "marker\t" + QByteArray::number(100 + round);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return history.one(
                           "SELECT level FROM accounts WHERE CAST(file AS TEXT) = 'marker.ini'") ==
                       QString::number(100 + round);
            },
            10000));
        for (int n = 0; n < 200; ++n)
            folder.write(QStringLiteral("accounts/storm%1.ini").arg(n % 20),
                         accountFile("storm", n));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ::request(port, "/ranking.tsv").body.contains(marked); }, 10000));
        ::kill(server->pid(), SIGKILL);
        server->stop();
        EXPECT_EQ(history.one("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(history.one("SELECT level FROM accounts WHERE CAST(file AS TEXT) = "
                              "'marker.ini'"),
                  QString::number(100 + round));
    }
}

namespace {

// The rows of a slice of the ranking, by login: the whole JSON object of each.
QHash<QString, QJsonObject> rowsByLogin(uint16_t port) {
    QHash<QString, QJsonObject> rows;
    const QJsonArray array =
        QJsonDocument::fromJson(::request(port, "/ranking.json?from=1&count=1000").body).array();
    for (const QJsonValue &row : array)
        rows.insert(row["login"].toString(), row.toObject());
    return rows;
}

} // namespace

// Under a clock that runs a day in ten seconds, as libfaketime makes it: a day after the start,
// each row's movement is its rank then less its rank now, worked out here from the server's own
// ranks before and after three changes.
TEST_F(History, EachRowMovedByItsRankADayBeforeLessItsRankNow) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "libfaketime goes before the sanitizer's runtime, which must come first";
#endif
    const char *faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
    if (!QFile::exists(faketime))
        GTEST_SKIP() << "libfaketime is not installed";
    const QByteArray started =
        QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm:ss").toUtf8();
    start({"--history", historyPath.toUtf8()}, false,
          {"/usr/bin/env", QByteArray("LD_PRELOAD=") + faketime, "FAKETIME=@" + started + " x8640",
           "FAKETIME_DONT_FAKE_MONOTONIC=1"});
    const QHash<QString, QJsonObject> before = rowsByLogin(port);
    ASSERT_GT(before.size(), 100);
    for (const QJsonObject &row : before) {
        EXPECT_EQ(row["change"].toObject()["day"], QJsonValue()) << "no history a day back yet";
        EXPECT_FALSE(row["new"].toBool()) << "there from the history's start: no newcomer";
    }

    // A day later (ten seconds), the day-old ranking is the one of the start.
    const QString anyone = before.begin().key();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return rowsByLogin(port).value(anyone)["change"].toObject()["day"].isDouble(); },
        30000));
    const HistoryReader history(historyPath);
    const QString climber = history.one(
        "SELECT login FROM accounts WHERE level < 10 AND login != '' ORDER BY id LIMIT 1");
    const QString faller = history.one("SELECT login FROM accounts WHERE level > 50 AND CAST(file "
                                       "AS TEXT) != 'evil.ini' ORDER BY id LIMIT 1");
    const QString climberFile = history.one(
        "SELECT CAST(file AS TEXT) FROM accounts WHERE login = '" + climber.toUtf8() + "'");
    const QString fallerFile = history.one(
        "SELECT CAST(file AS TEXT) FROM accounts WHERE login = '" + faller.toUtf8() + "'");
    ASSERT_FALSE(climber.isEmpty() || faller.isEmpty());
    folder.write("accounts/" + climberFile, accountFile(climber.toUtf8(), 700));
    folder.write("accounts/" + fallerFile, accountFile(faller.toUtf8(), 1));
    folder.write("accounts/zz-newcomer.ini", accountFile("newcomer", 500));
    QHash<QString, QJsonObject> after;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            after = rowsByLogin(port);
            return after.value("newcomer")["rank"].isDouble() &&
                   after.value(faller)["level"].toInt() == 1 &&
                   after.value(climber)["level"].toInt() == 700;
        },
        10000));
    for (auto row = after.cbegin(); row != after.cend(); ++row) {
        const QJsonObject change = row.value()["change"].toObject();
        if (row.key() == "newcomer") {
            EXPECT_EQ(change["day"], QJsonValue()) << "not ranked a day ago";
            EXPECT_TRUE(row.value()["new"].toBool());
            continue;
        }
        EXPECT_EQ(change["day"].toInt(),
                  before.value(row.key())["rank"].toInt() - row.value()["rank"].toInt())
            << row.key().toStdString();
        EXPECT_FALSE(row.value()["new"].toBool()) << row.key().toStdString();
        EXPECT_EQ(change["week"], QJsonValue()) << "the history does not reach a week back";
    }
    const int climbed = after.value(climber)["change"].toObject()["day"].toInt();
    EXPECT_GT(climbed, 0);
    // The page says it too, in words for a screen reader.
    const QByteArray page = ::request(port, "/").body;
    EXPECT_TRUE(page.contains("\u25b2" + QByteArray::number(climbed) +
                              "</span><span class=\"sr\">up " + QByteArray::number(climbed) +
                              " places since yesterday"));
    EXPECT_TRUE(page.contains("new<span class=\"sr\"> this week"));
    EXPECT_LT(after.value(faller)["change"].toObject()["day"].toInt(), 0);

    // The best rank each has held: the faller's before its fall, kept across a restart.
    const int peak = before.value(faller)["rank"].toInt();
    EXPECT_EQ(after.value(faller)["peakRank"].toInt(), peak);
    EXPECT_EQ(after.value(climber)["peakRank"], after.value(climber)["rank"]);
    EXPECT_EQ(server->stop(), 0);
    start({"--history", historyPath.toUtf8()});
    EXPECT_EQ(rowsByLogin(port).value(faller)["peakRank"].toInt(), peak);
    EXPECT_EQ(server->stop(), 0);
}
