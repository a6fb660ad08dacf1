#pragma once
#include "JournalStore.h"

#include <QAbstractTableModel>
#include <QSet>

class JournalReader;

// A kind's word as the operator reads it, in the interface's language; the
// journal file and its CSV export keep the Chinese word.
QString shownKind(const QString& kind);
// A stored journal text in the interface's language where it is one the
// station writes; any other text as stored.
QString shownMessage(const QString& message);

// The journal as a table, newest first, fetched a page at a time as the
// view scrolls (the reader answers on its own thread): opening 200 000
// events costs one page. New events and result changes come in as they are
// stored.
class JournalModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Loop last: the window hides it while no event belongs to a loop.
    enum Column { Time, Kind, Source, Message, Values, Result, Operator, Loop, ColumnCount };
    static constexpr int kPageSize = 200;

    JournalModel(JournalReader& reader, QObject* parent = nullptr);

    void setFilter(const JournalFilter& filter);

    const JournalEvent& event(int row) const { return rows_.at(row); }
    bool needsAcknowledgement(int row) const;
    void markAcknowledged(const QList<qint64>& ids);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

public Q_SLOTS:
    // A new event reached the database: fetch what is newer than the top row.
    void onEventStored();
    void onResultStored(qint64 id, const QString& result);

Q_SIGNALS:
    void totalCountChanged(int count);
    // Rows came in that belong to these loops (addresses).
    void loopsSeen(const QList<int>& loops);
    void pageLoaded();

private:
    void onPage(int request, const QList<JournalEvent>& rows, const QList<bool>& acknowledged);
    void onCount(int request, int count);
    void requestNewer();
    void noteLoops(const QList<JournalEvent>& rows);

    JournalReader& reader_;
    JournalFilter filter_;
    QList<JournalEvent> rows_;
    QList<bool> acked_;
    bool atEnd_ = false;
    int pageRequest_ = 0;
    int newerRequest_ = 0;
    bool newerAgain_ = false;
    int countRequest_ = 0;
    int total_ = -1;
};
