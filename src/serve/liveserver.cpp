#include "serve/liveserver.h"

#include "platform/exitstatus.h"
#include "serve/escaping.h"
#include "serve/leaderboardpage.h"
#include "start/complaint.h"

#include <malloc.h>

#include <random>

namespace orvantis {

namespace {

void say(const QString &line) {
    complain(kServeProgram, line);
}

// A name for this run of the server that no other run has had: 64 random bits, in hex.
QByteArray newRunName() {
    std::random_device device;
    const uint64_t drawn = uint64_t{device()} << 32 | device();
    return QByteArray::number(static_cast<qulonglong>(drawn), 16).rightJustified(16, '0');
}

} // namespace

LiveServer::LiveServer(FolderFollower &follower, std::vector<ListenSocket> sockets,
                       ServeLimits limits, TlsFiles tls, QString historyFile,
                       std::function<void(int)> ended)
    : follower_(follower), sockets_(std::move(sockets)), limits_(limits), tls_(std::move(tls)),
      clientLog_(&say, std::chrono::minutes(1), 10), ended_(std::move(ended)), touched_(changed_),
      run_(newRunName()) {
    follower_.setSteps(&touched_);
    connect(&follower_, &FolderFollower::rankingReplaced, this, &LiveServer::rankingRead);
    connect(&follower_, &FolderFollower::changesApplied, this, &LiveServer::changesApplied);
    connect(&follower_, &FolderFollower::failed, this, &LiveServer::readFailed);
    connect(&follower_, &FolderFollower::followingChanged, this, [this] {
        for (const ScanFailure &missed : follower_.following().missed())
            say(missed.text);
        if (server_)
            publish("change", "{}");
    });
    if (!historyFile.isEmpty()) {
        say(QStringLiteral("keeping the history of every account's changes in %1")
                .arg(historyFile));
        history_ = std::make_unique<HistoryKeeper>(
            historyFile,
            [this](const HistoryHealth &now) {
                say(now.fault ? now.fault->text
                              : QStringLiteral("writing the history to %1").arg(now.file));
                if (server_)
                    publish("change", "{}");
            },
            [this] {
                if (server_ && !holding_)
                    publish("change", "{}");
            });
    }
    heartbeat_.setInterval(HttpServer::kHeartbeatMs);
    connect(&heartbeat_, &QTimer::timeout, this, [this] {
        if (server_)
            server_->heartbeat();
        clientLog_.flush();
    });
}

FolderHealth LiveServer::health() const {
    std::optional<HistoryHealth> history;
    if (history_)
        history = history_->health();
    return {follower_.following(), readFailure_, failingSince_, readFailure_ && follower_.emptied(),
            std::move(history)};
}

void LiveServer::publish(const QByteArray &event, const QByteArray &data) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool firstInItsSecond =
        lastChangeAt_.isValid() && lastChangeAt_.toSecsSinceEpoch() < now.toSecsSinceEpoch();
    lastChangeAt_ = now;
    const Lineage lineage{run_, firstInItsSecond};
    TouchedPlaces touched = touched_.take();
    std::shared_ptr<const Snapshot> snapshot;
    if (holding_ && last_) { // the rows served last, with what is wrong with the folder now
        snapshot = std::make_shared<const Snapshot>(*last_, ++generation_, now, health(), lineage);
    } else {
        const std::shared_ptr<const LiveRanking> ranking = follower_.sharedRanking();
        if (ranking != served_)
            touched.all = true; // another ranking, or one served anew: indexed whole
        served_ = ranking;
        if (history_)
            history_->record(ranking, touched.all, touched.places);
        snapshot = std::make_shared<const Snapshot>(
            *ranking, ++generation_, now, health(), searchIndex_, touched, lineage,
            history_ ? history_->movement() : std::shared_ptr<const MovementTable>());
        searchIndex_ = snapshot->searchIndex();
    }
    last_ = snapshot;
    if (server_) {
        server_->publish(std::move(snapshot), event, data);
        return;
    }
    QString error;
    server_ = HttpServer::start(sockets_, limits_, tls_, std::move(snapshot), &clientLog_, error);
    tls_ = TlsFiles(); // the server keeps its own
    if (!server_) {
        say(error);
        return ended_(kExitUnhandledError);
    }
    heartbeat_.start();
}

