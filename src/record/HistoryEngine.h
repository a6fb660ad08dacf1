#pragma once
#include "HistoryLocation.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

// Why a server cannot be used, from an error text of the store or the journal
// (SQL states in brackets, the client library's own words otherwise).
enum class ServerTrouble { Unreachable, PasswordRefused, NoRight, ForeignLayout };
ServerTrouble serverTroubleOf(const QString& errorText);
// Marks a layout problem so that serverTroubleOf() recognises it.
inline constexpr char kForeignLayoutMark[] = "foreign table layout";

// What differs between the databases a HistoryStore can sit on: how a
// connection is made and set up, how the station's tables are found and
// created, how a write transaction starts. The queries themselves are one
// text that every engine runs alike (HistoryStore holds them).
class HistoryEngine {
public:
    virtual ~HistoryEngine() = default;

    // The engine for a location, chosen once when a store opens.
    static std::unique_ptr<HistoryEngine> create(const HistoryLocation& location);

    virtual QString driverName() const = 0;
    // For messages: the file path or the URL without its password.
    virtual QString displayName() const = 0;
    // Before the connection opens (the file's folder, stale journal files);
    // false with a reason when the store cannot be used.
    virtual bool prepare(QString* error) = 0;
    virtual void configure(QSqlDatabase& db) const = 0;
    // After the connection opened: session settings. Returns what could not
    // be set, for the log (empty: all set).
    virtual QString setUp(QSqlDatabase& db) = 0;
    // One row, one column: how many tables the station has (0: create them).
    virtual QString tableCountQuery() const = 0;
    // Run in order inside the creating transaction before the count is taken
    // again; they serialise two creators of the same tables.
    virtual QStringList beginCreate() const = 0;
    virtual QStringList schema() const = 0;
    // Starts a write transaction that holds its write lock from the start.
    virtual QString beginWrite() const = 0;
    // False when the connection may still work but writes no longer reach
    // what readers see (a deleted file).
    virtual bool stillThere() const { return true; }
    // Why no statement may run on an open connection now (empty: any may);
    // such a connection is closed with closeConnection() and opened again.
    virtual QString unsafeReason() const { return {}; }
    virtual void closeConnection(QSqlDatabase& db) const { db.close(); }
    // How often a recorder in trouble tries again, and what the status line
    // says while it cannot reach the store (empty: the recorder's own texts).
    virtual int retryIntervalMs() const { return 1000; }
    // `problem` is the store's last error: the text names why a server
    // cannot be used when that is known (password, rights, table layout).
    virtual QString unreachableText(const QString& problem) const
    {
        Q_UNUSED(problem);
        return {};
    }
    // After opening an existing station: why its tables are not the ones the
    // station writes (empty: they are, or the engine does not check).
    virtual QString layoutProblem(QSqlDatabase& db) const
    {
        Q_UNUSED(db);
        return {};
    }
    // Where a recorder spills samples beyond its in-memory hour while the
    // store is away, and what it holds when it stops (empty: none).
    virtual QString spoolPath() const = 0;
};
