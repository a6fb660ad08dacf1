#include "Journal.h"
#include "JournalWriter.h"
#include "HandOver.h"

#include <QThread>

Journal::Journal(const QString& path, QObject* parent) : QObject(parent), path_(path), operator_(currentOperator())
{
    qRegisterMetaType<JournalEvent>();
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("journal"));
    writer_ = new JournalWriter(path);
    writer_->moveToThread(thread_);
    connect(thread_, &QThread::finished, writer_, &QObject::deleteLater);
    relay(writer_, &JournalWriter::stored, this, &Journal::eventStored);
    relay(writer_, &JournalWriter::resultStored, this, &Journal::resultStored);
    relay(writer_, &JournalWriter::stateChanged, this, [this](bool healthy, const QString& text) {
        healthy_ = healthy;
        stateText_ = text;
        Q_EMIT stateChanged(healthy, text);
    });
    relay(writer_, &JournalWriter::unacknowledgedAlarmsChanged, this, [this](int count) {
        unacked_ = count;
        Q_EMIT unacknowledgedAlarmsChanged(count);
    });
    relay(writer_, &JournalWriter::unacknowledgedAlarmsByLoopChanged, this, [this](const QHash<int, int>& counts) {
        unackedByLoop_ = counts;
        Q_EMIT unacknowledgedAlarmsByLoopChanged();
    });
    thread_->start();
    toWriter([w = writer_] { w->flush(); }); // opens (or creates) the file now
}

Journal::~Journal() { stop(); }

template <typename F> void Journal::toWriter(F&& f)
{
    if (thread_->isRunning())
        postTo(writer_, std::forward<F>(f));
}

quint64 Journal::append(const QString& kind, const QString& source, const QString& message, const QString& oldValue,
                        const QString& newValue, const QString& result)
{
    JournalEvent e;
    e.kind = kind;
    e.source = source;
    e.message = message;
    e.oldValue = oldValue;
    e.newValue = newValue;
    e.result = result;
    return append(std::move(e));
}

quint64 Journal::append(JournalEvent event)
{
    event.seq = nextSeq_++;
    if (!event.timeUtc.isValid())
        event.timeUtc = QDateTime::currentDateTimeUtc();
    if (event.operatorName.isNull())
        event.operatorName = operator_;
    Q_EMIT eventAppended(event);
    toWriter([w = writer_, event] { w->append(event); });
    return event.seq;
}

void Journal::updateResult(quint64 seq, const QString& result)
{
    toWriter([w = writer_, seq, result] { w->updateResult(seq, result); });
}

void Journal::acknowledge(const QList<qint64>& ids)
{
    if (ids.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    toWriter([w = writer_, ids, now, op = operator_] { w->acknowledge(ids, now, op); });
    QStringList numbers;
    for (const qint64 id : ids)
        numbers << QString::number(id);
    append(QString::fromUtf16(JournalKind::System), QStringLiteral("确认"),
           QStringLiteral("确认报警 %1 条（编号 %2）").arg(ids.size()).arg(numbers.join(QLatin1Char(','))));
}

void Journal::stop()
{
    if (!thread_->isRunning())
        return;
    runAndWait(writer_, [w = writer_] { w->finish(); });
    thread_->quit();
    thread_->wait();
}

void Journal::spoolHeld()
{
    toWriter([w = writer_] { w->spoolHeld(); });
}

bool Journal::sync()
{
    bool empty = false;
    if (thread_->isRunning())
        runAndWait(writer_, [w = writer_, &empty] { empty = w->pending() == 0; });
    return empty;
}

void Journal::setBound(int bound)
{
    toWriter([w = writer_, bound] { w->setBound(bound); });
}

void Journal::setCapacity(int events)
{
    toWriter([w = writer_, events] { w->setCapacity(events); });
}

void Journal::setRetryInterval(int ms)
{
    toWriter([w = writer_, ms] { w->setRetryInterval(ms); });
}
