#pragma once
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include "ServerWatchdog.h"

// A read-only connection of its own to a history (a file or a station's
// schema on a server), for readers that run beside the recorder (CSV export,
// identification from a recorded period), on any thread. Nothing is created
// or converted and the writer's journal mode is left as it is; a writer
// mid-commit holds a statement up briefly rather than fail it. The
// connection is removed when this object goes.
class HistoryReadConnection {
public:
    explicit HistoryReadConnection(const QString& namePrefix);
    ~HistoryReadConnection();
    HistoryReadConnection(const HistoryReadConnection&) = delete;
    HistoryReadConnection& operator=(const HistoryReadConnection&) = delete;

    // `location` as --database takes it; a server URL without a station
    // reads the station at address 1. False with a reason that names the
    // location without its password.
    bool open(const QString& location, QString* error);
    QSqlDatabase& db() { return db_; }
    // The location for messages (no password).
    QString displayName() const { return displayName_; }

private:
    bool fail(const QString& reason, QString* error);

    QString name_;
    QString displayName_;
    QString path_; // a file's; empty for a server
    QSqlDatabase db_;
    std::unique_ptr<ServerWatchdog::Watch> watch_; // reset before db_ closes
    bool added_ = false;
};
