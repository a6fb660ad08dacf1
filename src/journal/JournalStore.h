#pragma once
#include "JournalEvent.h"
#include "RecordLog.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include "ServerWatchdog.h"

class JournalEngine;
class QIODevice;

// Which events a reader wants: all of them when every field is empty.
struct JournalFilter {
    QString kind;                    // one of JournalKind; empty = every kind
    QDateTime fromUtc;               // inclusive; invalid = no lower bound
    QDateTime toUtc;                 // exclusive; invalid = no upper bound
    QString text;                    // found in source, message, values, result or operator
    qint64 afterId = 0;              // only rows newer than this id (0 = no bound)
    int loop = 0;                    // an address: that loop's events; kStationOnly: those of no loop; 0 = all
    bool unacknowledgedOnly = false; // only raised alarms still waiting for 确认
    static constexpr int kStationOnly = -1;
};

// Where the journal lives: `journalOption` (--journal, a file) when given;
// otherwise the station's schema on the history server when the history is
// a server URL (without a station: the one at `address`), or Journal.db in
// the history file's folder.
QString journalLocationFor(const QString& journalOption, const QString& historyLocation, int address = 1);

// One connection to the journal database (a SQLite file, or the station's
// schema on the history server) and every SQL text the journal uses. The
// events table is the published layout; acknowledgements live in a table of
// their own so that layout never changes. Not thread-safe: each thread opens
// its own store under its own connection name.
class JournalStore {
public:
    static constexpr int kDefaultBound = 200000;
    static constexpr int kBusyTimeoutMs = 200;

    explicit JournalStore(QString connectionName);
    ~JournalStore();
    JournalStore(const JournalStore&) = delete;
    JournalStore& operator=(const JournalStore&) = delete;

    // How long a statement waits for another connection's write to end
    // (a file journal); takes effect at the next open().
    void setBusyTimeout(int ms) { busyTimeoutMs_ = ms; }

    // Opens a file path (SQLite, WAL) or a server URL with its station (as
    // --database takes it), creating the file, schema and tables when missing.
    bool open(const QString& location);
    void close();
    // False also after a failure on a server connection, which may be lost:
    // the next open() makes a new one.
    bool isOpen() const;
    QString path() const { return path_; }
    QString lastError() const { return error_; }
    bool isServer() const;
    // False when writes no longer reach what readers see (a deleted file).
    bool stillThere() const;
    // How often a writer in trouble tries again.
    int retryIntervalMs() const;

    // Newest `bound` events are kept; older ones go in the same transaction
    // as the insert that pushes them out.
    void setBound(int bound) { bound_ = bound; }

    // Stores the events in one transaction and sets their ids; on failure
    // nothing is stored and the events are untouched.
    bool append(QList<JournalEvent>& events);
    bool updateResult(qint64 id, const QString& result);
    // Marks alarm events acknowledged; returns false and changes nothing on failure.
    bool acknowledge(const QList<qint64>& ids, const QDateTime& utc, const QString& operatorName);
    // Counted when the file is opened and kept up to date by this
    // connection's own changes; -1 when it cannot be read.
    int unacknowledgedAlarms() const { return unacked_; }
    // The same count by loop (0: events of no loop); loops without any are
    // left out. Empty while the total is -1.
    QHash<int, int> unacknowledgedAlarmsByLoop() const { return unackedByLoop_; }

    // Newest first, ids below `beforeId` (0 = from the newest), at most `limit`.
    QList<JournalEvent> page(const JournalFilter& filter, qint64 beforeId, int limit,
                             QList<bool>* acknowledged = nullptr);
    int count(const JournalFilter& filter);
    // The loops that have events, ascending (empty for a station of one
    // instrument, or when it cannot be read).
    QList<int> loops();
    // Writes every matching event, newest first, as CSV with a UTF-8 byte
    // order mark; returns the number of rows or -1.
    int exportCsv(const JournalFilter& filter, QIODevice& out);

    static QString csvField(const QString& text);

private:
    bool fail(const QString& what, const QString& error);
    // Open and safe to run a statement on; otherwise closed, with the reason.
    bool usable(const QString& what);
    QString where(const JournalFilter& filter, QVariantList* binds) const;
    // Carries the counts along a change (by loop, negative for fewer).
    void addUnacknowledged(const QHash<int, int>& changes);

    QString connectionName_;
    QString path_;
    std::unique_ptr<JournalEngine> engine_;
    bool broken_ = false;
    QSqlDatabase db_;
    std::unique_ptr<ServerWatchdog::Watch> watch_; // a server connection's silence bound; reset before db_ closes
    QString error_;
    int bound_ = kDefaultBound;
    int busyTimeoutMs_ = kBusyTimeoutMs;
    int unacked_ = -1;
    QHash<int, int> unackedByLoop_;
    RepeatedFailureLog failureLog_;
};
