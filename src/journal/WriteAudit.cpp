#include "WriteAudit.h"
#include "Journal.h"
#include "JournalLog.h"
#include "MonitorBlock.h"

size_t qHash(const InstrumentPoint& p, size_t seed) { return qHashMulti(seed, int(p.space), p.number); }

namespace {
using Space = InstrumentPoint::Space;

InstrumentPoint pointOf(const WriteRequest& request)
{
    if (request.fn == WriteFn::Set_4X_D1)
        return {Space::HoldingRegister, request.address};
    return {Space::Coil, request.address};
}
} // namespace

WriteAudit::WriteAudit(LinkClient& link, Journal& journal, QObject* parent)
    : QObject(parent), link_(link), journal_(journal)
{
    clock_.start();
    expiry_.setInterval(250);
    connect(&expiry_, &QTimer::timeout, this, &WriteAudit::expire);
    connect(&link_, &LinkClient::readsCompleted, this, &WriteAudit::onReads);
}

InstrumentPoint WriteAudit::readBackPoint(const WriteRequest& request)
{
    const InstrumentPoint point = pointOf(request);
    // Holding registers the poll never reads back directly show as an input
    // register instead (the set value, the manual output).
    if (point.space == Space::HoldingRegister)
        if (const MonitorBlock::Value* v = MonitorBlock::valueWritten(point.number); v && v->readBackInput != 0)
            return {Space::InputRegister, v->readBackInput};
    return point;
}

std::optional<qint32> WriteAudit::lastRead(const InstrumentPoint& point) const
{
    const auto it = last_.constFind(point);
    return it == last_.cend() ? std::nullopt : std::optional<qint32>(*it);
}

void WriteAudit::write(QObject* requester, const WriteRequest& request, const WriteLabel& label,
                       LinkClient::WriteCallback done)
{
    const std::optional<qint32> old = lastRead(readBackPoint(request));
    // The audit is the link's requester so the result is recorded even when
    // the window that asked has gone.
    link_.write(this, request,
                [this, request, label, old, who = QPointer<QObject>(requester),
                 done = std::move(done)](const WriteResult& result) {
                    const bool ok = result.outcome == LinkOutcome::Answered;
                    JournalEvent entry = WriteEntry::sent(request, label, old, result);
                    entry.loop = loop_;
                    const quint64 seq = journal_.append(std::move(entry));
                    if (ok) {
                        pending_.append(ReadBack{seq, readBackPoint(request), WriteEntry::valueOf(request),
                                                 label.divisor, std::nullopt, clock_.elapsed() + windowMs_});
                        expiry_.start();
                    }
                    if (who && done)
                        done(result);
                });
}

void WriteAudit::refused(const WriteRequest& request, const WriteLabel& label, const QString& enteredText,
                         const QString& reason)
{
    JournalEvent entry = WriteEntry::refused(request, label, lastRead(readBackPoint(request)), enteredText, reason);
    entry.loop = loop_;
    journal_.append(std::move(entry));
}

void WriteAudit::onReads(const QVector<ReadResult>& results)
{
    QList<InstrumentPoint> touched;
    for (const ReadResult& r : results) {
        if (!r.ok() || r.data.isEmpty())
            continue;
        const int first = r.request.first;
        switch (r.request.fn) {
        case ReadFn::Get_3X_D8:
        case ReadFn::Get_4X_D8:
        case ReadFn::Get_4X_D16: {
            const Space space = r.request.fn == ReadFn::Get_3X_D8 ? Space::InputRegister : Space::HoldingRegister;
            for (int i = 0; i < elementsOf(r.request.fn) && i < r.data.size(); ++i) {
                last_.insert({space, first + i}, r.data.at(i));
                touched << InstrumentPoint{space, first + i};
            }
            break;
        }
        case ReadFn::Get_0X_B16:
        case ReadFn::Get_1X_B16: {
            // The same validity rule as the poll: a word outside 0..254 is no answer.
            const qint32 word = r.data.at(0);
            if (word < 0 || word > 254)
                break;
            const Space space = r.request.fn == ReadFn::Get_0X_B16 ? Space::Coil : Space::DiscreteInput;
            for (int k = 0; k < 8; ++k) {
                last_.insert({space, first + k}, (word >> k) & 1);
                touched << InstrumentPoint{space, first + k};
            }
            break;
        }
        }
    }
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (!touched.contains(it->point)) {
            ++it;
            continue;
        }
        const qint32 shown = last_.value(it->point);
        if (shown == it->expected) {
            journal_.updateResult(it->seq, WriteEntry::verified());
            it = pending_.erase(it);
        } else {
            it->seen = shown;
            ++it;
        }
    }
    expire();
}

void WriteAudit::expire()
{
    const qint64 now = clock_.elapsed();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now < it->deadlineMs) {
            ++it;
            continue;
        }
        if (it->seen)
            journal_.updateResult(it->seq, WriteEntry::mismatch(*it->seen, it->divisor));
        it = pending_.erase(it);
    }
    if (pending_.isEmpty())
        expiry_.stop();
}

void auditedWrite(WriteAudit* audit, LinkClient& link, QObject* requester, const WriteRequest& request,
                  const WriteLabel& label, LinkClient::WriteCallback done)
{
    if (audit)
        audit->write(requester, request, label, std::move(done));
    else
        link.write(requester, request, std::move(done));
}

void auditRefusal(WriteAudit* audit, const WriteRequest& request, const WriteLabel& label, const QString& enteredText,
                  const QString& reason)
{
    if (audit)
        audit->refused(request, label, enteredText, reason);
}
