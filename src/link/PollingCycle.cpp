#include "PollingCycle.h"

#include <algorithm>

PollingCycle::PollingCycle(LinkClient& link, LiveImage& image, QObject* parent)
    : QObject(parent), link_(link), image_(image)
{
    setObjectName(QStringLiteral("Met1"));
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &PollingCycle::tick);
}

void PollingCycle::start() { timer_->start(); }
void PollingCycle::stop() { timer_->stop(); }

QVector<ReadRequest> PollingCycle::cycleRequests()
{
    return {
        {ReadFn::Get_3X_D8, 1},    // PV, OP, SV, aux and four more input registers
        {ReadFn::Get_4X_D8, 257},  // alarm and sensor-break settings
        {ReadFn::Get_4X_D8, 4114}, // alarm types and the rest of that block
        {ReadFn::Get_1X_B16, 1},   // alarm outputs, sensor open / short
        {ReadFn::Get_0X_B16, 1},   // self-tuning, auto/manual, manual permitted
    };
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
        for (const ReadResult& r : results)
            all = all && r.ok();
        Q_EMIT cycleCompleted(all);
    });
    if (!queued)
        ++skipped_;
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
