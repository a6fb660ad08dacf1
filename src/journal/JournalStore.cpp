#include "JournalStore.h"
#include "HistoryLocation.h"
#include "JournalEngine.h"
#include "JournalLog.h"
#include "StationClock.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringConverter>
#include <QTextStream>

Q_LOGGING_CATEGORY(lcJournal, "px.journal")

namespace {
const QString kColumns =
    QStringLiteral("e.id, e.time_utc, e.kind, e.source, e.message, e.old_value, e.new_value, e.result, e.operator, "
                   "a.event_id IS NOT NULL, e.loop");

// isRaisedAlarm() in SQL (one text for every engine), for the events table as `e`.
const QString kRaisedAlarm =
    QStringLiteral("e.kind = 'alarm' AND e.message NOT LIKE '%%1%'").arg(QString::fromUtf16(JournalKind::ClearedWord));

QVariant nullable(const QString& text) { return text.isNull() ? QVariant(QMetaType(QMetaType::QString)) : text; }

QVariant nullableLoop(int loop) { return loop > 0 ? QVariant(loop) : QVariant(QMetaType(QMetaType::Int)); }

QString textOf(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}
} // namespace

QString journalLocationFor(const QString& journalOption, const QString& historyLocation, int address)
{
    if (!journalOption.isEmpty())
        return journalOption;
    const auto history = HistoryLocation::parse(historyLocation);
    if (history && history->server)
        return withDefaultStation(historyLocation, address);
    return QFileInfo(historyLocation).absoluteDir().filePath(QStringLiteral("Journal.db"));
}

JournalStore::JournalStore(QString connectionName) : connectionName_(std::move(connectionName)) {}

JournalStore::~JournalStore() { close(); }

bool JournalStore::isOpen() const { return !broken_ && db_.isValid() && db_.isOpen(); }

bool JournalStore::isServer() const { return engine_ && engine_->isServer(); }

bool JournalStore::stillThere() const { return !engine_ || engine_->stillThere(); }

int JournalStore::retryIntervalMs() const { return engine_ ? engine_->retryIntervalMs() : 1000; }

bool JournalStore::fail(const QString& what, const QString& error)
{
    error_ = QStringLiteral("%1: %2").arg(what, error.trimmed());
    if (engine_ && engine_->reconnectAfterFailure())
        broken_ = true;
    // A writer retries every second or five: a full disk is not a line each time.
    if (failureLog_.shouldLog(error_))
        qCDebug(lcJournal) << connectionName_ << error_ << "attempt" << failureLog_.attempts();
    return false;
}

bool JournalStore::open(const QString& location)
{
    close();
    path_ = location;
    QString error;
    const auto parsed = HistoryLocation::parse(location, &error);
    if (!parsed) {
        engine_.reset();
        return fail(QStringLiteral("open"), error);
    }
    engine_ = JournalEngine::create(*parsed);
    if (!engine_->prepare(&error))
        return fail(QStringLiteral("open"), error);
    db_ = QSqlDatabase::addDatabase(engine_->driverName(), connectionName_);
    engine_->configure(db_, busyTimeoutMs_);
    if (!db_.open()) {
        error = db_.lastError().text();
    } else {
        watch_ = ServerWatchdog::watch(db_);
        engine_->setUp(db_, &error);
    }
    if (!error.isEmpty()) {
        close();
        return fail(QStringLiteral("open %1").arg(engine_->displayName()), error);
    }
    // Counting all unacknowledged alarms is a scan; it is done once here and
    // the count is then carried along with every change.
    QSqlQuery q(db_);
    unackedByLoop_.clear();
    unacked_ = -1;
    if (q.exec(QStringLiteral("SELECT COALESCE(e.loop, 0), COUNT(*) FROM events e WHERE %1 AND NOT EXISTS "
                              "(SELECT 1 FROM acks a WHERE a.event_id = e.id) GROUP BY COALESCE(e.loop, 0)")
                   .arg(kRaisedAlarm))) {
        unacked_ = 0;
        while (q.next()) {
            unackedByLoop_.insert(q.value(0).toInt(), q.value(1).toInt());
            unacked_ += q.value(1).toInt();
        }
    }
    error_.clear();
    return true;
}

bool JournalStore::usable(const QString& what)
{
    if (!isOpen())
        return fail(what, QStringLiteral("not open"));
    const QString reason = engine_->unsafeReason();
    if (reason.isEmpty())
        return true;
    close();
    return fail(what, reason);
}

