#pragma once
#include "HistoryTypes.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

// Samples a recorder could not write: those beyond its in-memory hour while
// the history is away, and whatever it still holds when it stops (for the
// next start to write first). A local SQLite file, one table per ring,
// oldest first. Rows keep the ids they were taken with; written rows leave
// from the front.
class HistorySpool final {
public:
    explicit HistorySpool(const QString& connectionName);
    ~HistorySpool();
    HistorySpool(const HistorySpool&) = delete;
    HistorySpool& operator=(const HistorySpool&) = delete;

    // Opens or creates the file; rows left by an earlier run stay.
    bool open(const QString& path, QString* error = nullptr);
    bool isOpen() const;

    bool append(HistoryRing ring, const HistoryRow& row);
    // All of `rows`, in order, in one transaction: all or none.
    bool append(HistoryRing ring, const QList<HistoryRow>& rows);
    qint64 size(HistoryRing ring) const { return size_[ring == HistoryRing::Short ? 0 : 1]; }
    // The oldest `count` rows, oldest first.
    QList<HistoryRow> front(HistoryRing ring, int count);
    bool dropFront(HistoryRing ring, int count);
    // Numbers the rows on from `counter` round the ring, as a recorder does
    // when its ids could never be read; returns the last id given (`counter`
    // when there are none), nothing when the rows could not be renumbered.
    std::optional<qint32> renumberFrom(HistoryRing ring, qint32 counter);

    QString lastError() const { return lastError_; }

private:
    bool exec(const QString& sql);
    qint64 count(HistoryRing ring);

    QString connectionName_;
    QSqlDatabase db_;
    qint64 size_[2] = {0, 0};
    QString lastError_;
};
