#include "HistorySpool.h"
#include "RingSchema.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
int slot(HistoryRing ring) { return ring == HistoryRing::Short ? 0 : 1; }
} // namespace

HistorySpool::HistorySpool(const QString& connectionName) : connectionName_(connectionName) {}

HistorySpool::~HistorySpool()
{
    if (!db_.isValid())
        return;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool HistorySpool::isOpen() const { return db_.isValid() && db_.isOpen(); }

bool HistorySpool::exec(const QString& sql)
{
    QSqlQuery q(db_);
    if (q.exec(sql))
        return true;
    lastError_ = q.lastError().text();
    return false;
}

bool HistorySpool::open(const QString& path, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path);
    bool ok = db_.open();
    if (!ok)
        lastError_ = db_.lastError().text();
    for (HistoryRing ring : {HistoryRing::Short, HistoryRing::Long})
        ok = ok && exec(RingSchema::spoolCreate(ring));
    ok = ok && exec(QStringLiteral("pragma synchronous=FULL"));
    for (HistoryRing ring : {HistoryRing::Short, HistoryRing::Long})
        size_[slot(ring)] = ok ? count(ring) : 0;
    if (!ok && error)
        *error = lastError_;
    return ok;
}

qint64 HistorySpool::count(HistoryRing ring)
{
    QSqlQuery q(db_);
    return q.exec(RingSchema::spoolCount(ring)) && q.next() ? q.value(0).toLongLong() : 0;
}

bool HistorySpool::append(HistoryRing ring, const QList<HistoryRow>& rows)
{
    if (rows.isEmpty())
        return true;
    if (!db_.transaction()) {
        lastError_ = db_.lastError().text();
        return false;
    }
    const qint64 before = size(ring);
    for (const HistoryRow& r : rows) {
        if (!append(ring, r)) {
            db_.rollback();
            size_[slot(ring)] = before;
            return false;
        }
    }
    if (!db_.commit()) {
        lastError_ = db_.lastError().text();
        db_.rollback();
        size_[slot(ring)] = before;
        return false;
    }
    return true;
}

bool HistorySpool::append(HistoryRing ring, const HistoryRow& r)
{
    QSqlQuery q(db_);
    q.prepare(RingSchema::spoolInsert(ring));
    for (const QVariant& v :
         QVariantList{r.id, r.date, r.time, double(r.pv), double(r.op), double(r.sv), double(r.aux)})
        q.addBindValue(v);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return false;
    }
    ++size_[slot(ring)];
    return true;
}

QList<HistoryRow> HistorySpool::front(HistoryRing ring, int count)
{
    QList<HistoryRow> rows;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!q.exec(RingSchema::spoolFront(ring, count))) {
        lastError_ = q.lastError().text();
        return rows;
    }
    while (q.next())
        rows << HistoryRow{q.value(0).toInt(),   q.value(1).toDouble(), q.value(2).toDouble(), q.value(3).toFloat(),
                           q.value(4).toFloat(), q.value(5).toFloat(),  q.value(6).toFloat()};
    return rows;
}

bool HistorySpool::dropFront(HistoryRing ring, int count)
{
    if (!exec(RingSchema::spoolDropFront(ring, count)))
        return false;
    size_[slot(ring)] = this->count(ring);
    return true;
}

std::optional<qint32> HistorySpool::renumberFrom(HistoryRing ring, qint32 counter)
{
    const qint64 n = size(ring);
    if (n == 0)
        return counter;
    const qint32 start = (counter >= kRingSize || counter < 0) ? 0 : counter;
    if (!exec(RingSchema::spoolRenumber(ring, start)))
        return std::nullopt;
    return qint32((start + n - 1) % kRingSize) + 1;
}
