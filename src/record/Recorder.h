#pragma once
#include "HistorySpool.h"
#include "HistoryStore.h"
#include "HistoryTypes.h"
#include "LiveImage.h"
#include "SampleFlags.h"
#include "StationClock.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class QTimer;

// What the status line shows about the recorder.
enum class RecorderState {
    Recording,  // samples go to the database as they are taken
    Backlog,    // the database is open but cannot be written; samples are kept in memory
    NoDatabase, // the database cannot be opened; samples are kept in memory
};

// The sample recorder (the hidden window "mscom"): every tick it reads the
// newest ids from sl_void, stores PV, OP, SV and the auxiliary channel from
// the LiveImage as a one-second sample when a second has passed since the
// last one and as a ten-second sample when ten seconds have, and raises the
// trend windows' flags while a trend window is loaded.
//
// When the database cannot be written the samples are kept in memory, in
// order, with the ids they would have had, and are written with their own
// times once it can be written again; the database is tried about once a
// second meanwhile, never on every tick. Ids taken while the database was
// never readable are renumbered from the database's counter when it comes
// back (or from 0 when the file had to be created anew).
//
// The flags are raised when a sample is taken, whether or not it reached
// the database yet: the trend windows append the live values anyway and
// reload stored rows only on a new page.
class Recorder final : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickIntervalMs = 100;
    static constexpr int kRetryIntervalMs = 1000;
    // One hour of each history.
    static constexpr int kShortBacklogCapacity = 3600;
    static constexpr int kLongBacklogCapacity = 360;

    // Opens the recorder's own connection ("mscom") to `databasePath` (a file
    // or a server URL), creating the file or the station's tables when they
    // are missing. The clock is StationClock.
    Recorder(const LiveImage& image, SampleFlags& flags, const QString& databasePath, QObject* parent = nullptr);
    ~Recorder() override;

    // Starts the tick timer (objectName "Timer1") and announces the current
    // state through stateChanged().
    void start(int intervalMs = kTickIntervalMs);
    void stop();
    bool isRunning() const;

    // One recorder tick (Timer1_Timer).
    void tick();

    // Whole seconds since the last one-second and ten-second sample, as an
    // absolute value (a clock set back counts as time passed).
    qint64 okitime() const;
    qint64 Rec1_time() const;

    qint32 shortId() const { return shortId_; }
    qint32 longId() const { return longId_; }

    RecorderState state() const { return state_; }
    QString stateText() const { return stateText_; }
    int backlogSize() const;
    int backlogSize(HistoryRing ring) const;
    qint64 droppedSamples() const { return dropped_; } // since start, oldest first
    QString databasePath() const { return path_; }

    // For tests and special set-ups; defaults as above.
    void setRetryInterval(int ms);
    void setBacklogCapacity(int shortSamples, int longSamples);
    // Where samples beyond the capacity go instead of being dropped; the
    // store's spool path by default (none for a file). Empty: drop them.
    void setSpoolPath(const QString& path);

signals:
    // reasonText is for the operator: "记录正常", "数据库不可写，暂存 N 条", ...
    void stateChanged(RecorderState state, const QString& reasonText);

private:
    static int index(HistoryRing ring) { return ring == HistoryRing::Short ? 0 : 1; }
    static qint64 elapsedSeconds(const OleStamp& now, const OleStamp& last);
    static qint32 ringStart(qint32 id);

    void takeSample(HistoryRing ring, qint32 id, const OleStamp& now);
    void enterTrouble(const QString& reason);
    void recover();
    bool openStore();
    // Opens the spool when needed; `move`: moves the ring's oldest kept sample there.
    bool spillOldest(HistoryRing ring, bool move = true);
    bool writeSpool(HistoryRing ring);
    void updateState();

    const LiveImage& image_;
    SampleFlags& flags_;
    QString path_;
    HistoryStore store_;
    QTimer* timer_ = nullptr;

    qint32 shortId_ = 0;
    qint32 longId_ = 0;
    OleStamp lastShort_;
    OleStamp lastLong_;

    // True while the ids follow the database's counter; false until it has
    // been read and again after the file had to be created anew.
    bool idsSynced_ = false;
    // The database failed; leave it alone until the next retry.
    bool troubled_ = false;
    QString problem_;
    QElapsedTimer retryClock_;
    qint64 nextRetryMs_ = 0;
    int retryIntervalMs_ = kRetryIntervalMs;

    QList<HistoryRow> pending_[2];
    QString spoolPath_;
    std::unique_ptr<HistorySpool> spool_; // opened when first needed
    int capacity_[2] = {kShortBacklogCapacity, kLongBacklogCapacity};
    qint64 dropped_ = 0;
    qint64 droppedNow_ = 0; // in the current spell of trouble

    RecorderState state_ = RecorderState::Recording;
    QString stateText_;
};