void JournalStore::close()
{
    broken_ = false;
    watch_.reset();
    if (!db_.isValid())
        return;
    if (engine_)
        engine_->closeConnection(db_);
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool JournalStore::append(QList<JournalEvent>& events)
{
    if (!usable(QStringLiteral("append")))
        return false;
    if (!db_.transaction())
        return fail(QStringLiteral("begin"), db_.lastError().text());
    QList<qint64> ids;
    QHash<int, int> alarms; // raised, by loop
    QSqlQuery insert(db_);
    insert.prepare(QStringLiteral("INSERT INTO events(time_utc, kind, source, message, old_value, new_value, result, "
                                  "operator, loop) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    for (const JournalEvent& e : events) {
        insert.addBindValue(utcTimeText(e.timeUtc));
        insert.addBindValue(e.kind);
        insert.addBindValue(e.source);
        insert.addBindValue(e.message);
        insert.addBindValue(nullable(e.oldValue));
        insert.addBindValue(nullable(e.newValue));
        insert.addBindValue(nullable(e.result));
        insert.addBindValue(nullable(e.operatorName));
        insert.addBindValue(nullableLoop(e.loop));
        if (!insert.exec() || !insert.next()) {
            const QString error = insert.lastError().text();
            db_.rollback();
            return fail(QStringLiteral("insert"), error);
        }
        ids << insert.value(0).toLongLong();
        if (isRaisedAlarm(e))
            ++alarms[qMax(0, e.loop)];
    }
    insert.finish();
    // Ids only grow and the oldest rows are the only ones ever deleted, so
    // the newest `bound` rows are the ids above max - bound: no count needed.
    QSqlQuery trim(db_);
    trim.prepare(QStringLiteral("DELETE FROM events WHERE id <= (SELECT MAX(id) FROM events) - ?"));
    trim.addBindValue(bound_);
    QSqlQuery leaving(db_);
    leaving.prepare(QStringLiteral("SELECT COALESCE(e.loop, 0), COUNT(*) FROM events e "
                                   "WHERE e.id <= (SELECT MAX(id) FROM events) - ? "
                                   "AND %1 AND NOT EXISTS (SELECT 1 FROM acks a WHERE a.event_id = e.id) "
                                   "GROUP BY COALESCE(e.loop, 0)")
                        .arg(kRaisedAlarm));
    leaving.addBindValue(bound_);
    if (!leaving.exec()) {
        const QString error = leaving.lastError().text();
        db_.rollback();
        return fail(QStringLiteral("trim"), error);
    }
    while (leaving.next())
        alarms[leaving.value(0).toInt()] -= leaving.value(1).toInt();
    leaving.finish();
    QSqlQuery trimAcks(db_);
    trimAcks.prepare(QStringLiteral("DELETE FROM acks WHERE event_id <= (SELECT MAX(id) FROM events) - ?"));
    trimAcks.addBindValue(bound_);
    if (!trim.exec() || !trimAcks.exec() || !db_.commit()) {
        const QString error = trim.lastError().isValid() ? trim.lastError().text() : db_.lastError().text();
        db_.rollback();
        return fail(QStringLiteral("commit"), error);
    }
    for (int i = 0; i < events.size(); ++i)
        events[i].id = ids.at(i);
    failureLog_.reset();
    addUnacknowledged(alarms);
    return true;
}

bool JournalStore::updateResult(qint64 id, const QString& result)
{
    if (!usable(QStringLiteral("update")))
        return false;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("UPDATE events SET result = ? WHERE id = ?"));
    q.addBindValue(result);
    q.addBindValue(id);
    if (!q.exec())
        return fail(QStringLiteral("update"), q.lastError().text());
    return true;
}

bool JournalStore::acknowledge(const QList<qint64>& ids, const QDateTime& utc, const QString& operatorName)
{
    if (!usable(QStringLiteral("acknowledge")))
        return false;
    if (!db_.transaction())
        return fail(QStringLiteral("acknowledge"), db_.lastError().text());
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("INSERT INTO acks(event_id, time_utc, operator) "
                             "SELECT e.id, ?, ? FROM events e WHERE e.id = ? AND %1 "
                             "ON CONFLICT (event_id) DO NOTHING")
                  .arg(kRaisedAlarm));
    // Whose alarm each one is, for the count by loop.
    QSqlQuery loopOf(db_);
    loopOf.prepare(QStringLiteral("SELECT COALESCE(loop, 0) FROM events WHERE id = ?"));
    QHash<int, int> acknowledged;
    for (const qint64 id : ids) {
        q.addBindValue(utcTimeText(utc));
        q.addBindValue(operatorName);
        q.addBindValue(id);
        loopOf.addBindValue(id);
        if (!q.exec() || !loopOf.exec()) {
            const QString error = q.lastError().isValid() ? q.lastError().text() : loopOf.lastError().text();
            db_.rollback();
            return fail(QStringLiteral("acknowledge"), error);
        }
        if (q.numRowsAffected() > 0 && loopOf.next())
            acknowledged[loopOf.value(0).toInt()] -= q.numRowsAffected();
        loopOf.finish();
    }
    if (!db_.commit()) {
        db_.rollback();
        return fail(QStringLiteral("acknowledge"), db_.lastError().text());
    }
    addUnacknowledged(acknowledged);
    failureLog_.reset();
    return true;
}

void JournalStore::addUnacknowledged(const QHash<int, int>& changes)
{
    if (unacked_ < 0)
        return;
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        unacked_ += it.value();
        const int left = unackedByLoop_.value(it.key()) + it.value();
        if (left > 0)
            unackedByLoop_.insert(it.key(), left);
        else
            unackedByLoop_.remove(it.key());
    }
}

