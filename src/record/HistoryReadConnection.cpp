#include "HistoryReadConnection.h"
#include "HistoryEngine.h"
#include "HistoryLocation.h"
#include "SqliteWalIndex.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace {
std::atomic<int> connectionCounter{0};
}

HistoryReadConnection::HistoryReadConnection(const QString& namePrefix)
    : name_(QStringLiteral("%1-%2").arg(namePrefix).arg(connectionCounter.fetch_add(1)))
{
}

HistoryReadConnection::~HistoryReadConnection()
{
    if (!added_)
        return;
    watch_.reset();
    if (!path_.isEmpty())
        SqliteWalIndex::close(db_, path_);
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

bool HistoryReadConnection::fail(const QString& reason, QString* error)
{
    if (error)
        *error = reason;
    return false;
}

bool HistoryReadConnection::open(const QString& location, QString* error)
{
    QString reason;
    const auto parsed = HistoryLocation::parse(withDefaultStation(location, 1), &reason);
    displayName_ = parsed ? parsed->displayText() : redactedLocation(location);
    if (!parsed)
        return fail(reason, error);
    // Opening a missing file would create it.
    if (!parsed->server && !QFileInfo(parsed->path).isFile())
        return fail(QStringLiteral("no database at %1").arg(displayName_), error);
    if (!parsed->server && !SqliteWalIndex::writable(parsed->path))
        return fail(SqliteWalIndex::notWritableText(parsed->path), error);

    const auto engine = HistoryEngine::create(*parsed);
    db_ = QSqlDatabase::addDatabase(engine->driverName(), name_);
    added_ = true;
    if (!parsed->server) {
        path_ = parsed->path;
        db_.setDatabaseName(parsed->path);
        db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db_.open())
            return fail(QStringLiteral("cannot open %1: %2").arg(displayName_, db_.lastError().text().trimmed()),
                        error);
    } else {
        engine->configure(db_);
        if (!db_.open())
            return fail(QStringLiteral("cannot open %1: %2").arg(displayName_, db_.lastError().text().trimmed()),
                        error);
        watch_ = ServerWatchdog::watch(db_);
        const QString note = engine->setUp(db_);
        if (!note.isEmpty())
            return fail(note, error);
        QSqlQuery q(db_);
        // The session cannot write, whatever a later caller runs on it.
        if (!q.exec(QStringLiteral("set default_transaction_read_only = on")))
            return fail(QStringLiteral("cannot open %1: %2").arg(displayName_, q.lastError().text().trimmed()), error);
    }
    // A file that is no database, or one without any table, is named as
    // such here rather than by the first query that trips on it. A file may
    // hold only the ring a reader needs (built by hand): the reader's own
    // query says which table is missing.
    QSqlQuery q(db_);
    if (!q.exec(engine->tableCountQuery()) || !q.next())
        return fail(QStringLiteral("cannot read %1: %2").arg(displayName_, q.lastError().text().trimmed()), error);
    const int tables = q.value(0).toInt();
    if (parsed->server && tables < 3)
        return fail(QStringLiteral("no history for station %1 at %2").arg(parsed->station, displayName_), error);
    if (tables == 0)
        return fail(QStringLiteral("no history tables in %1").arg(displayName_), error);
    return true;
}
