#include "HistoryReadConnection.h"

#include <QSqlError>
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
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

bool HistoryReadConnection::open(const QString& path, QString* error)
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    added_ = true;
    db_.setDatabaseName(path);
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    if (db_.open())
        return true;
    if (error)
        *error = db_.lastError().text().trimmed();
    return false;
}