QString JournalStore::where(const JournalFilter& filter, QVariantList* binds) const
{
    QStringList terms;
    if (!filter.kind.isEmpty()) {
        terms << QStringLiteral("e.kind = ?");
        *binds << filter.kind;
    }
    if (filter.fromUtc.isValid()) {
        terms << QStringLiteral("e.time_utc >= ?");
        *binds << utcTimeText(filter.fromUtc);
    }
    if (filter.toUtc.isValid()) {
        terms << QStringLiteral("e.time_utc < ?");
        *binds << utcTimeText(filter.toUtc);
    }
    if (filter.loop > 0) {
        terms << QStringLiteral("e.loop = ?");
        *binds << filter.loop;
    } else if (filter.loop == JournalFilter::kStationOnly) {
        terms << QStringLiteral("e.loop IS NULL");
    }
    if (filter.unacknowledgedOnly)
        terms << kRaisedAlarm + QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM acks k WHERE k.event_id = e.id)");
    if (filter.afterId > 0) {
        terms << QStringLiteral("e.id > ?");
        *binds << filter.afterId;
    }
    if (!filter.text.isEmpty()) {
        // A position search rather than LIKE: no wildcard characters to
        // escape, and case-sensitive on every engine.
        QStringList any;
        for (const char* column : {"e.source", "e.message", "e.old_value", "e.new_value", "e.result", "e.operator"}) {
            any << engine_->containsTerm(QLatin1String(column));
            *binds << filter.text;
        }
        terms << QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

QList<JournalEvent> JournalStore::page(const JournalFilter& filter, qint64 beforeId, int limit,
                                       QList<bool>* acknowledged)
{
    QList<JournalEvent> rows;
    if (!usable(QStringLiteral("page")))
        return rows;
    QVariantList binds;
    QString sql = QStringLiteral("SELECT %1 FROM events e LEFT JOIN acks a ON a.event_id = e.id").arg(kColumns)
                  + where(filter, &binds);
    if (beforeId > 0) {
        sql += binds.isEmpty() ? QStringLiteral(" WHERE e.id < ?") : QStringLiteral(" AND e.id < ?");
        binds << beforeId;
    }
    sql += QStringLiteral(" ORDER BY e.id DESC LIMIT %1").arg(limit);
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec()) {
        fail(QStringLiteral("page"), q.lastError().text());
        return rows;
    }
    while (q.next()) {
        JournalEvent e;
        e.id = q.value(0).toLongLong();
        e.timeUtc = journalTimeFromText(q.value(1).toString());
        e.kind = q.value(2).toString();
        e.source = q.value(3).toString();
        e.message = q.value(4).toString();
        e.oldValue = textOf(q, 5);
        e.newValue = textOf(q, 6);
        e.result = textOf(q, 7);
        e.operatorName = textOf(q, 8);
        e.loop = q.value(10).isNull() ? 0 : q.value(10).toInt();
        rows << e;
        if (acknowledged)
            *acknowledged << q.value(9).toBool();
    }
    return rows;
}

QList<int> JournalStore::loops()
{
    QList<int> out;
    if (!usable(QStringLiteral("loops")))
        return out;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT DISTINCT loop FROM events WHERE loop IS NOT NULL ORDER BY loop"))) {
        fail(QStringLiteral("loops"), q.lastError().text());
        return out;
    }
    while (q.next())
        out << q.value(0).toInt();
    return out;
}

int JournalStore::count(const JournalFilter& filter)
{
    if (!usable(QStringLiteral("count")))
        return -1;
    QVariantList binds;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM events e") + where(filter, &binds));
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec() || !q.next()) {
        fail(QStringLiteral("count"), q.lastError().text());
        return -1;
    }
    return q.value(0).toInt();
}

QString JournalStore::csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

int JournalStore::exportCsv(const JournalFilter& filter, QIODevice& out)
{
    if (!isOpen())
        return -1;
    QTextStream stream(&out);
    stream.setEncoding(QStringConverter::Utf8);
    stream.setGenerateByteOrderMark(true);
    stream << QStringLiteral("编号,时间,时间(UTC),类别,来源,内容,原值,新值,结果,操作员,回路\r\n");
    int rows = 0;
    qint64 before = 0;
    // In pages, so a large export never holds the whole journal in memory.
    for (;;) {
        const QList<JournalEvent> chunk = page(filter, before, 2000);
        for (const JournalEvent& e : chunk) {
            const QStringList fields{
                QString::number(e.id),
                journalLocalTimeText(e.timeUtc),
                utcTimeText(e.timeUtc),
                JournalKind::label(e.kind),
                e.source,
                e.message,
                e.oldValue,
                e.newValue,
                e.result,
                e.operatorName,
                // Last, so a reader of the older layout finds every column where it was.
                e.loop > 0 ? QString::number(e.loop) : QString(),
            };
            QStringList quoted;
            for (const QString& f : fields)
                quoted << csvField(f);
            stream << quoted.join(QLatin1Char(',')) << "\r\n";
        }
        rows += chunk.size();
        if (chunk.size() < 2000)
            break;
        before = chunk.last().id;
    }
    stream.flush();
    return stream.status() == QTextStream::Ok ? rows : -1;
}
