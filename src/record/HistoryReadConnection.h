#pragma once
#include <QSqlDatabase>
#include <QString>

// A read-only connection of its own to a history file, for readers that run
// beside the recorder (CSV export, identification from a recorded period),
// on any thread. Nothing is created or converted and the writer's journal
// mode is left as it is; a writer mid-commit holds a statement up briefly
// rather than fail it. The connection is removed when this object goes.
class HistoryReadConnection {
public:
    explicit HistoryReadConnection(const QString& namePrefix);
    ~HistoryReadConnection();
    HistoryReadConnection(const HistoryReadConnection&) = delete;
    HistoryReadConnection& operator=(const HistoryReadConnection&) = delete;

    // False with the driver's error text.
    bool open(const QString& path, QString* error);
    QSqlDatabase& db() { return db_; }

private:
    QString name_;
    QSqlDatabase db_;
    bool added_ = false;
};
