#include "RingSchema.h"

#include <QSqlError>

namespace RingSchema {

namespace {

// %1 is the id type, %2 the value type.
const char* const kSchemaTemplate[] = {
    "create table pv_data (w_id %1, w_date %2, w_time %2, w_pv %2, w_op %2, w_sv %2, w_aux %2)",
    "create table lpv_wdjl (lw_id %1, w_date %2, w_time %2, w_pv %2, w_op %2, w_sv %2, w_aux %2)",
    "create table sl_void (w_last %1, w_last2 %1, lw_last %1, lw_last2 %1)",
    "insert into sl_void (w_last, w_last2, lw_last, lw_last2) values (0, 0, 0, 0)",
    "create index pv_data_w_id on pv_data (w_id)",
    "create index lpv_wdjl_lw_id on lpv_wdjl (lw_id)",
};

QLatin1String table(HistoryRing ring) { return QLatin1String(of(ring).table); }
QLatin1String idColumn(HistoryRing ring) { return QLatin1String(of(ring).idColumn); }
QLatin1String spool(HistoryRing ring) { return QLatin1String(of(ring).spoolTable); }

QString selectWhereId(HistoryRing ring)
{
    return QStringLiteral("select * from  %1 where %2 ").arg(table(ring), idColumn(ring));
}

} // namespace

const Ring& of(HistoryRing ring)
{
    static const Ring shortRing{"pv_data", "w_id", "w_last", "w_last2", "spool_pv_data"};
    static const Ring longRing{"lpv_wdjl", "lw_id", "lw_last", "lw_last2", "spool_lpv_wdjl"};
    return ring == HistoryRing::Short ? shortRing : longRing;
}

QStringList schema(const QString& idType, const QString& valueType)
{
    QStringList out;
    for (const char* sql : kSchemaTemplate)
        out << QString::fromLatin1(sql).replace(QLatin1String("%1"), idType).replace(QLatin1String("%2"), valueType);
    return out;
}

QString tableList() { return QStringLiteral("('pv_data', 'lpv_wdjl', 'sl_void')"); }

QStringList layout()
{
    return {
        QStringLiteral("lpv_wdjl(lw_id,w_date,w_time,w_pv,w_op,w_sv,w_aux)"),
        QStringLiteral("pv_data(w_id,w_date,w_time,w_pv,w_op,w_sv,w_aux)"),
        QStringLiteral("sl_void(w_last,w_last2,lw_last,lw_last2)"),
    };
}

QString counterQuery() { return QStringLiteral("select * from  sl_void"); }

QString counterRowInsert(qint32 shortLast, qint32 longLast)
{
    return QStringLiteral("insert into sl_void (w_last, w_last2, lw_last, lw_last2) values (%1, %1, %2, %2)")
        .arg(shortLast)
        .arg(longLast);
}

// The recorder's row lookup, byte for byte as it has always been sent.
QString sampleQuery(HistoryRing ring, qint32 id)
{
    return ring == HistoryRing::Short
               ? QStringLiteral("select * from  pv_data where w_id=") + QString::number(id)
               : QStringLiteral("select * from  Lpv_wdjl   Where lw_id = ") + QString::number(id);
}

QString sampleUpdate(HistoryRing ring)
{
    return QStringLiteral("update %1 set w_date=?, w_time=?, w_pv=?, w_op=?, w_sv=?, w_aux=? where %2=?")
        .arg(table(ring), idColumn(ring));
}

QString sampleInsert(HistoryRing ring)
{
    return QStringLiteral("insert into %1 (%2, w_date, w_time, w_pv, w_op, w_sv, w_aux) values (?, ?, ?, ?, ?, ?, ?)")
        .arg(table(ring), idColumn(ring));
}

QString counterUpdate(HistoryRing ring)
{
    return QStringLiteral("update sl_void set %1=?, %2=?")
        .arg(QLatin1String(of(ring).counter), QLatin1String(of(ring).counter2));
}

QString pageQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    const QString head = selectWhereId(ring);
    if (pageEndId >= pageSize) {
        const qint32 b = pageEndId - pageSize;
        return head + QStringLiteral(" between ") + QString::number(b + 1) + QStringLiteral(" and ")
               + QString::number(pageEndId) + QStringLiteral(" order by w_date,w_time");
    }
    const qint32 b = kRingSize - (pageSize - pageEndId);
    return head + QStringLiteral("not between ") + QString::number(pageEndId + 1) + QStringLiteral(" and ")
           + QString::number(b) + QStringLiteral(" order by w_date,w_time ");
}

