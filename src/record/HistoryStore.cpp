#include "HistoryStore.h"
#include "HistoryEngine.h"
#include "RecordLog.h"
#include "RingSchema.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using RingSchema::errorText;

HistoryRow rowFrom(const QSqlQuery& q)
{
    HistoryRow r;
    r.id = q.value(0).toInt();
    r.date = q.value(1).toDouble();
    r.time = q.value(2).toDouble();
    r.pv = q.value(3).toFloat();
    r.op = q.value(4).toFloat();
    r.sv = q.value(5).toFloat();
    r.aux = q.value(6).toFloat();
    return r;
}

} // namespace

HistoryStore::HistoryStore(const QString& connectionName) : connectionName_(connectionName) {}

HistoryStore::~HistoryStore() { close(); }

bool HistoryStore::fail(const QString& message, QString* error)
{
    lastError_ = message;
    if (error)
        *error = message;
    return false;
}

bool HistoryStore::open(const QString& location, QString* error)
{
    close();
    createdSchema_ = false;
    path_ = location;

    QString message;
    const auto parsed = HistoryLocation::parse(location, &message);
    if (!parsed) {
        engine_.reset();
        return fail(message, error);
    }
    engine_ = HistoryEngine::create(*parsed);
    if (!engine_->prepare(&message))
        return fail(message, error);

    db_ = QSqlDatabase::addDatabase(engine_->driverName(), connectionName_);
    added_ = true;
    engine_->configure(db_);
    if (!db_.open()) {
        message = errorText(db_.lastError());
        close();
        return fail(message, error);
    }
    // From here on no round trip waits on a silent network without bound.
    watch_ = ServerWatchdog::watch(db_);
    // The recorder reopens a troubled store every retry: tell each problem once.
    const QString note = engine_->setUp(db_);
    if (!note.isEmpty() && note != pragmaNote_)
        qCInfo(lcRecord).noquote() << note;
    pragmaNote_ = note;

    int tables = -1;
    {
        QSqlQuery q(db_);
        if (q.exec(engine_->tableCountQuery()) && q.next())
            tables = q.value(0).toInt();
        else
            message = errorText(q.lastError());
    }
    if (tables < 0) {
        close();
        return fail(QStringLiteral("%1 is not a usable database: %2").arg(displayName(), message), error);
    }
    if (tables == 0 && !createSchema(error)) {
        close();
        return false;
    }
    if (const QString problem = engine_->layoutProblem(db_); !problem.isEmpty()) {
        close();
        return fail(problem, error);
    }
    lastError_.clear();
    return true;
}

bool HistoryStore::createSchema(QString* error)
{
    QSqlQuery q(db_);
    bool ok = true;
    for (const QString& sql : engine_->beginCreate()) {
        if (!q.exec(sql)) {
            const QString message = errorText(q.lastError());
            q.exec(QStringLiteral("rollback"));
            return fail(message, error);
        }
    }
    // Another process may have created the tables since we looked.
    ok = q.exec(engine_->tableCountQuery()) && q.next();
    const bool blank = ok && q.value(0).toInt() == 0;
    q.finish();
    for (const QString& sql : engine_->schema()) {
        if (!ok || !blank)
            break;
        ok = q.exec(sql);
    }
    const QString message = ok ? QString() : errorText(q.lastError());
    if (ok && q.exec(QStringLiteral("commit"))) {
        createdSchema_ = blank;
        if (blank)
            qCInfo(lcRecord) << "created history tables in" << displayName();
        return true;
    }
    const QString commitMessage = message.isEmpty() ? errorText(q.lastError()) : message;
    q.exec(QStringLiteral("rollback"));
    return fail(commitMessage, error);
}

QString HistoryStore::displayName() const { return engine_ ? engine_->displayName() : redactedLocation(path_); }

bool HistoryStore::stillThere() const { return engine_ && engine_->stillThere(); }

int HistoryStore::retryIntervalMs() const { return engine_ ? engine_->retryIntervalMs() : 1000; }

QString HistoryStore::spoolPath() const { return engine_ ? engine_->spoolPath() : QString(); }

QString HistoryStore::unreachableText() const { return engine_ ? engine_->unreachableText(lastError_) : QString(); }

void HistoryStore::close()
{
    if (!added_)
        return;
    statements_[0].reset();
    statements_[1].reset();
    watch_.reset();
    if (engine_)
        engine_->closeConnection(db_);
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
    added_ = false;
}

bool HistoryStore::isOpen() const { return added_ && db_.isOpen(); }

bool HistoryStore::usable()
{
    if (!isOpen())
        return false;
    const QString reason = engine_->unsafeReason();
    if (reason.isEmpty())
        return true;
    qCWarning(lcRecord).noquote() << "closing" << displayName() << "before it faults:" << reason;
    close();
    lastError_ = reason;
    return false;
}

