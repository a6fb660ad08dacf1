#include "SparkFeed.h"
#include "HistoryReader.h"
#include "StationClock.h"

#include <algorithm>

SparkFeed::SparkFeed(const QString& historyLocation, QObject* parent) : QObject(parent)
{
    if (historyLocation.isEmpty())
        return;
    reader_ = std::make_unique<HistoryReader>(QStringLiteral("overview"));
    connect(reader_.get(), &HistoryReader::replied, this, &SparkFeed::onReply);
    reader_->open(historyLocation);
}

SparkFeed::~SparkFeed() = default;

double SparkFeed::secondsOf(double date, double time) { return date * 86400.0 + qRound(time * 86400.0); }

int SparkFeed::rowsSince(int lastId, int newestId)
{
    if (lastId <= 0 || newestId <= 0 || lastId > kRingSize || newestId > kRingSize)
        return kMaxRows;
    const int n = (newestId - lastId + kRingSize) % kRingSize;
    return std::min(n, int(kMaxRows));
}

void SparkFeed::poll()
{
    if (!reader_ || request_ != 0)
        return;
    request_ = reader_->requestNewestId(HistoryRing::Short);
}

void SparkFeed::onReply(const HistoryReply& reply)
{
    if (reply.request != request_)
        return;
    request_ = 0;
    if (!reply.ok)
        return;
    if (reply.kind == HistoryReply::Kind::NewestId) {
        if (reply.id <= 0 || reply.id == lastId_)
            return;
        const int rows = rowsSince(lastId_, reply.id);
        fresh_ = rows >= kMaxRows;
        pageEnd_ = reply.id;
        request_ = reader_->requestPage(HistoryRing::Short, reply.id, rows);
        return;
    }
    if (reply.kind != HistoryReply::Kind::Page)
        return;
    if (fresh_)
        samples_.clear();
    lastId_ = pageEnd_;
    for (const HistoryRow& row : reply.rows) {
        const double t = secondsOf(row.date, row.time);
        // A row out of order (a clock set back) would fold the line back on itself.
        if (!samples_.isEmpty() && t < samples_.constLast().t)
            samples_.clear();
        samples_.append({t, row.pv, row.sv});
    }
    const OleStamp now = StationClock::nowStamp();
    const double from =
        std::max(secondsOf(now.date, now.time), samples_.isEmpty() ? 0.0 : samples_.constLast().t) - kSpanS;
    const auto keep = std::lower_bound(samples_.cbegin(), samples_.cend(), from,
                                       [](const SparkSample& s, double t) { return s.t < t; });
    samples_.erase(samples_.cbegin(), keep);
    Q_EMIT changed();
}
