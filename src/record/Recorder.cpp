#include "Recorder.h"
#include "RecordLog.h"

#include <QFileInfo>
#include <QTimer>

#include <cmath>

Recorder::Recorder(const LiveImage& image, SampleFlags& flags, const QString& databasePath, QObject* parent)
    : QObject(parent)
    , image_(image)
    , flags_(flags)
    , path_(databasePath)
    , store_(QStringLiteral("mscom"))
    , timer_(new QTimer(this))
{
    setObjectName(QStringLiteral("mscom"));
    timer_->setObjectName(QStringLiteral("Timer1"));
    connect(timer_, &QTimer::timeout, this, &Recorder::tick);
    retryClock_.start();
    if (!openStore())
        enterTrouble(problem_);
    updateState();
}

Recorder::~Recorder()
{
    const int kept = backlogSize();
    if (kept > 0)
        qCWarning(lcRecord) << "recorder ends with" << kept << "samples not written to" << path_;
}

void Recorder::start(int intervalMs)
{
    timer_->start(intervalMs);
    emit stateChanged(state_, stateText_);
}

void Recorder::stop() { timer_->stop(); }

bool Recorder::isRunning() const { return timer_->isActive(); }

void Recorder::setRetryInterval(int ms)
{
    retryIntervalMs_ = qMax(0, ms);
    nextRetryMs_ = qMin(nextRetryMs_, retryClock_.elapsed() + retryIntervalMs_);
}

void Recorder::setBacklogCapacity(int shortSamples, int longSamples)
{
    capacity_[0] = qMax(1, shortSamples);
    capacity_[1] = qMax(1, longSamples);
}

int Recorder::backlogSize() const { return int(pending_[0].size() + pending_[1].size()); }

int Recorder::backlogSize(HistoryRing ring) const { return int(pending_[index(ring)].size()); }

qint64 Recorder::elapsedSeconds(const OleStamp& now, const OleStamp& last)
{
    const double days = (now.date - last.date) + (now.time - last.time);
    return qint64(std::abs(std::round(days * 24 * 60 * 60)));
}

qint64 Recorder::okitime() const { return elapsedSeconds(StationClock::nowStamp(), lastShort_); }

qint64 Recorder::Rec1_time() const { return elapsedSeconds(StationClock::nowStamp(), lastLong_); }

// The id the ring continues from: a counter at the end of the ring (or
// outside it, which no writer of ours produces) starts again at 0.
qint32 Recorder::ringStart(qint32 id) { return (id >= kRingSize || id < 0) ? 0 : id; }

void Recorder::tick()
{
    const OleStamp now = StationClock::nowStamp();

    if (troubled_ && retryClock_.elapsed() >= nextRetryMs_)
        recover();
    // The ids matter only when a sample is due (once a second of ten ticks):
    // reading them on the other ticks cost most of the station's idle time.
    const bool due = elapsedSeconds(now, lastShort_) >= 1 || elapsedSeconds(now, lastLong_) >= 10;
    if (due && !troubled_) {
        // On failure the ids of the previous tick stay.
        if (const auto c = store_.readCounters()) {
            shortId_ = c->shortLast;
            longId_ = c->longLast;
            idsSynced_ = true;
        } else {
            enterTrouble(store_.lastError());
        }
    }
    shortId_ = ringStart(shortId_);
    longId_ = ringStart(longId_);

    if (elapsedSeconds(now, lastShort_) >= 1) {
        shortId_ += 1;
        lastShort_ = now;
        takeSample(HistoryRing::Short, shortId_, now);
        if (flags_.trendLinkEnabled)
            flags_.newSample = true;
    }
    if (elapsedSeconds(now, lastLong_) >= 10) {
        longId_ += 1;
        lastLong_ = now;
        takeSample(HistoryRing::Long, longId_, now);
        if (flags_.trendLinkEnabled)
            flags_.newLongSample = true;
    }
    updateState();
}

