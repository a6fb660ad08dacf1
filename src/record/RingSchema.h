#pragma once
#include "HistoryTypes.h"

#include <QString>
#include <QStringList>
#include <optional>

class QSqlError;

// The history's tables as the database names them, and every SQL text built
// on those names: the engines' creation and layout check, the store's reads
// and writes, the export, the spool and the tuning's period reader. A name
// changes here or nowhere.
namespace RingSchema {

struct Ring {
    const char* table;      // "pv_data" (one a second), "lpv_wdjl" (one in ten seconds)
    const char* idColumn;   // "w_id", "lw_id"
    const char* counter;    // sl_void column holding the newest id: "w_last", "lw_last"
    const char* counter2;   // its twin, written alongside: "w_last2", "lw_last2"
    const char* spoolTable; // the spool's copy of the ring: "spool_pv_data", "spool_lpv_wdjl"
};
const Ring& of(HistoryRing ring);

inline constexpr char kCounterTable[] = "sl_void";

// Creation in a blank database; `idType` for ids and counters, `valueType`
// for the rest. Column order is what the readers address by position: id,
// date, time, PV, OP, SV, aux.
QStringList schema(const QString& idType, const QString& valueType);
// "('pv_data', 'lpv_wdjl', 'sl_void')": the history's own tables, for a
// catalogue query in a schema the journal shares.
QString tableList();
// The tables with their columns in order, "table(column,...)", sorted by name.
QStringList layout();

// The counter row: all of it, and the row put back with these newest ids.
QString counterQuery();
QString counterRowInsert(qint32 shortLast, qint32 longLast);

// The store's texts (see HistoryStore for what each is for).
QString sampleQuery(HistoryRing ring, qint32 id);
QString sampleUpdate(HistoryRing ring);  // binds date, time, PV, OP, SV, aux, id
QString sampleInsert(HistoryRing ring);  // binds id, date, time, PV, OP, SV, aux
QString counterUpdate(HistoryRing ring); // binds the newest id twice
QString pageQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
QString pageReadQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
// One step of the nearest-id search: the sample with the id nearest a bound
// one, upward (">=", "asc") or downward ("<=", "desc").
QString idStepQuery(HistoryRing ring, const char* comparison, const char* order);

// The export: the ring's rows with their second (column t) and their place
// in the ring (ring_pos, 0 = oldest, bound as :newest), within the seconds.
QString tableProbe(HistoryRing ring);
QString newestIdQuery(HistoryRing ring);
QString exportRangeQuery(HistoryRing ring, std::optional<qint64> from, std::optional<qint64> to, const QString& select,
                         const QString& tail);

// The spool's copy of a ring.
QString spoolCreate(HistoryRing ring);
QString spoolInsert(HistoryRing ring);
QString spoolFront(HistoryRing ring, int count);
QString spoolCount(HistoryRing ring);
QString spoolDropFront(HistoryRing ring, int count);
QString spoolRenumber(HistoryRing ring, qint32 start);

// The tuning's period of the one-second ring: date, time, PV, OP, binding
// the first and last day stamp (date + time).
QString periodQuery();

// A driver's complaint as the history's messages quote it: the text, and
// the driver's own code where it gives one.
QString errorText(const QSqlError& e);

} // namespace RingSchema
