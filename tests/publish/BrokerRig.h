#pragma once
// A private mosquitto broker on 127.0.0.1 and a libmosquitto subscriber, for
// tests and benchmarks that check what the station puts on the wire.
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QString>
#include <functional>

struct mosquitto;

class TestBroker {
public:
    explicit TestBroker(const QString& dir);
    ~TestBroker();

    // With a user, anonymous logins are refused and only this password works.
    void requireLogin(const QString& user, const QString& password) { user_ = user, password_ = password; }
    // Same port on every start, and the broker keeps sessions across a
    // terminate/start (persistence), so a durable subscriber misses nothing.
    bool start(QString* error);
    void terminate(); // SIGTERM and wait: the broker saves its sessions
    void kill();      // SIGKILL and wait
    int port() const { return port_; }
    QString url(const QString& user = QString()) const;

private:
    QString dir_;
    QString user_, password_;
    int port_ = 0;
    QProcess process_;
};

struct ReceivedMessage {
    QString topic;
    QByteArray payload;
    bool retained = false;
    qint64 receivedNs = 0; // steady clock
};

class TestSubscriber {
public:
    // durableId: a persistent session with that client id (QoS 1 messages
    // wait at the broker while this subscriber is away).
    TestSubscriber(int port, const QString& topicFilter, const QString& durableId = QString());
    ~TestSubscriber();

    bool start();
    bool subscribed() const;
    QList<ReceivedMessage> messages() const;
    QList<ReceivedMessage> messagesOn(const QString& topic) const;
    void clear();
    std::function<void(const ReceivedMessage&)> onMessage; // called on the subscriber's thread

private:
    static void connected(mosquitto*, void* self, int rc);
    static void subscribedCb(mosquitto*, void* self, int, int, const int*);
    static void message(mosquitto*, void* self, const struct mosquitto_message* m);

    int port_;
    QByteArray filter_;
    mosquitto* client_ = nullptr;
    mutable QMutex mutex_;
    QList<ReceivedMessage> messages_;
    bool subscribed_ = false;
};

qint64 steadyNs();
