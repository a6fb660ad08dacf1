#pragma once
#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

class HistoryReader;
struct HistoryReply;

// One sample of a sparkline: local wall-clock seconds (OLE date and time of
// day as the ring keeps them, in seconds) with PV and SV.
struct SparkSample {
    double t = 0.0;
    float pv = 0.0f;
    float sv = 0.0f;
};

// The last ten minutes of one loop's one-second ring, read through a
// HistoryReader (its own thread and connection), so the overview never
// waits on a disk or a server. poll() asks for the newest id and then only
// for the rows written since the last read; a poll while a read is still out
// does nothing, so a dead server never builds a queue.
class SparkFeed final : public QObject {
    Q_OBJECT
public:
    static constexpr double kSpanS = 600.0;
    // Rows read at most at once: the span plus the recorder's late seconds.
    static constexpr int kMaxRows = 660;

    // An empty location: no history, the feed stays empty.
    explicit SparkFeed(const QString& historyLocation, QObject* parent = nullptr);
    ~SparkFeed() override;

    void poll();
    bool busy() const { return request_ != 0; }
    const QVector<SparkSample>& samples() const { return samples_; }

    // Seconds of an OLE stamp, on the scale of SparkSample::t.
    static double secondsOf(double date, double time);
    // The ring ids after `lastId` up to `newestId` (the ring wraps at
    // kRingSize); kMaxRows or more means "read the span afresh".
    static int rowsSince(int lastId, int newestId);

Q_SIGNALS:
    void changed();

private:
    void onReply(const HistoryReply& reply);

    std::unique_ptr<HistoryReader> reader_;
    quint64 request_ = 0;
    int lastId_ = 0;
    int pageEnd_ = 0;
    bool fresh_ = true; // the next page replaces what is held
    QVector<SparkSample> samples_;
};
