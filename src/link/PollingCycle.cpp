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
    apply(results, image_);
    ++completed_;
    bool all = !results.isEmpty();
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
struct CycleBlock {
    ReadRequest request;
    const char* failure; // said while this block alone is not answered
};
const CycleBlock kBlocks[] = {
    {{ReadFn::Get_3X_D8, 1}, QT_TRANSLATE_NOOP("PollingCycle", "过程值读取失败")},    // PV, OP, SV, aux and four more
    {{ReadFn::Get_4X_D8, 257}, QT_TRANSLATE_NOOP("PollingCycle", "报警设定读取失败")}, // alarm and sensor-break settings
    {{ReadFn::Get_4X_D8, 4114}, QT_TRANSLATE_NOOP("PollingCycle", "报警类型读取失败")}, // alarm types and the rest
    {{ReadFn::Get_1X_B16, 1}, QT_TRANSLATE_NOOP("PollingCycle", "报警状态读取失败")},  // alarm outputs, sensor open / short
    {{ReadFn::Get_0X_B16, 1}, QT_TRANSLATE_NOOP("PollingCycle", "运行状态读取失败")},  // self-tuning, auto/manual, manual permitted
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
        apply(results, image_);
        ++completed_;
        bool all = results.size() == 5;
        quint32 answered = 0;
        for (const ReadResult& r : results) {
            all = all && r.ok();
            if (const int block = blockOf(r.request); r.ok() && block >= 0)
                answered |= 1u << block;
        }
        Q_EMIT blocksAnswered(answered);
        Q_EMIT cycleCompleted(all);
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
        switch (r.request.fn) {
        case ReadFn::Get_3X_D8:
            if (r.request.first != 1)
                break;
            for (int i = 0; i < 8; ++i)
                image.InputRegs[i] = r.data[i];
            for (int i = 0; i < 4; ++i) {
                image.Values[i] = float(image.InputRegs[i]);
                if (i == 1)
                    image.Values[1] /= 10;
            }
            break;
        case ReadFn::Get_4X_D8:
            if (r.request.first == 257) {
                for (int i = 0; i < 8; ++i) {
                    image.HoldingRegs[256 + i] = r.data[i];
                    image.Values[256 + i] = float(image.HoldingRegs[256 + i]);
                }
            } else if (r.request.first == 4114) {
                for (int i = 0; i < 8; ++i)
                    image.HoldingRegs[13 + i] = r.data[i];
            }
            break;
        case ReadFn::Get_1X_B16:
            applyBits(r, image.InputBits.data(), 4);
            break;
        case ReadFn::Get_0X_B16:
            applyBits(r, image.CoilBits.data(), 3);
            break;
        case ReadFn::Get_4X_D16:
            break;
        }
    }
}
