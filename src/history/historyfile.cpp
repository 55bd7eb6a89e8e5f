#include "history/historyfile.h"

#include <sqlite3.h>

#include <memory>

namespace orvantis {

namespace {

// The program's mark in the file's header, so that a database of another program is told from
// a history file and left alone.
constexpr int kApplicationId = 0x4F525654; // "ORVT"

// A lock held by another process is waited for this long before a write is given up, to be
// tried again later.
constexpr int kBusyMs = 2000;

const char kSchema[] = R"(
CREATE TABLE accounts(
  id INTEGER PRIMARY KEY,
  file BLOB NOT NULL UNIQUE,
  first_seen INTEGER NOT NULL,
  removed INTEGER,
  level INTEGER NOT NULL,
  login TEXT NOT NULL,
  slot INTEGER NOT NULL,
  character TEXT NOT NULL,
  peak_rank INTEGER,
  peak_at INTEGER
);
CREATE TABLE events(
  account INTEGER NOT NULL REFERENCES accounts(id),
  at INTEGER NOT NULL,
  what INTEGER NOT NULL,
  level INTEGER,
  login TEXT,
  slot INTEGER,
  character TEXT
);
CREATE INDEX events_by_account ON events(account, at);
CREATE INDEX events_by_time ON events(at);
)";

struct Finalize {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement prepare(sqlite3 *db, const char *sql) {
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return Statement(statement);
}

void bindText(sqlite3_stmt *statement, int index, const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

void bindState(sqlite3_stmt *statement, int first, const AccountState &state) {
    sqlite3_bind_int(statement, first, state.level);
    bindText(statement, first + 1, state.login);
    sqlite3_bind_int(statement, first + 2, state.slot);
    bindText(statement, first + 3, state.character);
}

QByteArray columnBytes(sqlite3_stmt *statement, int column) {
    return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                      sqlite3_column_bytes(statement, column));
}

QString columnText(sqlite3_stmt *statement, int column) {
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// The number a single-valued statement gives; -1 when it gives none.
int64_t single(sqlite3 *db, const char *sql) {
    const Statement statement = prepare(db, sql);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(statement.get(), 0);
}

} // namespace

HistoryFile::~HistoryFile() {
    close();
}

void HistoryFile::close() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::optional<HistoryFault> HistoryFile::fault(const char *doing) const {
    const int code = db_ ? sqlite3_errcode(db_) : SQLITE_CANTOPEN;
    HistoryFault found;
    found.lasting = code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
    found.text =
        QStringLiteral("cannot %1 the history file %2: %3")
            .arg(QLatin1String(doing), path_,
                 db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("out of memory"));
    if (found.lasting)
        found.text += QStringLiteral(" (it is left as it is)");
    return found;
}

std::optional<HistoryFault> HistoryFile::run(const char *sql, const char *doing) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fault(doing);
    return std::nullopt;
}

std::optional<HistoryFault> HistoryFile::open(const QString &path) {
    close();
    path_ = path;
    const QByteArray name = path.toUtf8();
    const int opened = sqlite3_open_v2(name.constData(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_extended_result_codes(db_, 0);
    if (opened != SQLITE_OK) {
        std::optional<HistoryFault> found = fault("open");
        close();
        return found;
    }
    sqlite3_busy_timeout(db_, kBusyMs);
    if (std::optional<HistoryFault> found = prepareSchema()) {
        close();
        return found;
    }
    // Only once the file is known to be the program's is anything written to it.
    if (std::optional<HistoryFault> found =
            run("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", "set up")) {
        close();
        return found;
    }
    return std::nullopt;
}

std::optional<HistoryFault> HistoryFile::openForReading(const QString &path) {
    close();
    path_ = path;
    const int opened =
        sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READONLY, nullptr);
    if (opened != SQLITE_OK) {
        std::optional<HistoryFault> found = fault("open");
        close();
        return found;
    }
    sqlite3_busy_timeout(db_, kBusyMs);
    const int64_t application = single(db_, "PRAGMA application_id");
    const int64_t version = single(db_, "PRAGMA user_version");
    if (application != kApplicationId || version != kVersion) {
        std::optional<HistoryFault> found = fault("read");
        found->text = QStringLiteral("cannot read the history file %1").arg(path);
        close();
        return found;
    }
    return std::nullopt;
}

// Reads the file's marks: a new file is given the schema, an older one upgraded; one of another
// program, a newer version, or damaged is refused untouched.
std::optional<HistoryFault> HistoryFile::prepareSchema() {
    const int64_t application = single(db_, "PRAGMA application_id");
    const int64_t version = single(db_, "PRAGMA user_version");
    const int64_t tables = single(db_, "SELECT count(*) FROM sqlite_master");
    if (application < 0 || version < 0 || tables < 0)
        return fault("read");
    HistoryFault refused{QString(), true};
    if (application == 0 && version == 0 && tables == 0) {
        return run(("BEGIN;" + QByteArray(kSchema) +
                    "PRAGMA application_id=" + QByteArray::number(kApplicationId) +
                    "; PRAGMA user_version=" + QByteArray::number(kVersion) + "; COMMIT;")
                       .constData(),
                   "make");
    }
    if (application != kApplicationId) {
        refused.text = QStringLiteral("%1 is not a history file of this program: it is left as "
                                      "it is")
                           .arg(path_);
        return refused;
    }
    if (version > kVersion) {
        refused.text = QStringLiteral("%1 was made by a newer version of the program (history "
                                      "version %2; this one knows %3): it is left as it is")
                           .arg(path_)
                           .arg(version)
                           .arg(kVersion);
        return refused;
    }
    return std::nullopt; // version 1 is the first: nothing older to upgrade yet
}

std::optional<HistoryFault> HistoryFile::presentAccounts(std::vector<AccountState> &accounts) {
    const Statement statement = prepare(
        db_, "SELECT file, level, login, slot, character, peak_rank FROM accounts WHERE removed IS "
             "NULL");
    if (!statement)
        return fault("read");
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        AccountState state;
        state.file = columnBytes(statement.get(), 0);
        state.level = sqlite3_column_int(statement.get(), 1);
        state.login = columnText(statement.get(), 2);
        state.slot = static_cast<uint8_t>(sqlite3_column_int(statement.get(), 3));
        state.character = columnText(statement.get(), 4);
        state.peakRank = static_cast<uint32_t>(sqlite3_column_int64(statement.get(), 5));
        accounts.push_back(std::move(state));
    }
    return stepped == SQLITE_DONE ? std::nullopt : fault("read");
}

std::optional<HistoryFault> HistoryFile::presentAt(int64_t at,
                                                   std::vector<AccountState> &accounts) {
    // Each account's last event by then, in the order they were written: the clock may have been
    // stepped back between two runs, the order of writing never.
    const Statement statement = prepare(
        db_, "SELECT file, events.level FROM events JOIN accounts ON accounts.id = "
             "events.account WHERE events.rowid IN (SELECT max(rowid) FROM events WHERE at <= ?1 "
             "GROUP BY account) AND what != 2");
    if (!statement)
        return fault("read");
    sqlite3_bind_int64(statement.get(), 1, at);
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        AccountState state;
        state.file = columnBytes(statement.get(), 0);
        state.level = sqlite3_column_int(statement.get(), 1);
        accounts.push_back(std::move(state));
    }
    return stepped == SQLITE_DONE ? std::nullopt : fault("read");
}

