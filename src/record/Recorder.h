#pragma once
#include "HistoryTypes.h"
#include "LiveImage.h"
#include "RecorderWriter.h"
#include "SampleFlags.h"
#include "StationClock.h"

#include <QObject>
#include <QString>
#include <functional>

class QThread;
class QTimer;

// The sample recorder (the hidden window "mscom"): on every tick that has a
// sample due it stores PV, OP, SV and the auxiliary channel from the
// LiveImage as a one-second sample when a second has passed since the last
// one and as a ten-second sample when ten seconds have, under the newest ids
// from sl_void, and raises the
// trend windows' flags while a trend window is loaded.
//
// The database side is a RecorderWriter: on this thread (Inline, as tests
// use it: a tick's effects are visible when tick() returns) or on a worker
// thread of its own (Threaded, as the station runs it, so the GUI thread
// never waits for a disk or a server; only ticks with a sample due reach it).
// When the database cannot be written the samples are kept, in order, with
// the ids they would have had, and are written with their own times once it
// can be written again; those still kept when the recorder goes wait in the
// spool file and the next recorder on the same history writes them first.
//
// The flags are raised when a sample is taken, whether or not it reached
// the database yet: the trend windows append the live values anyway and
// reload stored rows only on a new page.
class Recorder final : public QObject {
    Q_OBJECT
public:
    enum class Mode { Inline, Threaded };
    static constexpr int kTickIntervalMs = 100;
    static constexpr int kRetryIntervalMs = RecorderWriter::kRetryIntervalMs;
    static constexpr int kShortBacklogCapacity = RecorderWriter::kShortBacklogCapacity;
    static constexpr int kLongBacklogCapacity = RecorderWriter::kLongBacklogCapacity;

    // Opens the recorder's own connection ("mscom") to `databasePath` (a file
    // or a server URL), creating the file or the station's tables when they
    // are missing. The clock is StationClock.
    Recorder(const LiveImage& image, SampleFlags& flags, const QString& databasePath, Mode mode = Mode::Inline,
             QObject* parent = nullptr);
    // A threaded writer finishes the samples already handed to it first.
    ~Recorder() override;

    // Starts the tick timer (objectName "Timer1") and announces the current
    // state through stateChanged().
    void start(int intervalMs = kTickIntervalMs);
    void stop();
    bool isRunning() const;

    // One recorder tick (Timer1_Timer).
    void tick();

    // As the writer last told (at once when Inline).
    RecorderState state() const { return status_.state; }
    QString stateText() const { return status_.text; }
    int backlogSize() const { return status_.backlog[0] + status_.backlog[1]; }
    int backlogSize(HistoryRing ring) const { return status_.backlog[ring == HistoryRing::Short ? 0 : 1]; }
    qint64 droppedSamples() const { return status_.dropped; }
    QString databasePath() const { return path_; }

    // For tests and special set-ups; defaults as above.
    void setRetryInterval(int ms);
    void setBacklogCapacity(int shortSamples, int longSamples);
    // Where samples beyond the capacity go instead of being dropped, and
    // those still held when the recorder goes: the store's spool path by
    // default ("<name>-spool.db" beside a file). Empty: drop them.
    void setSpoolPath(const QString& path);
    // A session ending: what is held goes to the spool now, in case the
    // process ends before the recorder does.
    void spoolHeld();

signals:
    // reasonText is for the operator: "记录正常", "数据库不可写，暂存 N 条", ...
    void stateChanged(RecorderState state, const QString& reasonText);

private:
    // The end-to-end test waits for samples to be written before reading
    // the file.
    friend class TestE2eLink;
    qint32 shortId() const { return status_.shortId; }

    // Whole seconds from `last` to `now`, as an absolute value (a clock set
    // back counts as time passed).
    static qint64 elapsedSeconds(const OleStamp& now, const OleStamp& last);
    void onStatus(const RecorderStatus& status);
    void toWriter(const std::function<void(RecorderWriter&)>& work);

    const LiveImage& image_;
    SampleFlags& flags_;
    QString path_;
    QTimer* timer_ = nullptr;
    QThread* thread_ = nullptr; // Threaded only
    RecorderWriter* writer_ = nullptr;
    RecorderStatus status_;

    OleStamp lastShort_;
    OleStamp lastLong_;
};
