#pragma once
#include "BrokerUrl.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "MqttConnection.h"

#include <QJsonObject>
#include <QObject>
#include <QThread>

// Puts the station's values on an MQTT broker for dashboards: status, live
// values after every poll cycle, alarm settings when they change and journal
// events. Publish only: nothing is subscribed, so nothing on the instrument
// can be changed through the broker. Lives on the GUI thread, reads the
// LiveImage there and hands finished messages to its network thread.
class MqttPublisher : public QObject {
    Q_OBJECT
public:
    MqttPublisher(const BrokerSettings& broker, const QString& station, const LiveImage& image,
                  const LinkHealth& health, QObject* parent = nullptr);
    ~MqttPublisher() override;

    void start();
    // "offline" on a clean exit; joins the network thread (bounded).
    void shutdown();

    QString station() const { return station_; }
    MqttState state() const { return state_; }
    bool isConnected() const { return state_ == MqttState::Connected; }
    // For the status line: "MQTT 已连接", "MQTT 未连接", or why the broker refused.
    QString stateText() const;
    QString stateDetail() const { return detail_; }
    static QString stateText(MqttState state);

public Q_SLOTS:
    // Connected to PollingCycle::cycleCompleted: the live message, and the
    // settings when a complete cycle shows them changed.
    void onCycleCompleted(bool allAnswered);
    // Also sent when the port closes or cannot be opened, so dashboards
    // see "closed" although no cycles run then.
    void publishLive();
    void publishEvent(const QJsonObject& event);

Q_SIGNALS:
    void stateChanged(MqttState state, const QString& text);
    void eventsAcknowledged(int total);

private:
    void onConnectionState(MqttState state, const QString& detail);

    QString station_;
    const LiveImage& image_;
    const LinkHealth& health_;
    QThread thread_;
    MqttConnection* connection_ = nullptr; // lives on thread_
    MqttState state_ = MqttState::Connecting;
    QString detail_;
    QJsonObject lastSettings_;
    bool started_ = false;
};
