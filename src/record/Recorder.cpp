#include "Recorder.h"
#include "RecordLog.h"
#include "HandOver.h"

#include <QThread>
#include <QTimer>

#include <cmath>

Recorder::Recorder(const LiveImage& image, SampleFlags& flags, const QString& databasePath, Mode mode, QObject* parent)
    : QObject(parent), image_(image), flags_(flags), path_(databasePath), timer_(new QTimer(this)),
      writer_(new RecorderWriter(databasePath))
{
    setObjectName(QStringLiteral("mscom"));
    timer_->setObjectName(QStringLiteral("Timer1"));
    connect(timer_, &QTimer::timeout, this, &Recorder::tick);
    // Direct when Inline, queued back to this thread when Threaded.
    relay(writer_, &RecorderWriter::statusChanged, this, &Recorder::onStatus);
    if (mode == Mode::Threaded) {
        thread_ = new QThread(this);
        thread_->setObjectName(QStringLiteral("recorder"));
        writer_->moveToThread(thread_);
        thread_->start();
    }
    toWriter([](RecorderWriter& w) { w.open(); });
}

Recorder::~Recorder()
{
    if (!thread_) {
        delete writer_;
        return;
    }
    // Queued after every tick handed over: those are written (or kept and
    // reported) first, and the connection goes on the thread that made it.
    runAndWait(writer_, [w = writer_] { delete w; });
    thread_->quit();
    thread_->wait();
}

void Recorder::toWriter(const std::function<void(RecorderWriter&)>& work)
{
    if (!thread_)
        work(*writer_);
    else
        postTo(writer_, [w = writer_, work] { work(*w); });
}

void Recorder::onStatus(const RecorderStatus& status)
{
    const bool changed = status.state != status_.state || status.text != status_.text;
    status_ = status;
    if (changed)
        emit stateChanged(status_.state, status_.text);
}

void Recorder::start(int intervalMs)
{
    timer_->start(intervalMs);
    emit stateChanged(status_.state, status_.text);
}

void Recorder::stop() { timer_->stop(); }

bool Recorder::isRunning() const { return timer_->isActive(); }

void Recorder::setRetryInterval(int ms)
{
    toWriter([ms](RecorderWriter& w) { w.setRetryInterval(ms); });
}

void Recorder::setBacklogCapacity(int shortSamples, int longSamples)
{
    toWriter([=](RecorderWriter& w) { w.setBacklogCapacity(shortSamples, longSamples); });
}

void Recorder::setSpoolPath(const QString& path)
{
    toWriter([path](RecorderWriter& w) { w.setSpoolPath(path); });
}

void Recorder::spoolHeld()
{
    toWriter([](RecorderWriter& w) { w.spoolHeld(); });
}

qint64 Recorder::elapsedSeconds(const OleStamp& now, const OleStamp& last)
{
    const double days = (now.date - last.date) + (now.time - last.time);
    return qint64(std::abs(std::round(days * 24 * 60 * 60)));
}

void Recorder::tick()
{
    const OleStamp now = StationClock::nowStamp();
    const bool shortDue = elapsedSeconds(now, lastShort_) >= 1;
    const bool longDue = elapsedSeconds(now, lastLong_) >= 10;
    if (shortDue) {
        lastShort_ = now;
        if (flags_.trendLinkEnabled)
            flags_.newSample = true;
    }
    if (longDue) {
        lastLong_ = now;
        if (flags_.trendLinkEnabled)
            flags_.newLongSample = true;
    }
    const std::array<float, 4> values{image_.Values[0], image_.Values[1], image_.Values[2], image_.Values[3]};
    // A worker is woken once a second, not on every tick.
    if (thread_ && !shortDue && !longDue)
        return;
    toWriter([=](RecorderWriter& w) { w.tick(now, shortDue, longDue, values); });
}
