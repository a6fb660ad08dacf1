#include "JournalWriter.h"
#include "HistoryEngine.h"
#include "JournalLog.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace {
constexpr int kRememberedIds = 2000;
QString connectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("journal-writer-%1").arg(next++);
}
} // namespace

JournalWriter::JournalWriter(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)), store_(connectionName())
{
}

JournalWriter::~JournalWriter() = default;

void JournalWriter::append(const JournalEvent& event) { push(Op{Op::Append, event, {}, {}}); }

void JournalWriter::updateResult(quint64 seq, const QString& result)
{
    JournalEvent target;
    target.seq = seq;
    // Still waiting in memory: change it there, one row written once.
    for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
        if (it->type == Op::Append && it->event.seq == seq) {
            it->event.result = result;
            return;
        }
    }
    push(Op{Op::Update, target, result, {}});
}

void JournalWriter::acknowledge(const QList<qint64>& ids, const QDateTime& utc, const QString& operatorName)
{
    Op op{Op::Ack, {}, {}, ids};
    op.event.timeUtc = utc;
    op.event.operatorName = operatorName;
    push(std::move(op));
}

void JournalWriter::push(Op op)
{
    queue_.push_back(std::move(op));
    while (int(queue_.size()) > capacity_) {
        if (queue_.front().spoolKey > 0)
            dropSpooled(queue_.front().spoolKey);
        queue_.pop_front();
        ++droppedNow_;
    }
    // While the file is in trouble, wait for the retry instead of hammering it.
    if (!failed_)
        flush();
    else
        report();
}

bool JournalWriter::ensureOpen()
{
    // A journal deleted under us would swallow every write into an unlinked
    // file; start a new one instead.
    if (store_.isOpen() && !store_.stillThere()) {
        qCWarning(lcJournal) << "journal" << path_ << "was removed; creating it again";
        store_.close();
        unacked_ = -1;
    }
    if (store_.isOpen())
        return true;
    // A connection that failed is replaced: the server may be back, the
    // file writable again.
    openFailed_ = !store_.open(path_);
    if (openFailed_)
        return false;
    everOpened_ = true;
    return true;
}

bool JournalWriter::flush()
{
    if (!retry_) {
        retry_ = new QTimer(this);
        retry_->setSingleShot(true);
        connect(retry_, &QTimer::timeout, this, &JournalWriter::flush);
    }
    loadSpool();
    bool ok = ensureOpen();
    qint64 spooledWritten = 0; // the last spool key written
    while (ok && !queue_.empty()) {
        Op& front = queue_.front();
        if (front.type == Op::Append) {
            // Consecutive new events go in one transaction.
            QList<JournalEvent> batch;
            for (auto it = queue_.begin(); it != queue_.end() && it->type == Op::Append && batch.size() < 500; ++it)
                batch << it->event;
            ok = store_.append(batch);
            if (!ok)
                break;
            for (const JournalEvent& e : batch) {
                spooledWritten = qMax(spooledWritten, queue_.front().spoolKey);
                queue_.pop_front();
                // An earlier run's event (seq 0) gets no read-back of this run.
                if (e.kind == QStringView(JournalKind::Write) && e.seq != 0)
                    rememberId(e.seq, e.id);
                Q_EMIT stored(e);
            }
            continue;
        }
        if (front.type == Op::Update) {
            const qint64 id = front.targetId != 0 ? front.targetId : idOfSeq_.value(front.event.seq, 0);
            // Unknown: its row was dropped while the journal was unusable.
            ok = id == 0 || store_.updateResult(id, front.result);
            if (ok && id != 0)
                Q_EMIT resultStored(id, front.result);
        } else {
            ok = store_.acknowledge(front.ids, front.event.timeUtc, front.event.operatorName);
        }
        if (ok) {
            spooledWritten = qMax(spooledWritten, front.spoolKey);
            queue_.pop_front();
        }
    }
    if (spooledWritten > 0)
        dropSpooled(spooledWritten);
    if (!ok) {
        if (!failed_)
            qCWarning(lcJournal) << "journal cannot be written:" << store_.lastError();
        failed_ = true;
        scheduleRetry();
    } else {
        if (failed_)
            qCInfo(lcJournal) << "journal writable again;" << droppedNow_ << "events were dropped meanwhile";
        failed_ = false;
        droppedNow_ = 0;
        const int unacked = store_.unacknowledgedAlarms();
        if (unacked >= 0 && unacked != unacked_) {
            unacked_ = unacked;
            Q_EMIT unacknowledgedAlarmsChanged(unacked);
        }
        // One loop's acknowledged and another's raised leave the total as it was.
        if (unacked >= 0 && store_.unacknowledgedAlarmsByLoop() != unackedByLoop_) {
            unackedByLoop_ = store_.unacknowledgedAlarmsByLoop();
            Q_EMIT unacknowledgedAlarmsByLoopChanged(unackedByLoop_);
        }
    }
    report();
    return queue_.empty();
}

void JournalWriter::scheduleRetry()
{
    if (!retry_->isActive())
        retry_->start(retryMs_ >= 0 ? retryMs_ : store_.retryIntervalMs());
}

