#pragma once
#include "BrokerUrl.h"
#include "EventQueue.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QSocketNotifier;
class QTimer;
struct mosquitto;

enum class MqttState {
    Connecting,   // first attempt under way
    Connected,    // the broker accepted us
    Disconnected, // broker away; retrying with backoff
    Refused,      // the broker refused the login; retrying with backoff
};

// The broker connection. Lives on the publisher's network thread and is the
// only code that touches libmosquitto, driven by that thread's event loop
// (socket notifiers plus a keep-alive timer), so the GUI thread never waits
// on the network. Each attempt gets a fresh client: after a drop, what was
// in flight is re-sent from our own event queue, never twice by the library.
class MqttConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;
    static constexpr int kKeepAliveS = 10;

    MqttConnection(const BrokerSettings& broker, const QString& clientId, const QString& statusTopic,
                   const QString& eventsTopic);
    ~MqttConnection() override;

public Q_SLOTS:
    void start();
    // QoS 0, not retained, dropped while disconnected (live values).
    void publishVolatile(const QString& topic, const QByteArray& payload);
    // Retained; remembered and sent again after every reconnection, since a
    // restarted broker may have lost it.
    void publishRetained(const QString& topic, const QByteArray& payload);
    void addEvent(const QByteArray& payload);
    // Says "offline", disconnects cleanly and lets go of the socket.
    void stop();

Q_SIGNALS:
    void stateChanged(MqttState state, const QString& detail);
    void eventsAcknowledged(int total);

private:
    void connectNow();
    void scheduleRetry();
    void dropClient();
    void connectionLost(const QString& why);
    void onConnack(int rc);
    void onReadable();
    void onWritable();
    void onKeepAlive();
    void afterIo(int rc);
    void updateWriteInterest();
    void sendEvents();
    bool publish(const QString& topic, const QByteArray& payload, int qos, bool retain, int* mid = nullptr);
    void setState(MqttState state, const QString& detail);

    static void connectCallback(mosquitto*, void* self, int rc);
    static void publishCallback(mosquitto*, void* self, int mid);

    BrokerSettings broker_;
    QString clientId_;
    QString statusTopic_;
    QString eventsTopic_;
    mosquitto* client_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer* keepAlive_ = nullptr;
    QTimer* retry_ = nullptr;
    int retryMs_ = kFirstRetryMs;
    bool connected_ = false;
    bool refused_ = false;
    bool stopped_ = false;
    MqttState state_ = MqttState::Connecting;
    QList<QPair<QString, QByteArray>> retained_;
    EventQueue events_;
    QHash<int, quint64> inFlight_; // message id -> event sequence number
    int acknowledged_ = 0;
    static constexpr int kGoodbyeWaitMs = 1000;
    int goodbyeMid_ = 0; // the "offline" of stop() until the broker has it
};

Q_DECLARE_METATYPE(MqttState)