std::optional<HistoryFault> HistoryFile::beginning(std::optional<int64_t> &at) {
    const Statement statement = prepare(db_, "SELECT min(at) FROM events");
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW)
        return fault("read");
    at.reset();
    if (sqlite3_column_type(statement.get(), 0) != SQLITE_NULL)
        at = sqlite3_column_int64(statement.get(), 0);
    return std::nullopt;
}

std::optional<HistoryFault> HistoryFile::firstSeenAfter(int64_t after,
                                                        std::vector<QByteArray> &files) {
    const Statement statement = prepare(db_, "SELECT file FROM accounts WHERE first_seen > ?1");
    if (!statement)
        return fault("read");
    sqlite3_bind_int64(statement.get(), 1, after);
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW)
        files.push_back(columnBytes(statement.get(), 0));
    return stepped == SQLITE_DONE ? std::nullopt : fault("read");
}

namespace {

// The statements a batch is written with, made once for it.
struct Writing {
    Statement seen, changed, removed, peak, event;

    explicit Writing(sqlite3 *db)
        : seen(prepare(db, "INSERT INTO accounts(file, first_seen, level, login, slot, character) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(file) DO UPDATE SET "
                           "removed = NULL, level = excluded.level, login = excluded.login, "
                           "slot = excluded.slot, character = excluded.character RETURNING id")),
          changed(prepare(db, "UPDATE accounts SET level = ?3, login = ?4, slot = ?5, "
                              "character = ?6 WHERE file = ?1 RETURNING id")),
          removed(prepare(db, "UPDATE accounts SET removed = ?2 WHERE file = ?1 RETURNING id")),
          peak(prepare(db, "UPDATE accounts SET peak_rank = ?3, peak_at = ?2 WHERE file = ?1 AND "
                           "(peak_rank IS NULL OR peak_rank > ?3)")),
          event(prepare(db, "INSERT INTO events(account, at, what, level, login, slot, character) "
                            "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)")) {}
    bool ready() const { return seen && changed && removed && peak && event; }

