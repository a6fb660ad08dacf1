#include "JournalEngine.h"
#include "HistoryEngine.h"
#include "JournalStore.h"
#include "SqliteWalIndex.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// The columns are the published layout: same names, order and types on
// every engine. %1 is how the id column is declared (its assignment).
// `loop` came later: a journal made before it gets it appended on opening
// (addLoopColumn), so old and new journals have one layout.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS events(id %1, time_utc TEXT NOT NULL, kind TEXT NOT NULL, "
    "source TEXT NOT NULL, message TEXT NOT NULL, old_value TEXT, new_value TEXT, result TEXT, operator TEXT, "
    "loop INTEGER)",
    "CREATE INDEX IF NOT EXISTS events_time_utc ON events(time_utc)",
    "CREATE INDEX IF NOT EXISTS events_kind ON events(kind)",
    "CREATE TABLE IF NOT EXISTS acks(event_id INTEGER PRIMARY KEY, time_utc TEXT NOT NULL, operator TEXT)",
};

QStringList schemaWith(const QString& idColumn)
{
    QStringList out;
    for (const char* sql : kSchema)
        out << QString::fromLatin1(sql).replace(QLatin1String("%1"), idColumn);
    return out;
}

bool run(QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = QStringLiteral("%1: %2").arg(sql.left(40), q.lastError().text().trimmed());
    return false;
}

const QString kAddLoop = QStringLiteral("ALTER TABLE events ADD COLUMN loop INTEGER");

class SqliteJournal final : public JournalEngine {
public:
    explicit SqliteJournal(QString path) : path_(std::move(path)) {}

    bool isServer() const override { return false; }
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    QString displayName() const override { return path_; }

    bool prepare(QString* error) override
    {
        const QFileInfo info(path_);
        if (!SqliteWalIndex::writable(path_)) {
            *error = SqliteWalIndex::notWritableText(path_);
            return false;
        }
        if (info.dir().exists() || QDir().mkpath(info.absolutePath()))
            return true;
        *error = QStringLiteral("folder %1 cannot be made").arg(info.absolutePath());
        return false;
    }

    void configure(QSqlDatabase& db, int busyTimeoutMs) const override
    {
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    }

    bool setUp(QSqlDatabase& db, QString* error) override
    {
        // WAL lets the window read while the writer writes.
        if (!run(db, QStringLiteral("PRAGMA journal_mode=WAL"), error)
            || !run(db, QStringLiteral("PRAGMA synchronous=NORMAL"), error))
            return false;
        // SQLite hands out the next id itself (the row id).
        for (const QString& sql : schemaWith(QStringLiteral("INTEGER PRIMARY KEY")))
            if (!run(db, sql, error))
                return false;
        if (hasLoopColumn(db))
            return true;
        // Adding a nullable column rewrites no row. Another connection may
        // add it first: then ours fails, and the column is there all the same.
        QString addError;
        if (run(db, kAddLoop, &addError) || hasLoopColumn(db))
            return true;
        *error = addError;
        return false;
    }

    QString containsTerm(const QString& column) const override
    {
        return QStringLiteral("instr(%1, ?) > 0").arg(column);
    }

    static bool hasLoopColumn(QSqlDatabase& db)
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('events') WHERE name = 'loop'")))
            return false;
        return q.next() && q.value(0).toInt() == 1;
    }
    bool stillThere() const override { return QFileInfo::exists(path_); }
    QString unsafeReason() const override
    {
        return SqliteWalIndex::writable(path_) ? QString() : SqliteWalIndex::notWritableText(path_);
    }
    void closeConnection(QSqlDatabase& db) const override { SqliteWalIndex::close(db, path_); }

private:
    QString path_;
};

// The station's schema on the history server, beside its history tables.
class PostgresJournal final : public JournalEngine {
public:
    explicit PostgresJournal(const HistoryLocation& l) : l_(l), history_(HistoryEngine::create(l)) {}

    bool isServer() const override { return true; }
    QString driverName() const override { return history_->driverName(); }
    QString displayName() const override { return history_->displayName(); }
    bool prepare(QString* error) override { return history_->prepare(error); }
    void configure(QSqlDatabase& db, int busyTimeoutMs) const override
    {
        Q_UNUSED(busyTimeoutMs); // the server session's lock timeout is the history's
        history_->configure(db);
    }

    bool setUp(QSqlDatabase& db, QString* error) override
    {
        // The same session settings as the history's: search path (so the
        // table names are the file's) and lock timeout.
        if (const QString note = history_->setUp(db); !note.isEmpty()) {
            *error = note;
            return false;
        }
        // Nothing to create, nothing asked of the role's privileges (one
        // that owns its schema need not be allowed to create schemas).
        // Altering a table asks for its ownership: only a journal without
        // the loop column is altered.
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select (select count(*) from pg_catalog.pg_tables where schemaname = '%1' "
                                  "and tablename in ('events', 'acks')), "
                                  "(select count(*) from information_schema.columns where table_schema = '%1' "
                                  "and table_name = 'events' and column_name = 'loop')")
                       .arg(l_.station))
            && q.next() && q.value(0).toInt() == 2 && q.value(1).toInt() == 1)
            return true;
        q.finish();
        // Under the history's own creation lock, so the history, this and
        // other journal connections never race on the schema ("if not
        // exists" alone does).
        QStringList steps = history_->beginCreate();
        steps << schemaWith(QStringLiteral("integer generated by default as identity primary key"));
        steps << QStringLiteral("alter table events add column if not exists loop integer");
        steps << QStringLiteral("commit");
        for (const QString& sql : steps) {
            if (!run(db, sql, error)) {
                QSqlQuery(db).exec(QStringLiteral("rollback"));
                return false;
            }
        }
        return true;
    }

    QString containsTerm(const QString& column) const override
    {
        return QStringLiteral("strpos(%1, ?) > 0").arg(column);
    }
    // Like the recorder's: a server that is away is not asked more often.
    int retryIntervalMs() const override { return history_->retryIntervalMs(); }

private:
    HistoryLocation l_;
    std::unique_ptr<HistoryEngine> history_;
};

} // namespace

std::unique_ptr<JournalEngine> JournalEngine::create(const HistoryLocation& location)
{
    if (location.server)
        return std::make_unique<PostgresJournal>(location);
    return std::make_unique<SqliteJournal>(location.path);
}
