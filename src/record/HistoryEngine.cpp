#include "HistoryEngine.h"

#include <QCoreApplication>
#include "HistoryStore.h"
#include "RecordLog.h"
#include "RingSchema.h"
#include "SqliteWalIndex.h"
#include "ServerWatchdog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <algorithm>

namespace {

// One file, created with the tables when missing.
class SqliteEngine final : public HistoryEngine {
public:
    explicit SqliteEngine(const QString& path) : path_(path) {}

    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    QString displayName() const override { return path_; }

    bool prepare(QString* error) override
    {
        const QFileInfo info(path_);
        if (info.exists()) {
            if (SqliteWalIndex::writable(path_))
                return true;
            *error = SqliteWalIndex::notWritableText(path_);
            return false;
        }
        if (!QDir().mkpath(info.absolutePath())) {
            *error = QStringLiteral("cannot create folder %1").arg(info.absolutePath());
            return false;
        }
        // Log and shared-memory files without their database belong to a
        // deleted file that other connections may still have open; a new file
        // must not share them with it.
        for (const char* suffix : {"-wal", "-shm", "-journal"})
            QFile::remove(path_ + QLatin1String(suffix));
        return true;
    }

    void configure(QSqlDatabase& db) const override
    {
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(HistoryStore::kBusyTimeoutMs));
    }

    QString setUp(QSqlDatabase& db) override
    {
        // Both may fail on a read-only file; reading still works then.
        QSqlQuery q(db);
        QString note;
        if (!q.exec(QStringLiteral("pragma journal_mode=WAL")) || !q.next()
            || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            note = QStringLiteral("journal mode WAL not set on %1 %2").arg(path_, q.lastError().text());
        if (!q.exec(QStringLiteral("pragma synchronous=FULL")))
            note += QStringLiteral(" synchronous FULL not set on %1 %2").arg(path_, q.lastError().text());
        return note.trimmed();
    }

    QString tableCountQuery() const override
    {
        return QStringLiteral("select count(*) from sqlite_master where type='table'");
    }
    // Takes the write lock up front: a deferred transaction that reads first
    // can fail on the upgrade without waiting for the lock.
    QStringList beginCreate() const override { return {beginWrite()}; }
    QStringList schema() const override
    {
        return RingSchema::schema(QStringLiteral("INTEGER"), QStringLiteral("REAL"));
    }
    QString beginWrite() const override { return QStringLiteral("begin immediate"); }
    // A file deleted under an open connection still takes writes on some
    // systems, into a file nobody will see again.
    bool stillThere() const override { return QFileInfo::exists(path_); }
    QString unsafeReason() const override
    {
        return SqliteWalIndex::writable(path_) ? QString() : SqliteWalIndex::notWritableText(path_);
    }
    void closeConnection(QSqlDatabase& db) const override { SqliteWalIndex::close(db, path_); }
    // Beside the file: "Rdatabj-spool.db" for "Rdatabj.db".
    QString spoolPath() const override
    {
        const QFileInfo info(path_);
        return info.dir().filePath(info.completeBaseName() + QStringLiteral("-spool.db"));
    }

private:
    QString path_;
};

// One schema per station in a shared database; the session's search path
// points at it, so the table names are the file's.
class PostgresEngine final : public HistoryEngine {
public:
    explicit PostgresEngine(const HistoryLocation& l) : l_(l) {}

    QString driverName() const override { return QStringLiteral("QPSQL"); }
    QString displayName() const override { return l_.displayText(); }
    bool prepare(QString* error) override
    {
        if (ServerWatchdog::stopping()) {
            // A connection attempt may take the whole connect timeout.
            *error = QStringLiteral("station stopping: no new connection to %1").arg(displayName());
            return false;
        }
        if (isValidHistoryStation(l_.station))
            return true;
        *error = QStringLiteral("%1 names no usable station").arg(displayName());
        return false;
    }

    void configure(QSqlDatabase& db) const override
    {
        db.setHostName(l_.host);
        if (l_.port != -1)
            db.setPort(l_.port);
        db.setDatabaseName(l_.database);
        db.setUserName(l_.user);
        // Empty: the client library looks in ~/.pgpass or PGPASSFILE.
        db.setPassword(l_.password);
        db.setConnectOptions(withNetworkBounds(l_.options));
    }

    QString setUp(QSqlDatabase& db) override
    {
        // Set before the schema exists, too: creation then lands in it. A
        // station's writes wait for a lock at most this long.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("set search_path to %1").arg(schemaName())))
            return QStringLiteral("search path not set on %1 %2").arg(displayName(), q.lastError().text());
        q.exec(QStringLiteral("set lock_timeout = %1").arg(HistoryStore::kLockTimeoutMs));
        // A slow statement ends here, cleanly, before the watchdog cuts the line.
        q.exec(QStringLiteral("set statement_timeout = %1").arg(ServerWatchdog::kStatementTimeoutMs));
        // "already exists, skipping" from the history and the journal
        // creating the same schema is no news for the log.
        q.exec(QStringLiteral("set client_min_messages = warning"));
        return {};
    }