std::optional<HistoryCounters> HistoryStore::readCounters()
{
    if (!usable())
        return std::nullopt;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!q.exec(RingSchema::counterQuery())) {
        lastError_ = errorText(q.lastError());
        return std::nullopt;
    }
    if (!q.next()) {
        lastError_ = QStringLiteral("%1 has no row").arg(QLatin1String(RingSchema::kCounterTable));
        return std::nullopt;
    }
    HistoryCounters c;
    c.shortLast = q.value(0).toInt();
    c.shortLast2 = q.value(1).toInt();
    c.longLast = q.value(2).toInt();
    c.longLast2 = q.value(3).toInt();
    return c;
}

std::optional<qint32> HistoryStore::newestId(HistoryRing ring)
{
    const auto c = readCounters();
    if (!c)
        return std::nullopt;
    return ring == HistoryRing::Short ? c->shortLast : c->longLast;
}

QString HistoryStore::sampleQuery(HistoryRing ring, qint32 id) { return RingSchema::sampleQuery(ring, id); }

bool HistoryStore::writeSample(HistoryRing ring, qint32 id, const OleStamp& stamp, const std::array<float, 4>& values,
                               QString* error)
{
    return writeSamples(ring, {HistoryRow::sample(id, stamp, values)}, error);
}

HistoryStore::WriteStatements* HistoryStore::writeStatements(HistoryRing ring, QString* message)
{
    auto& slot = statements_[ring == HistoryRing::Short ? 0 : 1];
    if (slot)
        return slot.get();
    auto s = std::make_unique<WriteStatements>(db_);
    s->find.setForwardOnly(true);
    // The recorder's row lookup (sampleQuery()) with the id bound.
    const QString find = sampleQuery(ring, 0);
    QSqlQuery* failed = nullptr;
    if (!s->find.prepare(find.left(find.size() - 1) + QLatin1Char('?')))
        failed = &s->find;
    else if (!s->update.prepare(RingSchema::sampleUpdate(ring)))
        failed = &s->update;
    else if (!s->insert.prepare(RingSchema::sampleInsert(ring)))
        failed = &s->insert;
    else if (!s->counter.prepare(RingSchema::counterUpdate(ring)))
        failed = &s->counter;
    if (failed) {
        *message = errorText(failed->lastError());
        return nullptr;
    }
    slot = std::move(s);
    return slot.get();
}

bool HistoryStore::writeSamples(HistoryRing ring, const QList<HistoryRow>& rows, QString* error)
{
    if (rows.isEmpty())
        return true;
    if (!isOpen())
        return fail(QStringLiteral("database not open"), error);
    if (!usable())
        return fail(lastError_, error);

    QSqlQuery tx(db_);
    if (!tx.exec(engine_->beginWrite()))
        return fail(errorText(tx.lastError()), error);

    QString message;
    WriteStatements* s = writeStatements(ring, &message);
    bool ok = s != nullptr;
    for (const HistoryRow& r : rows) {
        if (!ok)
            break;
        s->find.bindValue(0, r.id);
        if (!s->find.exec()) {
            message = errorText(s->find.lastError());
            ok = false;
            break;
        }
        const bool found = s->find.next() && !s->find.value(0).isNull();
        s->find.finish();
        QSqlQuery& q = found ? s->update : s->insert;
        const QVariantList values{r.date, r.time, double(r.pv), double(r.op), double(r.sv), double(r.aux)};
        int i = 0;
        if (!found)
            q.bindValue(i++, r.id);
        for (const QVariant& v : values)
            q.bindValue(i++, v);
        if (found)
            q.bindValue(i++, r.id);
        if (!q.exec()) {
            message = errorText(q.lastError());
            ok = false;
        }
        q.finish();
    }

    const qint32 last = rows.last().id;
    if (ok) {
        s->counter.bindValue(0, last);
        s->counter.bindValue(1, last);
        ok = s->counter.exec();
        const int affected = ok ? s->counter.numRowsAffected() : -1;
        if (!ok)
            message = errorText(s->counter.lastError());
        s->counter.finish();
        // The counter table must hold one row; put it back if someone emptied it.
        if (ok && affected == 0) {
            QSqlQuery counter(db_);
            ok = counter.exec(RingSchema::counterRowInsert(ring == HistoryRing::Short ? last : 0,
                                                           ring == HistoryRing::Long ? last : 0));
            if (!ok)
                message = errorText(counter.lastError());
        }
    }

    if (message.isEmpty() && tx.exec(QStringLiteral("commit")))
        return true;
    if (message.isEmpty())
        message = errorText(tx.lastError());
    tx.exec(QStringLiteral("rollback"));
    return fail(message, error);
}

