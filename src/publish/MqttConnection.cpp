#include "MqttConnection.h"

#include <QElapsedTimer>
#include "PublishLog.h"
#include "TopicLayout.h"

#include <QSocketNotifier>
#include <QTimer>
#include <mosquitto.h>
#include <mutex>

namespace {
QString libraryText(int rc) { return QString::fromUtf8(mosquitto_strerror(rc)); }
} // namespace

MqttConnection::MqttConnection(const BrokerSettings& broker, const QString& clientId, const QString& statusTopic,
                               const QString& eventsTopic)
    : broker_(broker), clientId_(clientId), statusTopic_(statusTopic), eventsTopic_(eventsTopic)
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    qRegisterMetaType<MqttState>();
    keepAlive_ = new QTimer(this);
    keepAlive_->setInterval(1000);
    connect(keepAlive_, &QTimer::timeout, this, &MqttConnection::onKeepAlive);
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &MqttConnection::connectNow);
}

MqttConnection::~MqttConnection() { dropClient(); }

void MqttConnection::start()
{
    state_ = MqttState::Connecting;
    Q_EMIT stateChanged(state_, QString());
    connectNow();
}

void MqttConnection::connectNow()
{
    if (stopped_)
        return;
    dropClient();
    refused_ = false;
    client_ = mosquitto_new(clientId_.toUtf8().constData(), true, this);
    if (!client_) {
        connectionLost(QStringLiteral("cannot create an MQTT client"));
        return;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client_, &MqttConnection::connectCallback);
    mosquitto_publish_callback_set(client_, &MqttConnection::publishCallback);
    const QByteArray status = statusTopic_.toUtf8();
    mosquitto_will_set(client_, status.constData(), int(qstrlen(TopicLayout::kOffline)), TopicLayout::kOffline, 1,
                       true);
    if (!broker_.user.isEmpty()) {
        const QByteArray user = broker_.user.toUtf8();
        const QByteArray password = broker_.password.toUtf8();
        mosquitto_username_pw_set(client_, user.constData(),
                                  broker_.password.isEmpty() ? nullptr : password.constData());
    }
    if (broker_.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (broker_.caFile.isEmpty())
            rc = mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(client_, broker_.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                                   nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            connectionLost(QStringLiteral("TLS set-up failed: %1").arg(libraryText(rc)));
            return;
        }
    }
    const int rc = mosquitto_connect_async(client_, broker_.host.toUtf8().constData(), broker_.port, kKeepAliveS);
    const int fd = mosquitto_socket(client_);
    if (rc != MOSQ_ERR_SUCCESS || fd < 0) {
        connectionLost(libraryText(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_NO_CONN : rc));
        return;
    }
    readNotifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &MqttConnection::onReadable);
    writeNotifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &MqttConnection::onWritable);
    updateWriteInterest();
    keepAlive_->start();
}

void MqttConnection::dropClient()
{
    // Called from inside the notifiers' own signals: disable now, delete later.
    for (QSocketNotifier* n : {readNotifier_, writeNotifier_}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    readNotifier_ = writeNotifier_ = nullptr;
    keepAlive_->stop();
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
    connected_ = false;
}

void MqttConnection::scheduleRetry()
{
    retry_->start(retryMs_);
    retryMs_ = qMin(retryMs_ * 2, kLastRetryMs);
}

void MqttConnection::connectionLost(const QString& why)
{
    const bool was = connected_;
    dropClient();
    inFlight_.clear();
    events_.connectionLost();
    if (stopped_)
        return;
    if (was)
        qCWarning(lcPublish) << "broker connection lost:" << why;
    else if (!refused_ && state_ != MqttState::Disconnected)
        qCWarning(lcPublish) << "cannot reach the broker:" << why;
    if (!refused_)
        setState(MqttState::Disconnected, why);
    scheduleRetry();
}

void MqttConnection::connectCallback(mosquitto*, void* self, int rc)
{
    static_cast<MqttConnection*>(self)->onConnack(rc);
}

void MqttConnection::publishCallback(mosquitto*, void* self, int mid)
{
    auto* c = static_cast<MqttConnection*>(self);
    if (mid == c->goodbyeMid_)
        c->goodbyeMid_ = 0;
    const auto it = c->inFlight_.constFind(mid);
    if (it == c->inFlight_.cend())
        return; // a retained status or settings message
    c->events_.acknowledge(it.value());
    c->inFlight_.erase(it);
    Q_EMIT c->eventsAcknowledged(++c->acknowledged_);
    c->sendEvents();
}

// Runs inside mosquitto_loop_read(); publishing here only queues packets,
// which the write notifier then sends.
void MqttConnection::onConnack(int rc)
{
    if (rc != 0) {
        const QString why = QString::fromUtf8(mosquitto_connack_string(rc));
        qCWarning(lcPublish) << "broker refused the connection:" << why;
        // 4: bad user name or password, 5: not authorised.
        if (rc == 4 || rc == 5) {
            refused_ = true;
            setState(MqttState::Refused, why);
        }
        return;
    }
    connected_ = true;
    retryMs_ = kFirstRetryMs;
    qCInfo(lcPublish) << "connected to" << broker_.host << broker_.port;
    publish(statusTopic_, QByteArray(TopicLayout::kOnline), 1, true);
    for (const auto& [topic, payload] : std::as_const(retained_))
        publish(topic, payload, 1, true);
    sendEvents();
    setState(MqttState::Connected, QString());
}

void MqttConnection::onReadable()
{
    if (client_)
        afterIo(mosquitto_loop_read(client_, 1));
}

void MqttConnection::onWritable()
{
    if (client_)
        afterIo(mosquitto_loop_write(client_, 1));
}

void MqttConnection::onKeepAlive()
{
    if (client_)
        afterIo(mosquitto_loop_misc(client_));
}

void MqttConnection::afterIo(int rc)
{
    if (!client_)
        return;
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(client_) < 0) {
        connectionLost(rc == MOSQ_ERR_SUCCESS ? QStringLiteral("connection closed") : libraryText(rc));
        return;
    }
    updateWriteInterest();
}

