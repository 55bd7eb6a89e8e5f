#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct sqlite3;

namespace orvantis {

// What is wrong with the history file, and whether it may come right by itself: a full disk, a
// file or folder not writable, a lock held by another process, may; a damaged file, one made by
// a newer version of the program or by another program, will not, and is never written to.
struct HistoryFault {
    QString text;
    bool lasting = false;
};

// An account as last recorded: its file's name (the account), its best level, login and best
// character.
struct AccountState {
    QByteArray file;
    int32_t level = 0;
    QString login;
    uint8_t slot = 0; // 1, 2 or 3; 0 when the top level is shared
    QString character;
    uint32_t peakRank = 0; // the best rank it has held; 0 for none yet
};

// One thing that happened to an account, at a wall-clock time (milliseconds since 1970, UTC).
struct AccountEvent {
    enum What : uint8_t { Seen = 0, Changed = 1, Removed = 2, Peak = 3 };
    // Seen: first seen, or back after it was removed. Peak: a better rank than any before
    // (state.peakRank), kept with the account alone.
    What what = Seen;
    int64_t at = 0;
    AccountState state; // after it; only the file for Removed
};

// The history kept in an SQLite file: each account's state as last recorded, and every event
// of every account. Written by one thread; its statements live within a call. The file records
// its schema's version; one from an older version is upgraded in place in one transaction.
class HistoryFile {
public:
    static constexpr int kVersion = 1;

    HistoryFile() = default;
    ~HistoryFile();
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    // Opens the file at `path`, made when missing, with write-ahead logging; none, or the fault.
    std::optional<HistoryFault> open(const QString &path);
    // Opens it to be read alone, as another connection while it is written; it is made by then.
    std::optional<HistoryFault> openForReading(const QString &path);
    bool isOpen() const { return db_ != nullptr; }
    void close();

    // Every account not removed, as last recorded.
    std::optional<HistoryFault> presentAccounts(std::vector<AccountState> &accounts);
    // Records `events` in one transaction, and checkpoints the log into the file.
    std::optional<HistoryFault> record(const std::vector<AccountEvent> &events);

    // The accounts present at `at` (ms since 1970, UTC), each with its file and best level then.
    std::optional<HistoryFault> presentAt(int64_t at, std::vector<AccountState> &accounts);
    // When the history began: its first event's time; none while it holds none.
    std::optional<HistoryFault> beginning(std::optional<int64_t> &at);
    // The files of the accounts first seen after `after`: newcomers, not those there from the
    // start.
    std::optional<HistoryFault> firstSeenAfter(int64_t after, std::vector<QByteArray> &files);

private:
    std::optional<HistoryFault> prepareSchema();
    std::optional<HistoryFault> fault(const char *doing) const;
    std::optional<HistoryFault> run(const char *sql, const char *doing);

    sqlite3 *db_ = nullptr;
    QString path_;
};

} // namespace orvantis
