#pragma once
#include "StationClock.h"

#include <QString>
#include <QVector>
#include <QtGlobal>
#include <array>
#include <optional>

// The two histories: one sample a second in pv_data (newest id in sl_void
// columns 0 and 1) and one every ten seconds in lpv_wdjl (columns 2 and 3).
// Each is a ring of ids 1..kRingSize.
enum class HistoryRing { Short, Long };

constexpr qint32 kRingSize = 65500;

struct HistoryRow {
    qint32 id = 0;
    double date = 0.0; // OLE day number
    double time = 0.0; // fraction of a day
    float pv = 0.0f;
    float op = 0.0f; // percent
    float sv = 0.0f;
    float aux = 0.0f;

    // One sample as the recorder takes it: `values` are PV, OP, SV, aux.
    static HistoryRow sample(qint32 id, const OleStamp& stamp, const std::array<float, 4>& values)
    {
        return {id, stamp.date, stamp.time, values[0], values[1], values[2], values[3]};
    }
};

struct HistoryCounters {
    qint32 shortLast = 0;  // w_last
    qint32 shortLast2 = 0; // w_last2
    qint32 longLast = 0;   // lw_last
    qint32 longLast2 = 0;  // lw_last2
};

// What the trend windows need from the history: the newest id of a ring and
// one page of rows. HistoryStore implements it on the database; tests may
// implement it in memory.
class HistorySource {
public:
    virtual ~HistorySource() = default;
    // Newest id of the ring as the counter row holds it; nothing when it
    // cannot be read (callers then keep their previous value).
    virtual std::optional<qint32> newestId(HistoryRing ring) = 0;
    // The `pageSize` samples whose ids end at `pageEndId` (wrapping round the
    // ring), ordered by date then time of day; nothing when the query failed.
    virtual std::optional<QVector<HistoryRow>> loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize) = 0;
    // Id of the stored sample whose date and time of day (OLE day number and
    // day fraction) lie nearest to the given moment; nothing when the ring is
    // empty or the search failed. Used by the trend's time jump.
    virtual std::optional<qint32> idNearest(HistoryRing ring, double date, double time)
    {
        Q_UNUSED(ring);
        Q_UNUSED(date);
        Q_UNUSED(time);
        return std::nullopt;
    }
    // The database file behind the source, for work that opens a connection
    // of its own (CSV export on a worker thread); empty when there is none.
    virtual QString databasePath() const { return {}; }
};
