#include "MqttPublisher.h"
#include "PublishLog.h"
#include "HandOver.h"
#include "StationClock.h"
#include "TopicLayout.h"

#include <QCoreApplication>
#include <QDateTime>

MqttPublisher::MqttPublisher(const BrokerSettings& broker, const QString& station, const LiveImage& image,
                             const LinkHealth& health, QObject* parent)
    : QObject(parent), station_(station), image_(image), health_(health)
{
    thread_.setObjectName(QStringLiteral("px.publish"));
    const QString clientId = QStringLiteral("%1-%2").arg(station).arg(QCoreApplication::applicationPid());
    connection_ =
        new MqttConnection(broker, clientId, TopicLayout::statusTopic(station), TopicLayout::eventsTopic(station));
    connection_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, connection_, &QObject::deleteLater);
    relay(connection_, &MqttConnection::stateChanged, this, &MqttPublisher::onConnectionState);
    relay(connection_, &MqttConnection::eventsAcknowledged, this, &MqttPublisher::eventsAcknowledged);
    // No poll cycles run on a closed or unopenable port; say so once.
    connect(&health, &LinkHealth::stateChanged, this, [this](LinkHealth::State state) {
        if (state == LinkHealth::State::Closed || state == LinkHealth::State::CannotOpen)
            publishLive();
    });
}

MqttPublisher::~MqttPublisher()
{
    if (started_)
        shutdown();
    else
        delete connection_; // its thread never ran
}

void MqttPublisher::start()
{
    if (started_)
        return;
    started_ = true;
    thread_.start();
    postTo(connection_, [c = connection_] { c->start(); });
}

void MqttPublisher::shutdown()
{
    if (!thread_.isRunning())
        return;
    runAndWait(connection_, [c = connection_] { c->stop(); });
    thread_.quit();
    thread_.wait();
    connection_ = nullptr; // deleted with the thread's end
}

QString MqttPublisher::stateText(MqttState state)
{
    switch (state) {
    case MqttState::Connected: return tr("MQTT 已连接");
    case MqttState::Refused: return tr("MQTT 未连接：用户名或密码被拒绝");
    case MqttState::Connecting:
    case MqttState::Disconnected: return tr("MQTT 未连接");
    }
    return tr("MQTT 未连接");
}

QString MqttPublisher::stateText() const { return stateText(state_); }

void MqttPublisher::onConnectionState(MqttState state, const QString& detail)
{
    state_ = state;
    detail_ = detail;
    Q_EMIT stateChanged(state, stateText(state));
}

void MqttPublisher::onCycleCompleted(bool allAnswered)
{
    // Until a cycle has answered there are no values to speak of.
    if (health_.ageOfLastGoodMs() >= 0)
        publishLive();
    if (!allAnswered || !connection_)
        return;
    const QJsonObject settings = TopicLayout::settingsObject(image_);
    if (settings == lastSettings_)
        return;
    lastSettings_ = settings;
    QJsonObject message = settings;
    message.insert(QStringLiteral("time"), utcTimeText(QDateTime::currentDateTimeUtc()));
    const QByteArray payload = TopicLayout::compact(message);
    postTo(connection_, [c = connection_, topic = TopicLayout::settingsTopic(station_), payload] {
        c->publishRetained(topic, payload);
    });
}

void MqttPublisher::publishLive()
{
    // Live values are never queued: nothing to build while the broker is away.
    if (!connection_ || state_ != MqttState::Connected)
        return;
    const QByteArray payload = TopicLayout::compact(
        TopicLayout::liveObject(image_, health_.state(), health_.ageOfLastGoodMs(), QDateTime::currentDateTimeUtc()));
    postTo(connection_, [c = connection_, topic = TopicLayout::liveTopic(station_), payload] {
        c->publishVolatile(topic, payload);
    });
}

void MqttPublisher::publishEvent(const QJsonObject& event)
{
    if (!connection_)
        return;
    const QByteArray payload = TopicLayout::compact(event);
    postTo(connection_, [c = connection_, payload] { c->addEvent(payload); });
}