QString pageReadQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    const qint32 b = kRingSize - (pageSize - pageEndId);
    // "not between" scans the whole ring. Across the wrap it is the two id
    // ranges either side of the gap, which the id index serves; ranges that
    // would overlap (a page as large as the ring) stay a scan.
    if (pageEndId >= pageSize || b < pageEndId + 1)
        return pageQuery(ring, pageEndId, pageSize);
    const QString head = selectWhereId(ring);
    return head + QStringLiteral("< ") + QString::number(qint64(pageEndId) + 1) + QStringLiteral(" union all ") + head
           + QStringLiteral("> ") + QString::number(b) + QStringLiteral(" order by w_date,w_time");
}

QString idStepQuery(HistoryRing ring, const char* comparison, const char* order)
{
    return QStringLiteral("select %1, w_date, w_time from %2 where %1 %3 ? and w_date is not null "
                          "and w_time is not null order by %1 %4 limit 1")
        .arg(idColumn(ring), table(ring), QLatin1String(comparison), QLatin1String(order));
}

QString tableProbe(HistoryRing ring) { return QStringLiteral("select 1 from %1 where 1 = 0").arg(table(ring)); }

QString newestIdQuery(HistoryRing ring)
{
    return QStringLiteral("select %1 from sl_void").arg(QLatin1String(of(ring).counter));
}

QString exportRangeQuery(HistoryRing ring, std::optional<qint64> from, std::optional<qint64> to, const QString& select,
                         const QString& tail)
{
    QString where;
    if (from)
        where += QStringLiteral(" and t >= %1").arg(*from);
    if (to)
        where += QStringLiteral(" and t <= %1").arg(*to);
    // One text for every engine: the derived table is named, the filter
    // starts from "true", and the second is a 64-bit integer (seconds since
    // 1899 pass 2^31). The second is rounded as the recorder's whole-second
    // stamps are.
    return QStringLiteral("select %1 from (select cast(round((w_date + w_time) * 86400) as bigint) as t, "
                          "(%2 - :newest + %3) % %4 as ring_pos, w_pv, w_op, w_sv, w_aux from %5 "
                          "where w_date is not null and w_time is not null) as ring where true%6%7")
        .arg(select, idColumn(ring))
        .arg(kRingSize - 1)
        .arg(kRingSize)
        .arg(table(ring), where, tail);
}

// seq counts each table's rows without gaps: renumbering relies on it.
QString spoolCreate(HistoryRing ring)
{
    return QStringLiteral("create table if not exists %1 (seq INTEGER PRIMARY KEY AUTOINCREMENT, id INTEGER, "
                          "w_date REAL, w_time REAL, w_pv REAL, w_op REAL, w_sv REAL, w_aux REAL)")
        .arg(spool(ring));
}

QString spoolInsert(HistoryRing ring)
{
    return QStringLiteral("insert into %1 (id, w_date, w_time, w_pv, w_op, w_sv, w_aux) values (?, ?, ?, ?, ?, ?, ?)")
        .arg(spool(ring));
}

QString spoolFront(HistoryRing ring, int count)
{
    return QStringLiteral("select id, w_date, w_time, w_pv, w_op, w_sv, w_aux from %1 order by seq limit %2")
        .arg(spool(ring))
        .arg(count);
}

QString spoolCount(HistoryRing ring) { return QStringLiteral("select count(*) from %1").arg(spool(ring)); }

QString spoolDropFront(HistoryRing ring, int count)
{
    return QStringLiteral("delete from %1 where seq in (select seq from %1 order by seq limit %2)")
        .arg(spool(ring))
        .arg(count);
}

QString spoolRenumber(HistoryRing ring, qint32 start)
{
    return QStringLiteral("update %1 set id = ((%2 + seq - (select min(seq) from %1)) % %3) + 1")
        .arg(spool(ring))
        .arg(start)
        .arg(kRingSize);
}

// Times are whole seconds as fractions of a day.
QString periodQuery()
{
    return QStringLiteral("select w_date, w_time, w_pv, w_op from pv_data "
                          "where w_date + w_time >= ? and w_date + w_time <= ? order by w_date, w_time");
}

QString errorText(const QSqlError& e)
{
    QString text = e.text().trimmed();
    if (!e.nativeErrorCode().isEmpty())
        text += QStringLiteral(" [%1]").arg(e.nativeErrorCode());
    return text;
}

} // namespace RingSchema