    // The statement run anew for `happened`, with its file and time bound.
    sqlite3_stmt *accountStatement(const AccountEvent &happened) const {
        sqlite3_stmt *statement = happened.what == AccountEvent::Seen      ? seen.get()
                                  : happened.what == AccountEvent::Changed ? changed.get()
                                  : happened.what == AccountEvent::Removed ? removed.get()
                                                                           : peak.get();
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        sqlite3_bind_blob(statement, 1, happened.state.file.constData(),
                          static_cast<int>(happened.state.file.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement, 2, happened.at);
        return statement;
    }

    // Writes one event: the account's row, and the event's own but for a best rank.
    bool write(const AccountEvent &happened) const {
        sqlite3_stmt *account = accountStatement(happened);
        if (happened.what == AccountEvent::Peak) {
            sqlite3_bind_int64(account, 3, happened.state.peakRank);
            return sqlite3_step(account) == SQLITE_DONE;
        }
        if (happened.what != AccountEvent::Removed)
            bindState(account, 3, happened.state);
        const int stepped = sqlite3_step(account);
        if (stepped == SQLITE_DONE)
            return true; // an account the file never had, changed or removed: nothing to tell
        if (stepped != SQLITE_ROW)
            return false;
        const int64_t id = sqlite3_column_int64(account, 0);
        if (sqlite3_step(account) != SQLITE_DONE)
            return false;
        sqlite3_reset(event.get());
        sqlite3_clear_bindings(event.get());
        sqlite3_bind_int64(event.get(), 1, id);
        sqlite3_bind_int64(event.get(), 2, happened.at);
        sqlite3_bind_int(event.get(), 3, happened.what);
        if (happened.what != AccountEvent::Removed)
            bindState(event.get(), 4, happened.state);
        return sqlite3_step(event.get()) == SQLITE_DONE;
    }
};

} // namespace

std::optional<HistoryFault> HistoryFile::record(const std::vector<AccountEvent> &events) {
    if (std::optional<HistoryFault> found = run("BEGIN IMMEDIATE", "write"))
        return found;
    bool written = false;
    {
        const Writing writing(db_);
        written = writing.ready();
        for (size_t i = 0; written && i < events.size(); ++i)
            written = writing.write(events[i]);
    } // the statements finished before the transaction ends
    std::optional<HistoryFault> found;
    if (!written || (found = run("COMMIT", "write"))) {
        if (!found)
            found = fault("write");
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return found;
    }
    // The log folded into the file after each batch, so that it never grows without bound.
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    return std::nullopt;
}

} // namespace orvantis
