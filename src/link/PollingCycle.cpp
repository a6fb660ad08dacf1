#include "PollingCycle.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

PollingCycle::PollingCycle(LinkClient& link, LiveImage& image, QObject* parent)
    : QObject(parent), link_(link), image_(image)
{
    setObjectName(QStringLiteral("Met1"));
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &PollingCycle::tick);
    connect(&link_, &LinkClient::cycleReads, this, &PollingCycle::deliver);
}

void PollingCycle::start()
{
    // On a line of loops the line's scheduler reads; this cycle takes what it delivers.
    if (link_.isLoopChannel()) {
        fed_ = true;
        return;
    }
    timer_->start();
}

void PollingCycle::stop()
{
    timer_->stop();
    fed_ = false;
    catchUp_ = false;
}

void PollingCycle::deliver(const QVector<ReadResult>& results)
{
    if (!fed_)
        return;
    finish(results, !results.isEmpty());
}

void PollingCycle::finish(const QVector<ReadResult>& results, bool complete)
{
    apply(results, image_);
    bool all = complete;
    quint32 answered = 0;
    for (const ReadResult& r : results) {
        all = all && r.ok();
        if (const int block = blockOf(r.request); r.ok() && block >= 0)
            answered |= 1u << block;
    }
    Q_EMIT blocksAnswered(answered);
    Q_EMIT cycleCompleted(all);
}

namespace {
// The five reads and where each answer lands in the image. A word block
// fills `count` elements of its register array from `offset` and the first
// `values` of them also Values[offset...]; a bit block splits the word into
// `count` bits. The meaning of each element is the instrument's
// (MonitorBlock, which names these blocks by their place here).
struct CycleBlock {
    ReadRequest request;
    const char* failure; // said while this block alone is not answered
    enum class Into { InputRegs, HoldingRegs, InputBits, CoilBits } into;
    int offset;
    int count;
    int values = 0;
    int tenths = -1; // element kept in tenths by the instrument, divided on the way into Values
};
using Into = CycleBlock::Into;
const CycleBlock kBlocks[] = {
    // PV, OP (tenths of a percent), SV, aux and four more
    {{ReadFn::Get_3X_D8, 1}, QT_TRANSLATE_NOOP("PollingCycle", "过程值读取失败"), Into::InputRegs, 0, 8, 4, 1},
    // alarm and sensor-break settings: registers 257..264 as 256..263
    {{ReadFn::Get_4X_D8, 257}, QT_TRANSLATE_NOOP("PollingCycle", "报警设定读取失败"), Into::HoldingRegs, 256, 8, 8},
    // alarm types and the rest: registers 4114..4121 as 13..20
    {{ReadFn::Get_4X_D8, 4114}, QT_TRANSLATE_NOOP("PollingCycle", "报警类型读取失败"), Into::HoldingRegs, 13, 8},
    // alarm outputs, sensor open / short
    {{ReadFn::Get_1X_B16, 1}, QT_TRANSLATE_NOOP("PollingCycle", "报警状态读取失败"), Into::InputBits, 0, 4},
    // self-tuning, auto/manual, manual permitted
    {{ReadFn::Get_0X_B16, 1}, QT_TRANSLATE_NOOP("PollingCycle", "运行状态读取失败"), Into::CoilBits, 0, 3},
};
} // namespace

QVector<ReadRequest> PollingCycle::cycleRequests()
{
    QVector<ReadRequest> requests;
    for (const CycleBlock& block : kBlocks)
        requests.append(block.request);
    return requests;
}

int PollingCycle::blockCount() { return int(std::size(kBlocks)); }

QString PollingCycle::blockFailureText(int block)
{
    if (block < 0 || block >= blockCount())
        return QString();
    return QCoreApplication::translate("PollingCycle", kBlocks[block].failure);
}

int PollingCycle::blockOf(const ReadRequest& request)
{
    for (int k = 0; k < blockCount(); ++k)
        if (kBlocks[k].request.fn == request.fn && kBlocks[k].request.first == request.first)
            return k;
    return -1;
}

QVector<ReadRequest> PollingCycle::nextRequests() const
{
    QVector<ReadRequest> order = cycleRequests();
    std::rotate(order.begin(), order.begin() + first_, order.end());
    return order;
}

void PollingCycle::tick()
{
    const int first = first_;
    const bool queued = link_.readBatch(this, nextRequests(), [this, first](const QVector<ReadResult>& results) {
        // The link gives up a batch at a timeout unless the read before it
        // answered. Starting the next cycle just after the last silent block
        // puts the blocks that answer first, so one silent block never keeps
        // the others from being read, and a dead line still costs one
        // timeout per cycle.
        for (int i = int(results.size()) - 1; i >= 0; --i) {
            if (results.at(i).outcome == LinkOutcome::Timeout) {
                first_ = (first + i + 1) % int(cycleRequests().size());
                break;
            }
        }
        finish(results, results.size() == blockCount());
        // A cycle slowed by a silent block ran past a tick: begin the next
        // one now rather than at the tick after, so the blocks that answer
        // are refreshed every cycle plus that one timeout, not every third tick.
        if (catchUp_ && timer_->isActive()) {
            catchUp_ = false;
            timer_->start();
            QMetaObject::invokeMethod(this, &PollingCycle::tick, Qt::QueuedConnection);
        }
    });
    if (!queued) {
        ++skipped_;
        catchUp_ = true;
    }
}

std::array<qint32, 8> PollingCycle::D_Byte(quint8 b)
{
    std::array<qint32, 8> bits{};
    for (int k = 0; k < 8; ++k)
        bits[k] = (b >> k) & 1;
    return bits;
}

namespace {
// A bit word is taken only when it lies between 0 and 254; anything else
// leaves the bits as they were.
void applyBits(const ReadResult& r, qint32* target, int count)
{
    if (!r.ok() || r.data.isEmpty())
        return;
    const qint32 word = r.data.at(0);
    if (word < 0 || word > 254)
        return;
    const auto bits = PollingCycle::D_Byte(quint8(word));
    for (int k = 0; k < count; ++k)
        target[k] = bits[k];
}
} // namespace

void PollingCycle::apply(const QVector<ReadResult>& results, LiveImage& image)
{
    for (const ReadResult& r : results) {
        if (!r.ok() || r.data.size() < 8)
            continue;
        const int k = blockOf(r.request);
        if (k < 0)
            continue;
        const CycleBlock& b = kBlocks[k];
        switch (b.into) {
        case Into::InputRegs:
        case Into::HoldingRegs: {
            auto& regs = b.into == Into::InputRegs ? image.InputRegs : image.HoldingRegs;
            for (int i = 0; i < b.count; ++i)
                regs[std::size_t(b.offset + i)] = r.data[i];
            for (int i = 0; i < b.values; ++i) {
                float& value = image.Values[std::size_t(b.offset + i)];
                value = float(regs[std::size_t(b.offset + i)]);
                if (i == b.tenths)
                    value /= 10;
            }
            break;
        }
        case Into::InputBits: applyBits(r, image.InputBits.data() + b.offset, b.count); break;
        case Into::CoilBits: applyBits(r, image.CoilBits.data() + b.offset, b.count); break;
        }
    }
}
