#include "SqliteWalIndex.h"

#include <QFile>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>
#include <unistd.h>

namespace {
QString indexPath(const QString& databasePath) { return databasePath + QStringLiteral("-shm"); }
} // namespace

bool SqliteWalIndex::writable(const QString& databasePath)
{
    const QByteArray path = QFile::encodeName(indexPath(databasePath));
    // access() asks the kernel, which refuses an immutable file even to root.
    return ::access(path.constData(), F_OK) != 0 || ::access(path.constData(), W_OK) == 0;
}

QString SqliteWalIndex::notWritableText(const QString& databasePath)
{
    return QStringLiteral("shared-memory index %1 cannot be written").arg(indexPath(databasePath));
}

void SqliteWalIndex::close(QSqlDatabase& db, const QString& databasePath)
{
    if (db.isOpen() && !writable(databasePath)) {
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
            if (sqlite3* h = *static_cast<sqlite3* const*>(handle.constData()))
                sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        }
    }
    db.close();
}
