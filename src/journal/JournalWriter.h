#pragma once
#include "JournalEvent.h"
#include "JournalSpool.h"
#include "JournalStore.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <deque>
#include <memory>

class QTimer;

// The journal's disk side; lives on its own thread. Work arrives in order
// (new events, result updates, acknowledgements) and is kept in memory, in
// that order, until the database takes it: a locked, full or deleted file
// costs nothing but memory, bounded by the capacity (the oldest work goes
// first when it is exceeded). The connection is made anew for each retry
// (a file that was read-only when opened stays so for its connection):
// about once a second for a file, every 5 s for a server. What is still
// waiting at finish() goes to the journal's spool file, and the next writer
// on the same journal writes it before anything new.
class JournalWriter final : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultCapacity = 10000;
    static constexpr int kRetryIntervalMs = 1000;

    explicit JournalWriter(QString path, QObject* parent = nullptr);
    ~JournalWriter() override;

    // All of these run on the writer's thread.
    void append(const JournalEvent& event);
    void updateResult(quint64 seq, const QString& result);
    void acknowledge(const QList<qint64>& ids, const QDateTime& utc, const QString& operatorName);
    void setBound(int bound) { store_.setBound(bound); }
    void setCapacity(int capacity) { capacity_ = qMax(1, capacity); }
    void setRetryInterval(int ms) { retryMs_ = ms; } // below 0: the store's own
    // Tries to write everything now; true when nothing is left waiting.
    bool flush();
    void finish(); // last attempt, the rest spooled, then the file is let go
    // Copies what waits to the spool now (a session ending: the process may
    // not get to finish()); it is still written, and taken from the spool, as usual.
    void spoolHeld();
    int pending() const { return int(queue_.size()); }

Q_SIGNALS:
    void stateChanged(bool healthy, const QString& text);
    void unacknowledgedAlarmsChanged(int count);
    void unacknowledgedAlarmsByLoopChanged(const QHash<int, int>& counts);
    void stored(const JournalEvent& event); // with its id
    void resultStored(qint64 id, const QString& result);

private:
    static QString serverText(const QString& problem);
    struct Op {
        enum Type { Append, Update, Ack } type = Append;
        JournalEvent event;  // Append
        QString result;      // Update (event.seq says which)
        QList<qint64> ids;   // Ack
        qint64 targetId = 0; // Update of a row stored by an earlier run
        qint64 spoolKey = 0; // still in the spool file (from an earlier run)
    };
    void push(Op op);
    // Once, before the first write: the earlier run's spooled work goes first.
    void loadSpool();
    bool openSpool();
    bool spoolQueued();
    void spoolRest();
    void dropSpooled(qint64 key);
    bool ensureOpen();
    void scheduleRetry();
    void report();
    void rememberId(quint64 seq, qint64 id);

    QString path_;
    JournalStore store_;
    std::deque<Op> queue_;
    int capacity_ = kDefaultCapacity;
    qint64 droppedNow_ = 0;
    int retryMs_ = -1;
    QTimer* retry_ = nullptr;
    QElapsedTimer sinceFailure_;
    bool failed_ = false;
    bool everOpened_ = false;
    bool openFailed_ = false; // the last attempt could not open (not: could not write)
    // Row ids of recent write events, for their read-back update.
    QHash<quint64, qint64> idOfSeq_;
    std::deque<quint64> seqOrder_;
    int unacked_ = -1;
    QHash<int, int> unackedByLoop_;
    bool healthyShown_ = true;
    QString textShown_;
    std::unique_ptr<JournalSpool> spool_;
    bool spoolLoaded_ = false;
};
