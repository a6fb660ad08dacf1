#include "JournalSpool.h"
#include "HistoryLocation.h"
#include "StationClock.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

namespace {
QVariant nullable(const QString& text) { return text.isNull() ? QVariant(QMetaType(QMetaType::QString)) : text; }
QString textOf(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}
} // namespace

QString journalSpoolPathFor(const QString& location)
{
    const auto parsed = HistoryLocation::parse(location);
    if (parsed && parsed->server)
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
               + QStringLiteral("/journal-spool-%1.db").arg(parsed->station);
    const QFileInfo info(location);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-spool.db"));
}

JournalSpool::JournalSpool(QString connectionName) : connectionName_(std::move(connectionName)) {}

JournalSpool::~JournalSpool()
{
    if (!db_.isValid())
        return;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool JournalSpool::isOpen() const { return db_.isValid() && db_.isOpen(); }

bool JournalSpool::exec(const QString& sql)
{
    QSqlQuery q(db_);
    if (q.exec(sql))
        return true;
    error_ = q.lastError().text();
    return false;
}

bool JournalSpool::open(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path);
    if (!db_.open()) {
        error_ = db_.lastError().text();
        return false;
    }
    if (!exec(QStringLiteral("create table if not exists spool_journal (key INTEGER PRIMARY KEY AUTOINCREMENT, "
                             "op INTEGER NOT NULL, time_utc TEXT, kind TEXT, source TEXT, message TEXT, "
                             "old_value TEXT, new_value TEXT, result TEXT, operator TEXT, target_id INTEGER, "
                             "ack_ids TEXT, loop INTEGER)")))
        return false;
    // A spool left by a station from before loops still holds its entries:
    // the column is added, they replay as events of no loop.
    QSqlQuery has(db_);
    if (!has.exec(QStringLiteral("select count(*) from pragma_table_info('spool_journal') where name = 'loop'"))
        || !has.next()) {
        error_ = has.lastError().text();
        return false;
    }
    const bool hasLoop = has.value(0).toInt() == 1;
    has.finish();
    if (!hasLoop && !exec(QStringLiteral("alter table spool_journal add column loop INTEGER")))
        return false;
    return exec(QStringLiteral("pragma synchronous=FULL"));
}

bool JournalSpool::append(QList<Entry>& entries)
{
    if (entries.isEmpty())
        return true;
    if (!isOpen() || !db_.transaction()) {
        error_ = isOpen() ? db_.lastError().text() : QStringLiteral("not open");
        return false;
    }
    QSqlQuery q(db_);
    q.prepare(
        QStringLiteral("insert into spool_journal (op, time_utc, kind, source, message, old_value, new_value, "
                       "result, operator, target_id, ack_ids, loop) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QList<qint64> keys;
    for (const Entry& e : entries) {
        QStringList ids;
        for (const qint64 id : e.ids)
            ids << QString::number(id);
        const QString result = e.type == Entry::Update ? e.result : e.event.result;
        for (const QVariant& v :
             QVariantList{int(e.type), utcTimeText(e.event.timeUtc), nullable(e.event.kind), nullable(e.event.source),
                          nullable(e.event.message), nullable(e.event.oldValue), nullable(e.event.newValue),
                          nullable(result), nullable(e.event.operatorName), e.targetId, ids.join(QLatin1Char(',')),
                          e.event.loop > 0 ? QVariant(e.event.loop) : QVariant(QMetaType(QMetaType::Int))})
            q.addBindValue(v);
        if (!q.exec()) {
            error_ = q.lastError().text();
            db_.rollback();
            return false;
        }
        keys << q.lastInsertId().toLongLong();
    }
    if (!db_.commit()) {
        error_ = db_.lastError().text();
        db_.rollback();
        return false;
    }
    for (int i = 0; i < entries.size(); ++i)
        entries[i].key = keys.at(i);
    return true;
}

QList<JournalSpool::Entry> JournalSpool::all()
{
    QList<Entry> out;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!isOpen()
        || !q.exec(QStringLiteral("select key, op, time_utc, kind, source, message, old_value, new_value, result, "
                                  "operator, target_id, ack_ids, loop from spool_journal order by key"))) {
        error_ = isOpen() ? q.lastError().text() : QStringLiteral("not open");
        return out;
    }
    while (q.next()) {
        Entry e;
        e.key = q.value(0).toLongLong();
        const int type = q.value(1).toInt();
        if (type < Entry::Append || type > Entry::Ack)
            continue; // not ours: never replayed
        e.type = Entry::Type(type);
        e.event.timeUtc = journalTimeFromText(q.value(2).toString());
        e.event.kind = textOf(q, 3);
        e.event.source = textOf(q, 4);
        e.event.message = textOf(q, 5);
        e.event.oldValue = textOf(q, 6);
        e.event.newValue = textOf(q, 7);
        (e.type == Entry::Update ? e.result : e.event.result) = textOf(q, 8);
        e.event.operatorName = textOf(q, 9);
        e.targetId = q.value(10).toLongLong();
        for (const QString& id : q.value(11).toString().split(QLatin1Char(','), Qt::SkipEmptyParts))
            e.ids << id.toLongLong();
        e.event.loop = q.value(12).isNull() ? 0 : q.value(12).toInt();
        out << e;
    }
    return out;
}

bool JournalSpool::dropThrough(qint64 key)
{
    return exec(QStringLiteral("delete from spool_journal where key <= %1").arg(key));
}
