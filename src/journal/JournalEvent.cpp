#include "JournalEvent.h"
#include "StationClock.h"

#include <QProcessEnvironment>
#include <QTimeZone>
#include <pwd.h>
#include <unistd.h>

QStringList JournalKind::all()
{
    return {QString::fromUtf16(Alarm), QString::fromUtf16(State),    QString::fromUtf16(Write),
            QString::fromUtf16(Link),  QString::fromUtf16(Recorder), QString::fromUtf16(System)};
}

QString JournalKind::label(const QString& kind)
{
    static const QHash<QString, QString> labels{
        {QString::fromUtf16(Alarm), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "报警"))},
        {QString::fromUtf16(State), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "状态"))},
        {QString::fromUtf16(Write), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "写入"))},
        {QString::fromUtf16(Link), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "通讯"))},
        {QString::fromUtf16(Recorder), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "记录"))},
        {QString::fromUtf16(System), QStringLiteral(QT_TRANSLATE_NOOP("JournalKind", "系统"))},
    };
    return labels.value(kind, kind);
}

bool isRaisedAlarm(const JournalEvent& event)
{
    return event.kind == QStringView(JournalKind::Alarm)
           && !event.message.contains(QStringView(JournalKind::ClearedWord));
}

QDateTime journalTimeFromText(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t;
}

QString journalLocalTimeText(const QDateTime& utc) { return TimeText::textWithMs(utc.toLocalTime()); }

QString currentOperator()
{
    // The password database first: $USER can be missing under a service
    // manager or changed by the user.
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("USER"));
}

QJsonObject toJson(const JournalEvent& event)
{
    QJsonObject o{
        {QStringLiteral("time_utc"), utcTimeText(event.timeUtc)},
        {QStringLiteral("kind"), event.kind},
        {QStringLiteral("source"), event.source},
        {QStringLiteral("message"), event.message},
    };
    const auto optional = [&o](const char* name, const QString& value) {
        o.insert(QLatin1String(name), value.isNull() ? QJsonValue() : QJsonValue(value));
    };
    if (event.id > 0) // not yet known when the event is announced
        o.insert(QStringLiteral("id"), event.id);
    optional("old_value", event.oldValue);
    optional("new_value", event.newValue);
    optional("result", event.result);
    optional("operator", event.operatorName);
    if (event.loop > 0) // a station of one instrument publishes what it always did
        o.insert(QStringLiteral("loop"), event.loop);
    return o;
}
