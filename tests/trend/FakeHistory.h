#pragma once
#include "HistoryTypes.h"
#include "StationClock.h"

#include <QDateTime>
#include <QMap>
#include <algorithm>
#include <cmath>

// An in-memory history: a ring per history (id -> row) that selects a page
// the way the database does: ids B+1..end without a wrap, every id outside
// end+1..B with one, ordered by date then time of day.
class FakeHistory : public HistorySource {
public:
    QMap<qint32, HistoryRow> rows[2];
    std::optional<qint32> newest[2];
    bool pagesFail = false;
    struct PageCall {
        qint32 pageEndId;
        qint32 pageSize;
    };
    QVector<PageCall> pageCalls;

    // Samples `first`, `first`+1, ... (ids wrapping after kRingSize), one every
    // `secondsApart` from `start`, with PV = id, OP = id / 100, SV = id + 1.
    void addRun(qint32 first, int count, const QDateTime& start, int secondsApart = 1,
                HistoryRing ring = HistoryRing::Short)
    {
        for (int n = 0; n < count; ++n) {
            const qint32 id = (first - 1 + n) % kRingSize + 1;
            const OleStamp stamp = OleTime::fromDateTime(start.addSecs(qint64(n) * secondsApart));
            rows[int(ring)][id] =
                HistoryRow{id, stamp.date, stamp.time, float(id), float(id) / 100.0f, float(id) + 1.0f, 0.0f};
            newest[int(ring)] = id;
        }
    }

    std::optional<qint32> newestId(HistoryRing ring) override { return newest[int(ring)]; }

    std::optional<QVector<HistoryRow>> loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize) override
    {
        pageCalls.append({pageEndId, pageSize});
        if (pagesFail)
            return std::nullopt;
        QVector<HistoryRow> page;
        const bool wrap = pageEndId < pageSize;
        const qint32 other = wrap ? kRingSize - (pageSize - pageEndId) : pageEndId - pageSize;
        // Looked up id by id: paging round a full ring loads a thousand pages.
        const auto& ringRows = rows[int(ring)];
        auto take = [&](qint32 from, qint32 to) {
            for (qint32 id = std::max(from, 1); id <= std::min(to, kRingSize); ++id)
                if (const auto it = ringRows.constFind(id); it != ringRows.constEnd())
                    page.append(*it);
        };
        if (wrap) {
            take(1, pageEndId);
            take(other + 1, kRingSize);
        } else {
            take(other + 1, pageEndId);
        }
        std::stable_sort(page.begin(), page.end(), [](const HistoryRow& a, const HistoryRow& b) {
            return a.date != b.date ? a.date < b.date : a.time < b.time;
        });
        return page;
    }

    std::optional<qint32> idNearest(HistoryRing ring, double date, double time) override
    {
        std::optional<qint32> best;
        double bestDistance = 0.0;
        for (const HistoryRow& row : rows[int(ring)]) {
            const double d = std::abs(row.date + row.time - (date + time));
            if (!best || d < bestDistance) {
                best = row.id;
                bestDistance = d;
            }
        }
        return best;
    }
};
