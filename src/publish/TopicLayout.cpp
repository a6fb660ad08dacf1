#include "TopicLayout.h"
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
double shownTenths(float value) { return doubleText(double(value) / 10).toDouble(); }

// Alarm type codes in the instrument's order.
constexpr std::array<const char*, 7> kAlarmTypeNames{
    "none", "high", "low", "deviation_high", "deviation_low", "deviation_band", "sensor_break",
};

QJsonObject alarm(const LiveImage& image, int first, int typeIndex)
{
    const qint32 type = image.HoldingRegs[std::size_t(typeIndex)];
    return {
        {QStringLiteral("type"), int(type)},
        {QStringLiteral("type_name"), alarmTypeName(type)},
        {QStringLiteral("value"), shown(image.Values[std::size_t(first)])},
        {QStringLiteral("hysteresis"), shown(image.Values[std::size_t(first + 1)])},
        {QStringLiteral("delay"), shown(image.Values[std::size_t(first + 2)])},
    };
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
    // Bit meanings as the main window shows them: coil 2 set is automatic
    // mode, the sensor faults count only when exactly 1.
    QJsonObject o{
        {QStringLiteral("time"), utcTimeText(now)},
        {QStringLiteral("pv"), shown(image.Values[0])},
        {QStringLiteral("sv"), shown(image.Values[2])},
        {QStringLiteral("op"), shown(image.Values[1])},
        {QStringLiteral("aux"), shown(image.Values[3])},
        {QStringLiteral("alarm1"), image.InputBits[0] != 0},
        {QStringLiteral("alarm2"), image.InputBits[1] != 0},
        {QStringLiteral("sensor_open"), image.InputBits[2] == 1},
        {QStringLiteral("sensor_short"), image.InputBits[3] == 1},
        {QStringLiteral("manual"), image.CoilBits[1] == 0},
        {QStringLiteral("tuning"), image.CoilBits[0] != 0},
        {QStringLiteral("link"), linkText(link)},
        {QStringLiteral("age_s"), ageMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(ageMs) / 1000)},
    };
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
    return {
        {QStringLiteral("alarm1"), alarm(image, 256, 13)},
        {QStringLiteral("alarm2"), alarm(image, 259, 14)},
        {QStringLiteral("break"),
         QJsonObject{
             {QStringLiteral("value"), shown(image.Values[262])},
             {QStringLiteral("output"), shownTenths(image.Values[263])},
         }},
    };
}

QString alarmTypeName(qint32 type)
{
    if (type < 0 || type >= qint32(kAlarmTypeNames.size()))
        return QStringLiteral("unknown");
    return QString::fromLatin1(kAlarmTypeNames[std::size_t(type)]);
}

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

} // namespace TopicLayout
