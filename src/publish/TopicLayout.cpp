#include "TopicLayout.h"
#include "MonitorBlock.h"
#include "NumberText.h"
#include "StationClock.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <array>

namespace TopicLayout {

namespace {
QString topic(const QString& station, const char* leaf)
{
    return QStringLiteral("px5800/%1/%2").arg(station, QLatin1String(leaf));
}

// The number as the station's labels show it (7 significant digits), so that
// 45.6f is published as 45.6 and not as 45.59999847.
double shown(float value) { return singleText(value).toDouble(); }
// A value kept in tenths (the break output) in its unit, as its label shows it.
double shown(const MonitorBlock::Value& v, const LiveImage& image)
{
    const float value = image.Values[std::size_t(v.index)];
    return v.divisor == 1 ? shown(value) : doubleText(double(value) / v.divisor).toDouble();
}
} // namespace

QString statusTopic(const QString& station) { return topic(station, "status"); }
QString liveTopic(const QString& station) { return topic(station, "live"); }
QString settingsTopic(const QString& station) { return topic(station, "settings"); }
QString eventsTopic(const QString& station) { return topic(station, "events"); }

QString linkText(LinkHealth::State state)
{
    switch (state) {
    case LinkHealth::State::Answering: return QStringLiteral("ok");
    case LinkHealth::State::Waiting:
    case LinkHealth::State::NoAnswer: return QStringLiteral("lost");
    case LinkHealth::State::Closed: return QStringLiteral("closed");
    case LinkHealth::State::CannotOpen: return QStringLiteral("cannot_open");
    }
    return QStringLiteral("lost");
}

QJsonObject liveObject(const LiveImage& image, LinkHealth::State link, qint64 ageMs, const QDateTime& now)
{
    QJsonObject o{
        {QStringLiteral("time"), utcTimeText(now)},
        {QStringLiteral("link"), linkText(link)},
        {QStringLiteral("age_s"), ageMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(ageMs) / 1000)},
    };
    for (const MonitorBlock::Value& v : MonitorBlock::values())
        if (!v.group)
            o.insert(QLatin1String(v.key), shown(v, image));
    // Bit meanings as the main window shows them: coil 2 set is automatic
    // mode ("manual" is published while it is off), the sensor faults count
    // only when exactly 1.
    for (const MonitorBlock::Bit& b : MonitorBlock::bits())
        if (b.mqttKey)
            o.insert(QLatin1String(b.mqttKey), MonitorBlock::isOn(b, image) != b.mqttWhenOff);
    // Before the first good cycle the image holds zeros nobody read: the
    // values are unknown, only the link state is news.
    if (ageMs < 0)
        for (auto it = o.begin(); it != o.end(); ++it)
            if (it.key() != QLatin1String("time") && it.key() != QLatin1String("link"))
                it.value() = QJsonValue(QJsonValue::Null);
    return o;
}

QJsonObject settingsObject(const LiveImage& image)
{
    QJsonObject groups;
    for (const MonitorBlock::Alarm& a : MonitorBlock::alarms()) {
        const qint32 type = image.HoldingRegs[std::size_t(a.typeIndex)];
        groups.insert(QLatin1String(a.key), QJsonObject{{QStringLiteral("type"), int(type)},
                                                        {QStringLiteral("type_name"), alarmTypeName(type)}});
    }
    for (const MonitorBlock::Value& v : MonitorBlock::values()) {
        if (!v.group)
            continue;
        QJsonObject group = groups.value(QLatin1String(v.group)).toObject();
        group.insert(QLatin1String(v.key), shown(v, image));
        groups.insert(QLatin1String(v.group), group);
    }
    return groups;
}

QString alarmTypeName(qint32 type)
{
    const MonitorBlock::AlarmType* t = MonitorBlock::alarmType(type);
    return QString::fromLatin1(t ? t->name : MonitorBlock::kUnknownAlarmType);
}

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

} // namespace TopicLayout