// Why the server cannot be used, as far as its answer tells.
QString JournalWriter::serverText(const QString& problem)
{
    switch (serverTroubleOf(problem)) {
    case ServerTrouble::PasswordRefused: return tr("事件记录服务器拒绝密码");
    case ServerTrouble::NoRight: return tr("事件记录服务器无权写入");
    case ServerTrouble::ForeignLayout: return tr("事件记录服务器表结构不符");
    case ServerTrouble::Unreachable: break;
    }
    return tr("事件记录服务器无法连接");
}

void JournalWriter::report()
{
    const bool healthy = !failed_;
    QString text = tr("事件记录正常");
    if (!healthy) {
        const int kept = int(queue_.size());
        text = store_.isServer() ? serverText(store_.lastError())
               : !openFailed_    ? tr("事件记录不可写")
                                 : tr("事件记录无法打开");
        if (kept > 0)
            text += tr("，暂存 %1 条").arg(kept);
        if (droppedNow_ > 0)
            text += tr("，已丢弃 %1 条").arg(droppedNow_);
    }
    if (healthy == healthyShown_ && text == textShown_)
        return;
    healthyShown_ = healthy;
    textShown_ = text;
    Q_EMIT stateChanged(healthy, text);
}

void JournalWriter::rememberId(quint64 seq, qint64 id)
{
    idOfSeq_.insert(seq, id);
    seqOrder_.push_back(seq);
    while (seqOrder_.size() > kRememberedIds) {
        idOfSeq_.remove(seqOrder_.front());
        seqOrder_.pop_front();
    }
}

void JournalWriter::finish()
{
    if (retry_)
        retry_->stop();
    flush();
    if (retry_)
        retry_->stop();
    if (!queue_.empty())
        spoolRest();
    store_.close();
    spool_.reset();
}

bool JournalWriter::openSpool()
{
    if (spool_)
        return true;
    static std::atomic<int> next{0};
    spool_ = std::make_unique<JournalSpool>(QStringLiteral("journal-spool-%1").arg(next++));
    if (spool_->open(journalSpoolPathFor(path_)))
        return true;
    qCWarning(lcJournal) << "journal spool" << journalSpoolPathFor(path_) << "cannot be opened:" << spool_->lastError();
    spool_.reset();
    return false;
}

void JournalWriter::loadSpool()
{
    if (spoolLoaded_)
        return;
    spoolLoaded_ = true;
    if (!QFileInfo::exists(journalSpoolPathFor(path_)) || !openSpool())
        return;
    const QList<JournalSpool::Entry> entries = spool_->all();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        Op op;
        op.type = it->type == JournalSpool::Entry::Append   ? Op::Append
                  : it->type == JournalSpool::Entry::Update ? Op::Update
                                                            : Op::Ack;
        op.event = it->event;
        op.event.seq = 0; // this run's numbers start again
        op.result = it->result;
        op.targetId = it->targetId;
        op.ids = it->ids;
        op.spoolKey = it->key;
        queue_.push_front(std::move(op));
    }
    if (!entries.isEmpty())
        qCInfo(lcJournal) << entries.size() << "journal entries spooled by an earlier run are written first";
}

// What is spooled already (an earlier run's, or by spoolQueued() before)
// sits at the front of the queue and in the file alike.
bool JournalWriter::spoolQueued()
{
    QList<JournalSpool::Entry> entries;
    std::vector<Op*> ops;
    for (Op& op : queue_) {
        if (op.spoolKey > 0)
            continue;
        JournalSpool::Entry e;
        e.event = op.event;
        if (op.type == Op::Append) {
            e.type = JournalSpool::Entry::Append;
        } else if (op.type == Op::Update) {
            e.type = JournalSpool::Entry::Update;
            e.targetId = op.targetId != 0 ? op.targetId : idOfSeq_.value(op.event.seq, 0);
            e.result = op.result;
            if (e.targetId == 0)
                continue; // its row was dropped: nothing to update
        } else {
            e.type = JournalSpool::Entry::Ack;
            e.ids = op.ids;
        }
        entries << e;
        ops.push_back(&op);
    }
    if (entries.isEmpty())
        return true;
    if (!openSpool() || !spool_->append(entries)) {
        qCWarning(lcJournal) << entries.size() << "journal entries cannot be spooled to" << journalSpoolPathFor(path_)
                             << (spool_ ? spool_->lastError() : QString());
        return false;
    }
    for (std::size_t i = 0; i < ops.size(); ++i) {
        ops[i]->spoolKey = entries[qsizetype(i)].key;
        ops[i]->targetId = entries[qsizetype(i)].targetId;
    }
    return true;
}

void JournalWriter::spoolHeld()
{
    if (!queue_.empty())
        spoolQueued();
}

void JournalWriter::spoolRest()
{
    if (spoolQueued())
        qCInfo(lcJournal) << queue_.size() << "journal entries not written before exit wait in"
                          << journalSpoolPathFor(path_) << "for the next start";
    else
        qCWarning(lcJournal) << "journal entries lost at exit: written neither to" << path_ << "nor to its spool";
    queue_.clear();
}

void JournalWriter::dropSpooled(qint64 key)
{
    if (spool_ && !spool_->dropThrough(key))
        qCWarning(lcJournal) << "journal spool: written entries not removed, the next start writes them again:"
                             << spool_->lastError();
}
