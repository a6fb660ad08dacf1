#pragma once
#include "HistoryTypes.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <memory>

class HistoryEngine;
#include "ServerWatchdog.h"

// One connection to the station's history: a SQLite file or a schema on a
// PostgreSQL server (HistoryEngine), chosen by open() from the location. The
// recorder, the main window and the history window each own one, under their
// own connection name (which must be unique while the store is open).
// Everything runs on the thread that opened it.
class HistoryStore final : public HistorySource {
public:
    // How long a statement waits for another process's lock before it fails.
    // Kept short: the store is used from the GUI thread, and the recorder
    // keeps samples in memory rather than wait.
    static constexpr int kBusyTimeoutMs = 50;
    // A server's write waits for another session's lock at most this long.
    static constexpr int kLockTimeoutMs = 2000;

    explicit HistoryStore(const QString& connectionName);
    ~HistoryStore() override;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens `location`, a file path or a server URL (HistoryLocation). A
    // missing file (and folder), or a station schema without tables, is
    // created with the three tables, the id indexes and the counter row
    // (0, 0, 0, 0). Existing tables are never altered (an existing file
    // without any table, such as an empty file, gets the three tables). A file
    // runs in journal mode WAL, synchronous FULL. Closes a connection this
    // store had open before. Errors never show a password.
    bool open(const QString& location, QString* error = nullptr);
    void close();
    bool isOpen() const;
    QString path() const { return path_; } // as given to open(): may hold a password
    // The location for messages: the path or the URL without its password.
    QString displayName() const;
    // False when the store looks open but its writes would be lost (a file
    // deleted under the connection).
    bool stillThere() const;
    // For a recorder: how often to try again while the store is unusable, and
    // the status text meanwhile (empty: the recorder's own).
    int retryIntervalMs() const;
    QString unreachableText() const;
    QString spoolPath() const; // empty: none
    QString databasePath() const override { return isOpen() ? path_ : QString(); }
    // Whether the last successful open() created the tables.
    bool createdSchema() const { return createdSchema_; }

    // "select * from  sl_void", first row.
    std::optional<HistoryCounters> readCounters();
    std::optional<qint32> newestId(HistoryRing ring) override;

    // Stores one sample under `id` (overwriting the row with that id or
    // appending it) and sets the ring's two counter columns to `id`, in one
    // transaction: the counter never names a row that was not written.
    bool writeSample(HistoryRing ring, qint32 id, const OleStamp& stamp, const std::array<float, 4>& values,
                     QString* error = nullptr);
    // The same for a run of samples, in order, in one transaction; the
    // counter ends at the last row's id. Nothing is written on failure.
    bool writeSamples(HistoryRing ring, const QList<HistoryRow>& rows, QString* error = nullptr);

    // The page query text, bounds written ascending in the no-wrap case.
    static QString pageQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
    // What loadPage() runs: the rows of pageQuery() in its order, read
    // through the id index across the wrap too.
    static QString pageReadQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
    // At most `pageSize` rows of pageQuery(), in its order; nothing when the
    // query or a fetch failed.
    std::optional<QVector<HistoryRow>> loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize) override;
    // By halving id ranges: exact while ids rise with time within each lap.
    std::optional<qint32> idNearest(HistoryRing ring, double date, double time) override;

    // The recorder's row lookup, "select * from  pv_data where w_id=" + id.
    static QString sampleQuery(HistoryRing ring, qint32 id);

    QString lastError() const { return lastError_; }

private:
    bool fail(const QString& message, QString* error);
    // Open and safe to run a statement on; otherwise closed, with the reason.
    bool usable();
    bool createSchema(QString* error);
    // The write statements of a ring, prepared once per connection: a
    // server otherwise spends a round trip on each prepare and release.
    struct WriteStatements {
        explicit WriteStatements(const QSqlDatabase& db) : find(db), update(db), insert(db), counter(db) {}
        QSqlQuery find, update, insert, counter;
    };
    WriteStatements* writeStatements(HistoryRing ring, QString* message);

    QString connectionName_;
    QString path_;
    QString lastError_;
    std::unique_ptr<HistoryEngine> engine_;          // from the last open(), kept when it failed
    QString pragmaNote_;                             // last set-up problem told, so a retried open does not repeat it
    QSqlDatabase db_;                                // reset before the connection is removed
    std::unique_ptr<WriteStatements> statements_[2]; // short, long; gone before the connection closes
    std::unique_ptr<ServerWatchdog::Watch> watch_;   // a server connection's silence bound
    bool added_ = false;
    bool createdSchema_ = false;
};

// Rdatabj.db in the user's application data folder.
QString defaultDatabasePath();
