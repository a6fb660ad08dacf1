#pragma once
#include "HistorySpool.h"
#include "HistoryStore.h"
#include "HistoryTypes.h"
#include "RecordLog.h"
#include "StationClock.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <memory>

// What the status line shows about the recorder.
enum class RecorderState {
    Recording,  // samples go to the database as they are taken
    Backlog,    // the database is open but cannot be written; samples are kept
    NoDatabase, // the database cannot be opened; samples are kept
};

// The writer's news for the recorder, after every tick.
struct RecorderStatus {
    qint32 shortId = 0;
    qint32 longId = 0;
    RecorderState state = RecorderState::Recording;
    QString text;
    int backlog[2] = {0, 0}; // short, long: in memory and spooled
    qint64 dropped = 0;      // since start, oldest first
};
Q_DECLARE_METATYPE(RecorderStatus)

// The recorder's half that touches the database: owns the connection
// ("mscom"), numbers the samples from sl_void, writes them, and keeps them in
// order when the database or server cannot take them (an hour in memory, then
// the spool file, else the oldest are dropped), trying again every retry
// interval. What it still holds when it goes is spooled, and written first
// by the next writer on the same store. Lives on whichever thread calls open()
// and tick(): the GUI thread in tests, a worker thread in the station.
//
// Ids taken while the database was never readable are renumbered from the
// database's counter when it comes back (or from 0 when the file had to be
// created anew).
class RecorderWriter final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryIntervalMs = 1000;
    // One hour of each history.
    static constexpr int kShortBacklogCapacity = 3600;
    static constexpr int kLongBacklogCapacity = 360;

    explicit RecorderWriter(const QString& location, QObject* parent = nullptr);
    // Spools what is not written yet (finish()).
    ~RecorderWriter() override;

    // Opens the store (creating the file or tables when missing).
    void open();
    // One tick: retries a troubled store when due, reads the ids, and stores
    // the samples that are due with `values` (PV, OP, SV, aux).
    void tick(const OleStamp& now, bool shortDue, bool longDue, const std::array<float, 4>& values);

    RecorderStatus status() const { return status_; }
    int backlogSize() const;
    int backlogSize(HistoryRing ring) const;

    void setRetryInterval(int ms);
    void setBacklogCapacity(int shortSamples, int longSamples);
    void setSpoolPath(const QString& path);
    // Moves every sample held in memory to the spool (what it cannot take
    // stays in memory).
    void spoolHeld();
    // spoolHeld(), and what is left is lost; at the end.
    void finish();

signals:
    void statusChanged(const RecorderStatus& status);

private:
    static int index(HistoryRing ring) { return ring == HistoryRing::Short ? 0 : 1; }
    static qint32 ringStart(qint32 id);

    void takeSample(HistoryRing ring, qint32 id, const OleStamp& now, const std::array<float, 4>& values);
    void enterTrouble(const QString& reason);
    void recover();
    void noteFailedRetry(const QString& what);
    bool openStore();
    // Opens the spool when needed; `move`: moves the ring's oldest kept sample there.
    bool spillOldest(HistoryRing ring, bool move = true);
    bool writeSpool(HistoryRing ring);
    void updateState();

    QString path_;
    HistoryStore store_;
    RecorderStatus status_;

    // True while the ids follow the database's counter; false until it has
    // been read and again after the file had to be created anew.
    bool idsSynced_ = false;
    // The database failed; leave it alone until the next retry.
    bool troubled_ = false;
    QString problem_;
    QElapsedTimer retryClock_;
    qint64 nextRetryMs_ = 0;
    int retryIntervalMs_ = kRetryIntervalMs;
    RepeatedFailureLog retryLog_;

    QList<HistoryRow> pending_[2];
    QString spoolPath_;
    std::unique_ptr<HistorySpool> spool_; // opened when first needed
    bool spoolFailed_ = false;            // could not be opened: not tried for each sample
    int capacity_[2] = {kShortBacklogCapacity, kLongBacklogCapacity};
    qint64 droppedNow_ = 0; // in the current spell of trouble
};
