#pragma once

#include "scan/live/folderwatch.h"
#include "scan/live/liveranking.h"
#include "scan/live/mountwatch.h"
#include "scan/reading/backgroundscan.h"
#include "scan/reading/changereading.h"
#include "scan/system/pathtrace.h"
#include "scan/system/scanfailure.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// Whether a follower follows its folder's changes, since when, the last change applied; why it
// cannot when the folder's watch could not be made, and what it misses when another could not
// be (the folder above, files that are links or have other names).
struct Following {
    bool on = false;
    std::optional<ScanFailure> problem;
    std::vector<ScanFailure> gaps;
    QDateTime since;
    QDateTime lastChange; // invalid before the first change applied

    // What following misses: the problem first, then the gaps.
    std::vector<ScanFailure> missed() const {
        std::vector<ScanFailure> all;
        if (problem)
            all.push_back(*problem);
        all.insert(all.end(), gaps.begin(), gaps.end());
        return all;
    }
};

// Since when the folder holds no account file after it held some, and why, in the words every
// program says it in: emptied file by file, replaced by an empty folder, or a disk unmounted
// from under it, far more often than a server without players.
struct Emptied {
    QDateTime since; // UTC
    QString why;     // "no account files in …"
};

// The one way every program reads, follows and ranks an accounts folder. It reads the folder
// whole on a thread of its own, and, while asked to, follows its changes: it watches the
// folder, gathers the names that change over a short while, reads those files again on a
// thread of their own, in the folder it listed, and applies what they read now to its ranking,
// so that the ranking is always the one a whole read of the folder would give now. Events lost
// are made good by a whole read. The path is the truth: when the folder it names is another
// now (the accounts folder or the folder above replaced, a link on the way retargeted, a file
// system mounted on it), told by events, by the mount table, or by a look at the path's
// identity every kPathCheckMs, it follows the new folder, read whole, and nothing read in the
// old one counts. Account files that are links, or have other names, are watched themselves.
// It hands out the ranking with its report; failures come as values, in signals sent from its
// thread, and nothing is thrown. The ranking stays the last good one when a read fails. Used on
// one thread, with an event loop.
class FolderFollower : public QObject {
    Q_OBJECT

public:
    using WatchMaker = std::function<std::unique_ptr<FolderWatch>(QObject *parent)>;

    // Follows the accounts folder of `programFolder`, reading it with `settings`, and watches it
    // with what `makeWatch` makes (the system's when empty).
    explicit FolderFollower(QString programFolder, ScanSettings settings = {},
                            WatchMaker makeWatch = {}, QObject *parent = nullptr);
    ~FolderFollower() override;

    // Reads the folder whole, unless a read runs; rankingReplaced or failed tells how it ended.
    void readWhole();
    bool isReading() const { return scan_ != nullptr; }
    size_t filesFound() const;
    size_t filesRead() const;
    // Stops a running read, leaving the ranking as it was (see BackgroundScan::stop).
    bool stopReading();

    // Follows the folder's changes, or no longer. Following starts with a whole read (unless no
    // read has begun yet), so that the ranking is the folder's as it is from then on.
    void setFollowing(bool on);
    const Following &following() const { return following_; }
    // Whether the folder was emptied: none while it holds an account file, and before it ever
    // held one. The ranking is then empty, as the folder is; what a program keeps of the last
    // one is its own to say.
    const std::optional<Emptied> &emptied() const { return emptied_; }

    // The ranking as last read and changed: empty until the first read ends.
    const LiveRanking &ranking() const { return *ranking_; }
    std::shared_ptr<const LiveRanking> sharedRanking() const { return ranking_; }
    // Told each step a change makes to the ranking's rows as it makes it, such as a view's
    // model; none when null.
    void setSteps(RankingSteps *steps) { steps_ = steps; }

    // Names changed are gathered this long from the first before they are read: a file saved
    // every few hundred milliseconds never keeps others waiting longer.
    static constexpr int kGatherMs = 150;
    // How often the path is looked at, for what no event tells (a link retargeted, a mount where
    // the mount table cannot be watched): a few calls into the system each time.
    static constexpr int kPathCheckMs = 2000;

signals:
    // A whole read began: asked for, or needed by the folder's changes.
    void readStarted();
    // A whole read ended, and its ranking replaced the one before. `asked` when it was asked for
    // with readWhole(), not started for the folder's changes.
    void rankingReplaced(bool asked);
    // Files read again after they changed are about to be applied, and have been: the steps
    // were told between the two. `reset` when there were so many that the rows were made anew
    // in one reset.
    void changesApplying(const std::vector<orvantis::ChangedFile> &files);
    void changesApplied(bool reset);
    // A whole read failed, or following could not go on; the ranking is the last good one.
    void failed(const orvantis::ScanFailure &failure);
    // Following was switched, or its watch made or lost.
    void followingChanged();

private:
    struct Relay;
    // Runs the calls other threads have posted through the relay.
    Q_INVOKABLE void runPosted();
    // Runs what the event loop called, so that nothing it raises crosses the event loop: a
    // failure ends the following and is told through `failed`.
    template <typename Work> void guarded(Work &&work) noexcept {
        if (std::optional<ScanFailure> failure = failureOf(work))
            stopOn(std::move(*failure));
    }
    void stopOn(ScanFailure failure) noexcept;
    void startScan(bool asked);
    void scanFinished();
    void watchFolder();
    void followAnew();
    void checkPath();
    void take(std::vector<FolderEvent> events);
    void gatherSoon();
    void readGathered();
    void changesFinished(ChangesRead read, unsigned generation, unsigned epoch,
                         std::vector<QByteArray> names);
    void apply(std::vector<ChangedFile> files);
    void readWholeForChanges();
    void watchLinkedFile(const QByteArray &name, bool linked);
    void unwatchLinkedFiles();
    bool tellGaps();
    void noteEmptied();

    QString programFolder_;
    QString accountsPath_; // its "accounts", found without regard to letter case where it leads
    ScanSettings settings_;
    WatchMaker makeWatch_;
    std::shared_ptr<Relay> relay_;
    std::shared_ptr<LiveRanking> ranking_;
    RankingSteps *steps_ = nullptr;

    std::unique_ptr<BackgroundScan> scan_;
    bool scanAsked_ = false;
    bool scanAgain_ = false;  // events were lost during the read
    unsigned generation_ = 0; // counts whole reads: reads begun before one are stale after it
    unsigned epoch_ = 0;      // counts folders followed: what was seen in another does not count

    Following following_;
    std::optional<Emptied> emptied_;
    bool heldAccountFiles_ = false;
    std::unique_ptr<FolderWatch> watch_;
    std::unique_ptr<MountWatch> mounts_;
    QString watchedPath_;    // the accounts folder's path, as watched
    PathTrace watchedTrace_; // what it led to then
    QTimer pathCheck_;
    std::optional<ScanFailure> aboveGap_;
    QSet<QByteArray> linkedFiles_;                  // the account files watched themselves
    QHash<QByteArray, ScanFailure> unwatchedLinks_; // those that could not be
    bool rewatching_ = false;
    std::vector<QByteArray> pending_;
    QSet<QByteArray> pendingNames_;
    QTimer gather_;
    bool reading_ = false;
};

} // namespace orvantis
