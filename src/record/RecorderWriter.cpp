#include "RecorderWriter.h"

#include <QCoreApplication>
#include "RecordLog.h"

#include <QFileInfo>
#include <atomic>

namespace {

// One connection per recorder: a line of loops runs one for each.
QString connectionName()
{
    static std::atomic<int> made{0};
    const int n = made.fetch_add(1);
    return n == 0 ? QStringLiteral("mscom") : QStringLiteral("mscom-%1").arg(n);
}

} // namespace

RecorderWriter::RecorderWriter(const QString& location, QObject* parent)
    : QObject(parent), path_(location), store_(connectionName())
{
    qRegisterMetaType<RecorderStatus>();
}

RecorderWriter::~RecorderWriter() { finish(); }

// Whatever memory still holds goes behind the spool's rows, for the next
// start to write first; only what the spool cannot take is lost.
void RecorderWriter::finish()
{
    if (pending_[0].isEmpty() && pending_[1].isEmpty())
        return;
    const int held = int(pending_[0].size() + pending_[1].size());
    spoolHeld();
    if (pending_[0].isEmpty() && pending_[1].isEmpty())
        qCInfo(lcRecord) << "recorder ends with" << held << "samples spooled to" << spoolPath_ << "for the next start";
    const int lost = int(pending_[0].size() + pending_[1].size());
    if (lost > 0)
        qCWarning(lcRecord) << "recorder ends with" << lost << "samples lost: written neither to"
                            << store_.displayName() << "nor to a spool";
    pending_[0].clear();
    pending_[1].clear();
}

void RecorderWriter::open()
{
    retryClock_.start();
    const bool opened = openStore();
    // A server is given more time between attempts than a file.
    retryIntervalMs_ = store_.retryIntervalMs();
    setSpoolPath(store_.spoolPath());
    if (!opened)
        enterTrouble(problem_);
    updateState();
}

void RecorderWriter::setRetryInterval(int ms)
{
    retryIntervalMs_ = qMax(0, ms);
    nextRetryMs_ = qMin(nextRetryMs_, retryClock_.elapsed() + retryIntervalMs_);
}

void RecorderWriter::setBacklogCapacity(int shortSamples, int longSamples)
{
    capacity_[0] = qMax(1, shortSamples);
    capacity_[1] = qMax(1, longSamples);
}

// The spool precedes memory, so this keeps the order whether the recorder
// goes on or not.
void RecorderWriter::spoolHeld()
{
    if (pending_[0].isEmpty() && pending_[1].isEmpty())
        return;
    spoolFailed_ = false; // worth one more try now
    if (!spillOldest(HistoryRing::Short, false))
        return;
    for (HistoryRing ring : {HistoryRing::Short, HistoryRing::Long}) {
        QList<HistoryRow>& queue = pending_[index(ring)];
        if (spool_->append(ring, queue))
            queue.clear();
        else
            qCWarning(lcRecord) << "cannot spool samples to" << spoolPath_ << spool_->lastError();
    }
}

void RecorderWriter::setSpoolPath(const QString& path)
{
    spoolPath_ = path;
    spoolFailed_ = false;
    spool_.reset();
    // Samples an earlier run could not write are written first, numbered on
    // from the store's counter like any kept before the ids were read.
    if (!path.isEmpty() && QFileInfo::exists(path) && spillOldest(HistoryRing::Short, false)
        && spool_->size(HistoryRing::Short) + spool_->size(HistoryRing::Long) > 0) {
        idsSynced_ = false;
        enterTrouble(QStringLiteral("samples spooled by an earlier run"));
        nextRetryMs_ = 0;
    }
}

int RecorderWriter::backlogSize() const { return backlogSize(HistoryRing::Short) + backlogSize(HistoryRing::Long); }

int RecorderWriter::backlogSize(HistoryRing ring) const
{
    return int(pending_[index(ring)].size() + (spool_ ? spool_->size(ring) : 0));
}

// The id the ring continues from: a counter at the end of the ring (or
// outside it, which no writer of ours produces) starts again at 0.
qint32 RecorderWriter::ringStart(qint32 id) { return (id >= kRingSize || id < 0) ? 0 : id; }

void RecorderWriter::tick(const OleStamp& now, bool shortDue, bool longDue, const std::array<float, 4>& values)
{
    if (troubled_ && retryClock_.elapsed() >= nextRetryMs_)
        recover();
    // The ids matter only when a sample is due (once a second of ten ticks):
    // reading them on the other ticks cost most of the station's idle time.
    if ((shortDue || longDue) && !troubled_) {
        // On failure the ids of the previous tick stay.
        if (const auto c = store_.readCounters()) {
            status_.shortId = c->shortLast;
            status_.longId = c->longLast;
            idsSynced_ = true;
        } else {
            enterTrouble(store_.lastError());
        }
    }
    qint32& shortId = status_.shortId;
    qint32& longId = status_.longId;
    shortId = ringStart(shortId);
    longId = ringStart(longId);
    if (shortDue)
        takeSample(HistoryRing::Short, ++shortId, now, values);
    if (longDue)
        takeSample(HistoryRing::Long, ++longId, now, values);
    updateState();
}

void RecorderWriter::takeSample(HistoryRing ring, qint32 id, const OleStamp& now, const std::array<float, 4>& values)
{
    const HistoryRow row = HistoryRow::sample(id, now, values);

    if (!troubled_) {
        // A file deleted under an open connection still takes writes on
        // some systems, into a file nobody will see again.
        if (!store_.stillThere()) {
            enterTrouble(QStringLiteral("database file %1 has gone").arg(store_.displayName()));
        } else if (store_.writeSamples(ring, {row})) {
            return;
        } else {
            enterTrouble(store_.lastError());
        }
    }

    QList<HistoryRow>& queue = pending_[index(ring)];
    queue.append(row);
    while (queue.size() > capacity_[index(ring)]) {
        if (spillOldest(ring))
            continue;
        queue.removeFirst();
        if (droppedNow_ == 0)
            qCWarning(lcRecord) << "sample backlog full, dropping the oldest samples";
        ++status_.dropped;
        ++droppedNow_;
    }
}

