#pragma once

#include "scan/backgroundscan.h"
#include "scan/changereading.h"
#include "scan/folderwatch.h"
#include "scan/liveranking.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace orvantis {

// How a full scan ended: its ranking, or the error that ended it. `quiet` when it was not asked
// for by the user but started for the folder's changes (its files left out go to the summary
// only).
struct ScanEnd {
    std::shared_ptr<LiveRanking> ranking;
    std::exception_ptr error;
    bool quiet = false;
};

// Runs the scans of one accounts folder, and, while asked to, follows its changes: it watches
// the folder, gathers the names that change over a short while, reads those files again on a
// thread of their own and hands what they read now to be applied to the ranking. A folder
// replaced, or events lost, is read whole again. Everything it hands over reaches its owner's
// thread as a signal, from there, carrying the result or an error value: nothing is thrown.
// Used on one thread, with an event loop.
class ScanController : public QObject {
    Q_OBJECT

public:
    using WatchMaker = std::function<std::unique_ptr<FolderWatch>(QObject *parent)>;

    // Scans the accounts folder of `programFolder` with `settings`; watches it with what
    // `makeWatch` makes (the system's when empty).
    explicit ScanController(QString programFolder, ScanSettings settings = {},
                            WatchMaker makeWatch = {}, QObject *parent = nullptr);
    ~ScanController() override;

    // Starts a full scan of the folder, unless one runs; scanEnded tells how it ended.
    void scan();
    bool isScanning() const { return scan_ != nullptr; }
    size_t filesFound() const;
    size_t filesRead() const;
    // Stops a running scan without its ranking (see BackgroundScan::stop).
    bool stopScan();

    // Follows the folder's changes, or no longer. Following starts with a full scan (unless no
    // scan has begun yet), so that the ranking is the folder's as it is from then on.
    void setFollowing(bool on);
    bool isFollowing() const { return following_; }
    // Why changes cannot be followed (no watch could be made); empty when they are, or when
    // following is off.
    const QString &followProblem() const { return problem_; }
    // When following began, and when the last change was applied (invalid before the first).
    const QDateTime &followingSince() const { return since_; }
    const QDateTime &lastChange() const { return lastChange_; }

    // Names changed are gathered this long from the first before they are read: a file saved
    // every few hundred milliseconds never keeps others waiting longer.
    static constexpr int kGatherMs = 150;

signals:
    // A full scan began: asked for, or needed by the folder's changes.
    void scanStarted();
    // Its receivers must not throw: the signal is sent from the event loop.
    void scanEnded(const orvantis::ScanEnd &end);
    // Files read again after they changed (or why they could not be, when a full scan follows).
    void changesRead(const std::vector<orvantis::ChangedFile> &files);
    // Following was switched, or its watch made or lost.
    void followingChanged();

private:
    struct Relay;
    // Runs the calls other threads have posted through the relay.
    Q_INVOKABLE void runPosted();
    // Runs what the event loop called, so that nothing it raises crosses the event loop: an
    // error ends the following, and reaches the owner as a scan that ended with it.
    template <typename Work> void guarded(Work &&work) noexcept {
        try {
            work();
        } catch (...) {
            failed(std::current_exception());
        }
    }
    void failed(std::exception_ptr error) noexcept;
    void startScan(bool quiet);
    void scanFinished();
    void watchFolder();
    void take(std::vector<FolderEvent> events);
    void gatherSoon();
    void readGathered();
    void changesFinished(ChangesRead read, unsigned generation, std::vector<QByteArray> names);
    void scanForChanges();

    QString programFolder_;
    ScanSettings settings_;
    WatchMaker makeWatch_;
    std::shared_ptr<Relay> relay_;
    std::unique_ptr<BackgroundScan> scan_;
    bool scanQuiet_ = false;
    bool scanAgain_ = false;  // events were lost during the scan
    unsigned generation_ = 0; // counts full scans: reads begun before one are stale after it
    QString folder_;          // the accounts folder as the last scan found it

    bool following_ = false;
    std::unique_ptr<FolderWatch> watch_;
    QString problem_;
    QDateTime since_, lastChange_;
    bool rewatching_ = false;
    std::vector<QByteArray> pending_;
    QSet<QByteArray> pendingNames_;
    QTimer gather_;
    bool reading_ = false;
};

} // namespace orvantis