// Why the ranking just read is not to be served in place of the last one: its folder gone, not
// a folder, or emptied (the follower says since when). Far more often a disk unmounted or a
// deploy half done than a server without players, as orvantis-rank --output has it too.
QString LiveServer::reasonToHold(const ScanReport &report) const {
    if (!last_ || !server_)
        return QString(); // nothing else to serve
    const QString why = whyNotListed(report);
    if (!why.isEmpty())
        return why;
    if (const std::optional<Emptied> &emptied = follower_.emptied())
        return emptied->why;
    return QString();
}

void LiveServer::hold(const QString &why) {
    if (!readFailure_) {
        const std::optional<Emptied> &emptied = follower_.emptied();
        failingSince_ = emptied ? emptied->since : QDateTime::currentDateTimeUtc();
    }
    holding_ = true;
    ScanFailure failure;
    failure.what = ScanFailure::FolderUnreadable;
    failure.text = why + QStringLiteral("; the last ranking read is served until it is back");
    if (!readFailure_ || readFailure_->text != failure.text)
        say(failure.text);
    readFailure_ = failure;
    publish("change", "{}");
}

void LiveServer::rankingRead() {
    const ScanReport &report = follower_.ranking().report();
    if (const QString why = reasonToHold(report); !why.isEmpty()) {
        changed_.take();
        return hold(why);
    }
    serveAnew(report.accountFiles == 0 ? QString()
              : report.readThroughRing > 0
                  ? QStringLiteral(" through io_uring")
                  : QStringLiteral(" with blocking reads: io_uring is not to be had here"));
}

// The follower's ranking served from now on, in place of what was: every rank and account
// touched.
void LiveServer::serveAnew(const QString &how) {
    changed_.take();
    touched_.take();
    served_.reset(); // indexed whole
    holding_ = false;
    readFailure_.reset();
    failingSince_ = QDateTime();
    const LiveRanking &ranking = follower_.ranking();
    say(QStringLiteral("read %1 accounts from %2 account files%3")
            .arg(ranking.records().size())
            .arg(ranking.report().accountFiles)
            .arg(how));
    publish("reload",
            "{\"rows\": " + QByteArray::number(static_cast<qulonglong>(ranking.records().size())) +
                "}");
    // A whole read leaves the memory of its reading threads free but held: a server that runs
    // for months gives it back.
    malloc_trim(0);
}

void LiveServer::changesApplied() {
    const QString why = reasonToHold(follower_.ranking().report());
    if (holding_) { // files come back one by one into the folder emptied
        changed_.take();
        if (why.isEmpty())
            serveAnew(QStringLiteral(", as they come back"));
        return;
    }
    if (!why.isEmpty()) { // the folder emptied file by file: its last ranking is held
        changed_.take();
        return hold(why);
    }
    QByteArray ranks;
    for (const auto &[first, last] : changed_.take())
        ranks += (ranks.isEmpty() ? "[" : ", [") +
                 QByteArray::number(static_cast<qlonglong>(first)) + ", " +
                 (last == ChangedRanks::kLast ? QByteArray("null")
                                              : QByteArray::number(static_cast<qlonglong>(last))) +
                 "]";
    publish("change",
            "{\"rows\": " +
                QByteArray::number(static_cast<qulonglong>(follower_.ranking().records().size())) +
                ", \"ranks\": [" + ranks + "]}");
}

// The last good ranking is served on, with the failure in /status and a note on the page; the
// first read failing ends the program, which has nothing to serve.
void LiveServer::readFailed(const ScanFailure &failure) {
    say(failure.text);
    if (!server_)
        return ended_(kExitUnhandledError);
    if (!readFailure_)
        failingSince_ = QDateTime::currentDateTimeUtc();
    readFailure_ = failure;
    publish("change", "{}");
}

} // namespace orvantis
