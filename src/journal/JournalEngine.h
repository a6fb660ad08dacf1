#pragma once
#include "HistoryLocation.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

class HistoryEngine;

// What differs between the databases the journal can live in: a SQLite file
// of its own, or the station's schema on the history server. How a
// connection is made and set up, how the tables are created (and how the id
// is assigned), the one search term SQL spells differently, and how a
// writer in trouble behaves. Every other query is one text both run
// (JournalStore holds them).
class JournalEngine {
public:
    virtual ~JournalEngine() = default;

    static std::unique_ptr<JournalEngine> create(const HistoryLocation& location);

    virtual bool isServer() const = 0;
    virtual QString driverName() const = 0;
    // The path or the URL without its password.
    virtual QString displayName() const = 0;
    // Before the connection opens; false with a reason.
    virtual bool prepare(QString* error) = 0;
    virtual void configure(QSqlDatabase& db, int busyTimeoutMs) const = 0;
    // After the connection opened: session settings, then the tables when
    // missing. False with a reason.
    virtual bool setUp(QSqlDatabase& db, QString* error) = 0;
    // A condition true when `column` contains the bound text (no wildcards).
    virtual QString containsTerm(const QString& column) const = 0;
    // False when the connection may still work but writes no longer reach
    // what readers see (a deleted file).
    virtual bool stillThere() const { return true; }
    // Why no statement may run on an open connection now (empty: any may);
    // such a connection is closed with closeConnection() and opened again.
    virtual QString unsafeReason() const { return {}; }
    virtual void closeConnection(QSqlDatabase& db) const { db.close(); }
    // A failed statement may mean a connection that cannot recover (a lost
    // server; a file opened while it was read-only stays read-only for that
    // connection): open a new one next time.
    virtual bool reconnectAfterFailure() const { return true; }
    virtual int retryIntervalMs() const { return 1000; }
};