QString HistoryStore::pageQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    return RingSchema::pageQuery(ring, pageEndId, pageSize);
}

QString HistoryStore::pageReadQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    return RingSchema::pageReadQuery(ring, pageEndId, pageSize);
}

std::optional<QVector<HistoryRow>> HistoryStore::loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    if (!usable())
        return std::nullopt;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!q.exec(pageReadQuery(ring, pageEndId, pageSize))) {
        lastError_ = errorText(q.lastError());
        return std::nullopt;
    }
    QVector<HistoryRow> rows;
    rows.reserve(qMax(0, pageSize));
    while (rows.size() < pageSize && q.next())
        rows.append(rowFrom(q));
    // A fetch that failed part way is no short page: the rows behind it exist.
    if (q.lastError().isValid()) {
        lastError_ = errorText(q.lastError());
        return std::nullopt;
    }
    return rows;
}

namespace {
struct Stamped {
    qint32 id;
    double date;
    double time;
};
} // namespace

std::optional<qint32> HistoryStore::idNearest(HistoryRing ring, double date, double time)
{
    if (!usable())
        return std::nullopt;
    // Ids rise with time within each lap of the ring: ids 1 up to the newest
    // hold the current lap, the ids above it the one before. The search
    // halves id ranges through the id index instead of scanning the ring.
    QSqlQuery up(db_);
    QSqlQuery down(db_);
    up.setForwardOnly(true);
    down.setForwardOnly(true);
    bool failed = !up.prepare(RingSchema::idStepQuery(ring, ">=", "asc"))
                  || !down.prepare(RingSchema::idStepQuery(ring, "<=", "desc"));
    if (failed)
        lastError_ = errorText((up.lastError().isValid() ? up : down).lastError());
    // The stored sample with the nearest id at or above (up) or below (down) `from`.
    const auto fetch = [&](QSqlQuery& q, qint64 from) -> std::optional<Stamped> {
        if (failed)
            return std::nullopt;
        q.bindValue(0, qint32(std::clamp<qint64>(from, std::numeric_limits<qint32>::min(),
                                                 std::numeric_limits<qint32>::max())));
        if (!q.exec()) {
            failed = true;
            lastError_ = errorText(q.lastError());
            return std::nullopt;
        }
        std::optional<Stamped> out;
        if (q.next())
            out = Stamped{q.value(0).toInt(), q.value(1).toDouble(), q.value(2).toDouble()};
        q.finish();
        return out;
    };
    // The smallest `m` in [lo, hi) for which `test` holds of up(m), or hi.
    const auto firstWhere = [&](qint64 lo, qint64 hi, const auto& test) {
        while (lo < hi && !failed) {
            const qint64 mid = lo + (hi - lo) / 2;
            const auto r = fetch(up, mid);
            if (!r || test(*r))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };

    const auto first = fetch(up, std::numeric_limits<qint32>::min());
    const auto last = fetch(down, std::numeric_limits<qint32>::max());
    if (!first || !last)
        return std::nullopt;
    const double firstAt = first->date + first->time;
    // The older lap starts at the first id whose sample is older than the lowest id's.
    const qint64 split = firstWhere(qint64(first->id) + 1, qint64(last->id) + 1,
                                    [&](const Stamped& r) { return r.date + r.time < firstAt; });
    const auto olderStart = split <= last->id ? fetch(up, split) : std::nullopt;
    const qint64 newerEnd = olderStart ? olderStart->id - 1 : last->id;

    const double target = date + time;
    std::optional<Stamped> best;
    double bestDistance = 0.0;
    const auto consider = [&](const std::optional<Stamped>& c, qint64 lo, qint64 hi) {
        if (!c || c->id < lo || c->id > hi)
            return;
        const double d = std::abs(c->date + c->time - target);
        // Equally near: the later sample.
        if (!best || d < bestDistance
            || (d == bestDistance && (c->date > best->date || (c->date == best->date && c->time > best->time)))) {
            best = c;
            bestDistance = d;
        }
    };
    const auto searchLap = [&](qint64 lo, qint64 hi) {
        // The first sample of the lap at or after the target, and the one before it.
        const qint64 m =
            firstWhere(lo, hi + 1, [&](const Stamped& r) { return r.id > hi || r.date + r.time >= target; });
        if (m <= hi)
            consider(fetch(up, m), lo, hi);
        if (m > lo)
            consider(fetch(down, m - 1), lo, hi);
    };
    searchLap(first->id, newerEnd);
    if (olderStart)
        searchLap(olderStart->id, last->id);
    if (failed || !best)
        return std::nullopt;
    return best->id;
}

QString defaultDatabasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Rdatabj.db");
}