void MqttConnection::updateWriteInterest()
{
    if (client_ && writeNotifier_)
        writeNotifier_->setEnabled(mosquitto_want_write(client_));
}

bool MqttConnection::publish(const QString& topic, const QByteArray& payload, int qos, bool retain, int* mid)
{
    if (!client_)
        return false;
    const int rc = mosquitto_publish(client_, mid, topic.toUtf8().constData(), int(payload.size()), payload.constData(),
                                     qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        qCDebug(lcPublish) << "publish on" << topic << "failed:" << libraryText(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttConnection::publishVolatile(const QString& topic, const QByteArray& payload)
{
    if (!connected_)
        return;
    publish(topic, payload, 0, false);
    updateWriteInterest();
}

void MqttConnection::publishRetained(const QString& topic, const QByteArray& payload)
{
    bool known = false;
    for (auto& entry : retained_) {
        if (entry.first == topic) {
            entry.second = payload;
            known = true;
        }
    }
    if (!known)
        retained_.append({topic, payload});
    if (connected_) {
        publish(topic, payload, 1, true);
        updateWriteInterest();
    }
}

void MqttConnection::addEvent(const QByteArray& payload)
{
    const quint64 before = events_.dropped();
    events_.push(payload);
    if (events_.dropped() != before && (events_.dropped() == 1 || events_.dropped() % 1000 == 0))
        qCWarning(lcPublish) << "event queue full: dropped" << events_.dropped() << "oldest events so far";
    if (connected_) {
        sendEvents();
        updateWriteInterest();
    }
}

void MqttConnection::sendEvents()
{
    while (connected_) {
        const auto next = events_.takeNext();
        if (!next)
            return;
        int mid = 0;
        const int rc = mosquitto_publish(client_, &mid, eventsTopic_.toUtf8().constData(), int(next->payload.size()),
                                         next->payload.constData(), 1, false);
        if (rc == MOSQ_ERR_SUCCESS) {
            inFlight_.insert(mid, next->seq);
        } else if (rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_MALFORMED_UTF8) {
            // Never deliverable: do not let it block the ones behind it.
            qCWarning(lcPublish) << "event not publishable:" << libraryText(rc);
            events_.acknowledge(next->seq);
        } else {
            return; // the connection is going; it stays queued
        }
    }
}

void MqttConnection::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    retry_->stop();
    if (client_ && connected_) {
        int mid = 0;
        if (publish(statusTopic_, QByteArray(TopicLayout::kOffline), 1, true, &mid))
            goodbyeMid_ = mid;
        // Wait (bounded) for the broker to take "offline": that also reads
        // every acknowledgement it sent before. A socket closed with unread
        // data goes down with a reset, which takes the goodbye with it, and
        // the broker then publishes the will as a second "offline".
        QElapsedTimer waited;
        waited.start();
        while (client_ && goodbyeMid_ != 0 && waited.elapsed() < kGoodbyeWaitMs)
            if (mosquitto_loop(client_, 50, 1) != MOSQ_ERR_SUCCESS)
                break;
        mosquitto_disconnect(client_);
        // Let the last packets leave; bounded, the program is ending.
        for (int i = 0; i < 20 && client_ && mosquitto_want_write(client_); ++i)
            mosquitto_loop(client_, 50, 1);
    }
    dropClient();
}

void MqttConnection::setState(MqttState state, const QString& detail)
{
    if (state == state_)
        return;
    state_ = state;
    Q_EMIT stateChanged(state, detail);
}