// The oldest kept sample moves to the spool file, which precedes the memory.
bool RecorderWriter::spillOldest(HistoryRing ring, bool move)
{
    if (spoolPath_.isEmpty() || spoolFailed_)
        return false;
    if (!spool_) {
        static std::atomic<int> spools{0};
        spool_ = std::make_unique<HistorySpool>(QStringLiteral("mscom-spool-%1").arg(++spools));
        QString error;
        if (!spool_->open(spoolPath_, &error)) {
            qCWarning(lcRecord) << "cannot spool samples to" << spoolPath_ << error;
            spool_.reset();
            // Not again for every sample; a stop tries once more.
            spoolFailed_ = true;
            return false;
        }
        qCInfo(lcRecord) << "spooling samples to" << spoolPath_;
    }
    if (!move)
        return true;
    QList<HistoryRow>& queue = pending_[index(ring)];
    if (!spool_->append(ring, queue.first())) {
        qCWarning(lcRecord) << "spooling failed, dropping instead:" << spool_->lastError();
        return false;
    }
    queue.removeFirst();
    return true;
}

// The spool's rows go first, an hour per transaction; a run written but not
// yet dropped from the spool is written again later over the same ids.
bool RecorderWriter::writeSpool(HistoryRing ring)
{
    while (spool_ && spool_->size(ring) > 0) {
        const QList<HistoryRow> rows = spool_->front(ring, kShortBacklogCapacity);
        if (rows.isEmpty() || !store_.writeSamples(ring, rows)) {
            problem_ = rows.isEmpty() ? spool_->lastError() : store_.lastError();
            return false;
        }
        if (!spool_->dropFront(ring, int(rows.size()))) {
            problem_ = QStringLiteral("spool %1: %2").arg(spoolPath_, spool_->lastError());
            return false;
        }
    }
    return true;
}

void RecorderWriter::enterTrouble(const QString& reason)
{
    if (!troubled_)
        qCWarning(lcRecord) << "history database not usable, keeping samples in memory:" << reason;
    troubled_ = true;
    problem_ = reason;
    nextRetryMs_ = retryClock_.elapsed() + retryIntervalMs_;
}

bool RecorderWriter::openStore()
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

void RecorderWriter::recover()
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
            qint32* ids[2] = {&status_.shortId, &status_.longId};
            for (int i = 0; i < 2; ++i) {
                qint32 id = counters[i];
                if (spool_) {
                    const auto last = spool_->renumberFrom(i == 0 ? HistoryRing::Short : HistoryRing::Long, id);
                    // Rows under the ids they were taken with would land
                    // among the stored ones: write nothing until they can be.
                    if (!last) {
                        problem_ = QStringLiteral("spooled samples in %1 cannot be renumbered: %2")
                                       .arg(spoolPath_, spool_->lastError());
                        noteFailedRetry(QStringLiteral("written"));
                        return;
                    }
                    id = *last;
                }
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
        const qint64 spooled = spool_ ? spool_->size(ring) : 0;
        if (!writeSpool(ring)) {
            ok = false;
            continue;
        }
        written += int(spooled);
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
    retryLog_.reset();
    if (written > 0 || droppedNow_ > 0)
        qCInfo(lcRecord) << "history database usable again; wrote" << written << "kept samples," << droppedNow_
                         << "dropped";
    droppedNow_ = 0;
}

void RecorderWriter::noteFailedRetry(const QString& what)
{
    if (retryLog_.shouldLog(problem_))
        qCInfo(lcRecord).noquote() << "database still cannot be" << what << "after" << retryLog_.attempts()
                                   << "attempts:" << problem_;
}

void RecorderWriter::updateState()
{
    const int kept = backlogSize();
    RecorderState state = RecorderState::Recording;
    QString text = QCoreApplication::translate("Recorder", "记录正常");
    const QString unreachable = store_.unreachableText();
    if (!unreachable.isEmpty() && (troubled_ || kept > 0)) {
        // A server away: closed or not, the operator needs only that much.
        state = store_.isOpen() ? RecorderState::Backlog : RecorderState::NoDatabase;
        text = kept > 0 ? QCoreApplication::translate("Recorder", "%1，暂存 %2 条").arg(unreachable).arg(kept)
                        : unreachable;
    } else if (!store_.isOpen()) {
        state = RecorderState::NoDatabase;
        text = kept > 0 ? QCoreApplication::translate("Recorder", "数据库无法打开，暂存 %1 条").arg(kept)
                        : QCoreApplication::translate("Recorder", "数据库无法打开");
    } else if (kept > 0) {
        state = RecorderState::Backlog;
        text = QCoreApplication::translate("Recorder", "数据库不可写，暂存 %1 条").arg(kept);
    }
    if (state != RecorderState::Recording && droppedNow_ > 0)
        text += QCoreApplication::translate("Recorder", "，已丢弃 %1 条").arg(droppedNow_);

    if (state != status_.state)
        qCInfo(lcRecord) << "recorder:" << text;
    status_.state = state;
    status_.text = text;
    status_.backlog[0] = backlogSize(HistoryRing::Short);
    status_.backlog[1] = backlogSize(HistoryRing::Long);
    emit statusChanged(status_);
}
