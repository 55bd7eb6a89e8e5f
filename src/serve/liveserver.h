#pragma once

#include "history/historykeeper.h"
#include "scan/live/folderfollower.h"
#include "serve/changedranks.h"
#include "serve/httpserver.h"
#include "serve/serveoptions.h"
#include "serve/snapshot.h"
#include "serve/touchedplaces.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvantis {

// The follower's ranking served live: each ranking read whole and each change applied becomes a
// snapshot of its own generation, served from then on, and an event on the event stream (a
// reload after a whole read, the ranks touched after a change). The server starts serving once
// the first ranking is read, and says on standard error what it does. Used on the follower's
// thread.
class LiveServer : public QObject {
public:
    // Serves the ranking of `follower` on `sockets` with `limits`, over TLS with `tls` when it
    // has files; `ended` is called with the status to end with, when the server cannot go on
    // (it could not start, or the first read failed).
    // With a `historyFile`, the history of every account's changes is kept in it.
    LiveServer(FolderFollower &follower, std::vector<ListenSocket> sockets, ServeLimits limits,
               TlsFiles tls, QString historyFile, std::function<void(int status)> ended);

    HttpServer *server() const { return server_.get(); }

private:
    void publish(const QByteArray &event, const QByteArray &data);
    void rankingRead();
    void serveAnew(const QString &how);
    QString reasonToHold(const ScanReport &report) const;
    void hold(const QString &why);
    void changesApplied();
    void readFailed(const ScanFailure &failure);
    FolderHealth health() const;

    FolderFollower &follower_;
    std::vector<ListenSocket> sockets_;
    ServeLimits limits_;
    TlsFiles tls_;
    RatedLog clientLog_; // lines about clients, which a flood could make without end
    std::function<void(int)> ended_;
    std::unique_ptr<HttpServer> server_;
    ChangedRanks changed_;
    PlaceTracker touched_;
    SearchIndex searchIndex_; // the last snapshot's, brought up to date by the next
    // The follower's ranking the index was made of: none once the ranking is to be served anew,
    // so that the next snapshot indexes it whole.
    std::shared_ptr<const LiveRanking> served_;
    std::shared_ptr<const Snapshot> last_; // the last snapshot served
    // Serving the rows of last_ while the folder is gone or emptied: the follower's ranking
    // may be another by then, or the same one emptied file by file.
    bool holding_ = false;
    uint64_t generation_ = 0;
    QByteArray run_;         // this run's name among all the server's runs
    QDateTime lastChangeAt_; // of the last snapshot
    std::optional<ScanFailure> readFailure_;
    QDateTime failingSince_;
    QTimer heartbeat_;
    std::unique_ptr<HistoryKeeper> history_;
};

} // namespace orvantis