    QString tableCountQuery() const override
    {
        // Only the history's own tables: the journal's share the schema.
        return QStringLiteral("select count(*) from pg_catalog.pg_tables where schemaname = '%1' and tablename in %2")
            .arg(l_.station, RingSchema::tableList());
    }
    QStringList beginCreate() const override
    {
        return {QStringLiteral("begin"),
                QStringLiteral("select pg_advisory_xact_lock(hashtext('px5800 schema %1'))").arg(l_.station),
                // Looked up first: a role that owns its schema but may not
                // create schemas in the database is refused even "if not
                // exists" before the schema is seen.
                QStringLiteral("do $$ begin if not exists (select 1 from pg_catalog.pg_namespace where nspname = '%1') "
                               "then create schema %2; end if; end $$")
                    .arg(l_.station, schemaName())};
    }
    QStringList schema() const override
    {
        return RingSchema::schema(QStringLiteral("integer"), QStringLiteral("double precision"));
    }
    QString beginWrite() const override { return QStringLiteral("begin"); }
    int retryIntervalMs() const override { return 5000; }
    QString unreachableText(const QString& problem) const override
    {
        switch (serverTroubleOf(problem)) {
        case ServerTrouble::PasswordRefused: return QCoreApplication::translate("Recorder", "历史服务器拒绝密码");
        case ServerTrouble::NoRight: return QCoreApplication::translate("Recorder", "历史服务器无权写入");
        case ServerTrouble::ForeignLayout: return QCoreApplication::translate("Recorder", "历史服务器表结构不符");
        case ServerTrouble::Unreachable: break;
        }
        return QCoreApplication::translate("Recorder", "历史服务器无法连接");
    }
    QString layoutProblem(QSqlDatabase& db) const override
    {
        static const QStringList expected = RingSchema::layout();
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select table_name || '(' || string_agg(column_name, ',' order by ordinal_position) "
                                   "|| ')' from information_schema.columns where table_schema = '%1' and table_name in "
                                   "%2 group by table_name order by table_name")
                        .arg(l_.station, RingSchema::tableList())))
            return {}; // the first write says what is wrong
        QStringList found;
        while (q.next())
            found << q.value(0).toString();
        if (found == expected)
            return {};
        return QStringLiteral("%1 in schema %2 of %3: %4")
            .arg(QLatin1String(kForeignLayoutMark), l_.station, displayName(), found.join(QLatin1Char(' ')));
    }
    // On this PC, so a day without the server loses nothing.
    QString spoolPath() const override
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
               + QStringLiteral("/history-spool-%1.db").arg(l_.station);
    }

private:
    // The client library waits on a silent network for as long as the
    // kernel does (a quarter of an hour): probe an idle connection, give up
    // on unacknowledged data, as the URL does not say otherwise. Unix
    // sockets ignore these.
    static QString withNetworkBounds(const QString& options)
    {
        QStringList out = options.isEmpty() ? QStringList() : options.split(QLatin1Char(';'));
        const auto add = [&out](const char* key, int value) {
            const QString k = QLatin1String(key) + QLatin1Char('=');
            if (std::none_of(out.begin(), out.end(), [&k](const QString& o) { return o.startsWith(k); }))
                out << k + QString::number(value);
        };
        add("keepalives", 1);
        add("keepalives_idle", 5);
        add("keepalives_interval", 1);
        add("keepalives_count", 3);
        add("tcp_user_timeout", ServerWatchdog::kSilenceLimitMs);
        return out.join(QLatin1Char(';'));
    }

    // Validated as lower-case letters, digits and _; quoted all the same.
    QString schemaName() const { return QLatin1Char('"') + l_.station + QLatin1Char('"'); }

    HistoryLocation l_;
};

} // namespace

ServerTrouble serverTroubleOf(const QString& text)
{
    // The driver puts a statement's SQL state in parentheses, the store
    // adds it in brackets.
    const auto state = [&text](const char* code) {
        const QString c = QLatin1String(code);
        return text.contains(QLatin1Char('(') + c + QLatin1Char(')'))
               || text.contains(QLatin1Char('[') + c + QLatin1Char(']'));
    };
    if (text.contains(QLatin1String(kForeignLayoutMark)) || state("42703") || state("42P01") || state("42804"))
        return ServerTrouble::ForeignLayout;
    // A refused login carries no SQL state, only the server's words.
    if (state("28P01") || text.contains(QLatin1String("password authentication failed"))
        || text.contains(QLatin1String("no password supplied")))
        return ServerTrouble::PasswordRefused;
    if (state("42501") || state("28000") || text.contains(QLatin1String("permission denied"))
        || text.contains(QLatin1String("not permitted to log in")))
        return ServerTrouble::NoRight;
    return ServerTrouble::Unreachable;
}

std::unique_ptr<HistoryEngine> HistoryEngine::create(const HistoryLocation& location)
{
    if (location.server)
        return std::make_unique<PostgresEngine>(location);
    return std::make_unique<SqliteEngine>(location.path);
}
