#pragma once
#include "LinkHealth.h"
#include "LiveImage.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The station's MQTT interface, kept in one place because dashboards depend
// on it: topic names and the JSON of each message. Pure functions of the
// LiveImage and the link state.
namespace TopicLayout {

QString statusTopic(const QString& station);   // retained "online" / "offline"
QString liveTopic(const QString& station);     // after every poll cycle, QoS 0
QString settingsTopic(const QString& station); // retained, on change
QString eventsTopic(const QString& station);   // journal events, QoS 1

inline constexpr char kOnline[] = "online";
inline constexpr char kOffline[] = "offline";

// "ok" | "lost" | "closed" | "cannot_open". Waiting for the first complete
// cycle counts as lost: there are no good values yet.
QString linkText(LinkHealth::State state);

// One live message. ageMs: milliseconds since the last good cycle, negative
// when there was none (age_s and every value are then null).
QJsonObject liveObject(const LiveImage& image, LinkHealth::State link, qint64 ageMs, const QDateTime& now);

// Alarm and break settings with the two alarm types, without a time stamp so
// that two readings can be compared for a change.
QJsonObject settingsObject(const LiveImage& image);

// Name of an alarm type code; "unknown" for codes the instrument does not define.
QString alarmTypeName(qint32 type);

QByteArray compact(const QJsonObject& object);

} // namespace TopicLayout
