#pragma once
#include "JournalEvent.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

// Journal work a writer could not write before it stopped (new events,
// result updates of stored rows, acknowledgements), in order, for the next
// writer on the same journal to write first. A local SQLite file of its own
// (journalSpoolPathFor()); entries leave from the front once written.
class JournalSpool final {
public:
    struct Entry {
        enum Type { Append = 0, Update = 1, Ack = 2 };
        qint64 key = 0; // position in the spool, set by append() and all()
        Type type = Append;
        JournalEvent event;  // Append; Ack: time and operator
        qint64 targetId = 0; // Update: the stored row
        QString result;      // Update
        QList<qint64> ids;   // Ack
    };

    explicit JournalSpool(QString connectionName);
    ~JournalSpool();
    JournalSpool(const JournalSpool&) = delete;
    JournalSpool& operator=(const JournalSpool&) = delete;

    // Opens or creates the file; entries left by an earlier run stay.
    bool open(const QString& path);
    bool isOpen() const;
    // All of `entries`, in order, in one transaction (all or none); sets their keys.
    bool append(QList<Entry>& entries);
    // Every entry, oldest first.
    QList<Entry> all();
    // Removes the entries up to and including `key`.
    bool dropThrough(qint64 key);
    QString lastError() const { return error_; }

private:
    bool exec(const QString& sql);

    QString connectionName_;
    QSqlDatabase db_;
    QString error_;
};

// Where the journal at `location` (a file or a server URL) keeps its spool:
// "Journal-spool.db" beside "Journal.db"; for a server, a file per station
// in this user's application data folder.
QString journalSpoolPathFor(const QString& location);
