#include "serve/liveserver.h"

#include "console/complaint.h"
#include "platform/exitstatus.h"
#include "serve/escaping.h"
#include "serve/leaderboardpage.h"

#include <malloc.h>

namespace orvantis {

namespace {

void say(const QString &line) {
    complain("orvantis-serve", line);
}

} // namespace

LiveServer::LiveServer(FolderFollower &follower, std::vector<ListenSocket> sockets,
                       ServeLimits limits, TlsFiles tls, std::function<void(int)> ended)
    : follower_(follower), sockets_(std::move(sockets)), limits_(limits), tls_(std::move(tls)),
      clientLog_(&say, std::chrono::minutes(1), 10), ended_(std::move(ended)),
      touched_(changed_,
               [this]() -> const AccountRecords & { return follower_.ranking().records(); }) {
    follower_.setSteps(&touched_);
    connect(&follower_, &FolderFollower::rankingReplaced, this, &LiveServer::rankingRead);
    connect(&follower_, &FolderFollower::changesApplied, this, &LiveServer::changesApplied);
    connect(&follower_, &FolderFollower::failed, this, &LiveServer::readFailed);
    connect(&follower_, &FolderFollower::followingChanged, this, [this] {
        for (const ScanFailure &missed : follower_.following().gaps)
            say(missed.text);
        if (follower_.following().problem)
            say(follower_.following().problem->text);
        if (server_)
            publish("change", "{}");
    });
    heartbeat_.setInterval(HttpServer::kHeartbeatMs);
    connect(&heartbeat_, &QTimer::timeout, this, [this] {
        if (server_)
            server_->heartbeat();
        clientLog_.flush();
    });
}

FolderHealth LiveServer::health() const {
    return {follower_.following(), readFailure_, failingSince_};
}

void LiveServer::publish(const QByteArray &event, const QByteArray &data) {
    auto snapshot = std::make_shared<const Snapshot>(follower_.ranking(), ++generation_,
                                                     QDateTime::currentDateTimeUtc(), health(),
                                                     searchIndex_, touched_.take());
    searchIndex_ = snapshot->searchIndex();
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

void LiveServer::rankingRead() {
    readFailure_.reset();
    failingSince_ = QDateTime();
    changed_.take(); // a whole read touches every rank and every account
    touched_.take();
    touched_.touchAll();
    const LiveRanking &ranking = follower_.ranking();
    const ScanReport &report = ranking.report();
    say(QStringLiteral("read %1 accounts from %2 account files%3")
            .arg(ranking.records().size())
            .arg(report.accountFiles)
            .arg(report.accountFiles == 0 ? QString()
                 : report.readThroughRing > 0
                     ? QStringLiteral(" through io_uring")
                     : QStringLiteral(" with blocking reads: io_uring is not to be had here")));
    publish("reload",
            "{\"rows\": " + QByteArray::number(static_cast<qulonglong>(ranking.records().size())) +
                "}");
    // A whole read leaves the memory of its reading threads free but held: a server that runs
    // for months gives it back.
    malloc_trim(0);
}

void LiveServer::changesApplied() {
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
