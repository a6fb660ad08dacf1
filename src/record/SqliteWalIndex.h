#pragma once
#include <QSqlDatabase>
#include <QString>

// SQLite maps a WAL database's shared-memory index (the "-shm" file) into
// the process, writable. Once that file can no longer be written (made
// immutable under a running station, say) the next statement that touches
// the index, or the checkpoint SQLite runs when the last connection closes,
// ends the whole process with SIGBUS instead of returning an error. So a
// store asks before every statement and, when the answer is no, closes its
// connection without the checkpoint; it opens again once the file can be
// written. The other processes sharing the file are unaffected.
namespace SqliteWalIndex {

// False when `databasePath`'s index exists and cannot be written by this
// process (immutable, read-only, gone read-only file system); true when it
// can or does not exist (SQLite makes it when it opens the file).
bool writable(const QString& databasePath);

// The reason for messages: "shared-memory index <path>-shm cannot be written".
QString notWritableText(const QString& databasePath);

// Closes `db` (a QSQLITE connection on `databasePath`); skips the closing
// checkpoint when the index cannot be written, so closing cannot fault.
void close(QSqlDatabase& db, const QString& databasePath);

} // namespace SqliteWalIndex
