#include "JournalWriter.h"
#include "HistoryEngine.h"
#include "JournalLog.h"

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
    // A server connection that failed is replaced: the server may be back.
    if (!store_.open(path_))
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
    bool ok = ensureOpen();
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
                queue_.pop_front();
                if (e.kind == QStringView(JournalKind::Write))
                    rememberId(e.seq, e.id);
                Q_EMIT stored(e);
            }
            continue;
        }
        if (front.type == Op::Update) {
            const qint64 id = idOfSeq_.value(front.event.seq, 0);
            // Unknown: its row was dropped while the journal was unusable.
            ok = id == 0 || store_.updateResult(id, front.result);
            if (ok && id != 0)
                Q_EMIT resultStored(id, front.result);
        } else {
            ok = store_.acknowledge(front.ids, front.event.timeUtc, front.event.operatorName);
        }
        if (ok)
            queue_.pop_front();
    }
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
               : store_.isOpen() ? tr("事件记录不可写")
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
        qCWarning(lcJournal) << queue_.size() << "journal entries could not be written before exit";
    store_.close();
}