void Recorder::takeSample(HistoryRing ring, qint32 id, const OleStamp& now)
{
    HistoryRow row;
    row.id = id;
    row.date = now.date;
    row.time = now.time;
    row.pv = image_.Values[0];
    row.op = image_.Values[1];
    row.sv = image_.Values[2];
    row.aux = image_.Values[3];

    if (!troubled_) {
        // A file deleted under an open connection still takes writes on
        // some systems, into a file nobody will see again.
        if (!QFileInfo::exists(path_)) {
            enterTrouble(QStringLiteral("database file %1 has gone").arg(path_));
        } else if (store_.writeSamples(ring, {row})) {
            return;
        } else {
            enterTrouble(store_.lastError());
        }
    }

    QList<HistoryRow>& queue = pending_[index(ring)];
    queue.append(row);
    while (queue.size() > capacity_[index(ring)]) {
        queue.removeFirst();
        if (droppedNow_ == 0)
            qCWarning(lcRecord) << "sample backlog full, dropping the oldest samples";
        ++dropped_;
        ++droppedNow_;
    }
}

void Recorder::enterTrouble(const QString& reason)
{
    if (!troubled_)
        qCWarning(lcRecord) << "history database not usable, keeping samples in memory:" << reason;
    troubled_ = true;
    problem_ = reason;
    nextRetryMs_ = retryClock_.elapsed() + retryIntervalMs_;
}

bool Recorder::openStore()
{
    QString error;
    if (!store_.open(path_, &error)) {
        problem_ = error;
        return false;
    }
    if (store_.createdSchema())
        idsSynced_ = false;
    return true;
}

void Recorder::recover()
{
    nextRetryMs_ = retryClock_.elapsed() + retryIntervalMs_;
    // A fresh connection: a file that was read-only or deleted when the old
    // one was opened stays so for that connection.
    store_.close();
    if (!openStore()) {
        noteFailedRetry(QStringLiteral("opened"));
        return;
    }

    if (!idsSynced_) {
        if (const auto c = store_.readCounters()) {
            const qint32 counters[2] = {c->shortLast, c->longLast};
            qint32* ids[2] = {&shortId_, &longId_};
            for (int i = 0; i < 2; ++i) {
                qint32 id = counters[i];
                for (HistoryRow& r : pending_[i])
                    r.id = id = ringStart(id) + 1;
                *ids[i] = id;
            }
            idsSynced_ = true;
        }
    }

    bool ok = true;
    int written = 0;
    for (HistoryRing ring : {HistoryRing::Short, HistoryRing::Long}) {
        QList<HistoryRow>& queue = pending_[index(ring)];
        if (queue.isEmpty())
            continue;
        if (store_.writeSamples(ring, queue)) {
            written += int(queue.size());
            queue.clear();
        } else {
            ok = false;
            problem_ = store_.lastError();
        }
    }
    if (!ok) {
        noteFailedRetry(QStringLiteral("written"));
        return;
    }
    troubled_ = false;
    failedRetries_ = 0;
    loggedProblem_.clear();
    if (written > 0 || droppedNow_ > 0)
        qCInfo(lcRecord) << "history database usable again; wrote" << written << "kept samples," << droppedNow_
                         << "dropped";
    droppedNow_ = 0;
}

// A full disk may last for days: say it again only when the reason changes,
// after 10 attempts and then every 600 (about ten minutes).
void Recorder::noteFailedRetry(const QString& what)
{
    ++failedRetries_;
    if (problem_ == loggedProblem_ && failedRetries_ != 10 && failedRetries_ % 600 != 0)
        return;
    loggedProblem_ = problem_;
    qCInfo(lcRecord).noquote() << "database still cannot be" << what << "after" << failedRetries_
                               << "attempts:" << problem_;
}

void Recorder::updateState()
{
    const int kept = backlogSize();
    RecorderState state = RecorderState::Recording;
    QString text = tr("记录正常");
    if (!store_.isOpen()) {
        state = RecorderState::NoDatabase;
        text = kept > 0 ? tr("数据库无法打开，暂存 %1 条").arg(kept) : tr("数据库无法打开");
    } else if (kept > 0) {
        state = RecorderState::Backlog;
        text = tr("数据库不可写，暂存 %1 条").arg(kept);
    }
    if (state != RecorderState::Recording && droppedNow_ > 0)
        text += tr("，已丢弃 %1 条").arg(droppedNow_);

    if (state == state_ && text == stateText_)
        return;
    if (state != state_)
        qCInfo(lcRecord) << "recorder:" << text;
    state_ = state;
    stateText_ = text;
    emit stateChanged(state_, stateText_);
}
