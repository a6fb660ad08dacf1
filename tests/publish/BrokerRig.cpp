#include "BrokerRig.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <chrono>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}
} // namespace

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TestBroker::TestBroker(const QString& dir) : dir_(dir) { process_.setProcessChannelMode(QProcess::MergedChannels); }

TestBroker::~TestBroker() { kill(); }

QString TestBroker::url(const QString& user) const
{
    const QString login = user.isEmpty() ? QString() : user + u'@';
    return QStringLiteral("mqtt://") + login + QStringLiteral("127.0.0.1:%1").arg(port_);
}

bool TestBroker::start(QString* error)
{
    if (port_ == 0)
        port_ = freePort();
    QString config =
        QStringLiteral("listener %1 127.0.0.1\npersistence true\npersistence_location %2/\n").arg(port_).arg(dir_);
    if (::geteuid() == 0)
        config += QStringLiteral("user root\n"); // keep access to the temporary folder
    if (user_.isEmpty()) {
        config += QStringLiteral("allow_anonymous true\n");
    } else {
        const QString passwords = dir_ + QStringLiteral("/passwords");
        QFile::remove(passwords);
        if (QProcess::execute(QStringLiteral("mosquitto_passwd"), {"-b", "-c", passwords, user_, password_}) != 0) {
            *error = QStringLiteral("mosquitto_passwd failed");
            return false;
        }
        config += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords);
    }
    const QString path = dir_ + QStringLiteral("/mosquitto.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    file.close();
    process_.start(QStringLiteral("mosquitto"), {"-c", path});
    if (!process_.waitForStarted(5000)) {
        *error = QStringLiteral("mosquitto does not start: ") + process_.errorString();
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        if (accepts(port_))
            return true;
        if (process_.state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    *error = QStringLiteral("mosquitto not listening: ") + QString::fromLocal8Bit(process_.readAll());
    return false;
}

void TestBroker::terminate()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000))
        kill();
}

void TestBroker::kill()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(5000);
}

TestSubscriber::TestSubscriber(int port, const QString& topicFilter, const QString& durableId)
    : port_(port), filter_(topicFilter.toUtf8())
{
    mosquitto_lib_init();
    client_ = mosquitto_new(durableId.isEmpty() ? nullptr : durableId.toUtf8().constData(), durableId.isEmpty(), this);
    mosquitto_connect_callback_set(client_, &TestSubscriber::connected);
    mosquitto_subscribe_callback_set(client_, &TestSubscriber::subscribedCb);
    mosquitto_message_callback_set(client_, &TestSubscriber::message);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
}

TestSubscriber::~TestSubscriber()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool TestSubscriber::start()
{
    return mosquitto_connect_async(client_, "127.0.0.1", port_, 10) == MOSQ_ERR_SUCCESS
           && mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
}

bool TestSubscriber::subscribed() const
{
    QMutexLocker lock(&mutex_);
    return subscribed_;
}

QList<ReceivedMessage> TestSubscriber::messages() const
{
    QMutexLocker lock(&mutex_);
    return messages_;
}

QList<ReceivedMessage> TestSubscriber::messagesOn(const QString& topic) const
{
    QList<ReceivedMessage> out;
    for (const ReceivedMessage& m : messages())
        if (m.topic == topic)
            out.append(m);
    return out;
}

void TestSubscriber::clear()
{
    QMutexLocker lock(&mutex_);
    messages_.clear();
}

// Subscribing on every connection picks up again after a broker restart.
void TestSubscriber::connected(mosquitto* m, void* self, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(m, nullptr, static_cast<TestSubscriber*>(self)->filter_.constData(), 1);
}

void TestSubscriber::subscribedCb(mosquitto*, void* self, int, int, const int*)
{
    auto* s = static_cast<TestSubscriber*>(self);
    QMutexLocker lock(&s->mutex_);
    s->subscribed_ = true;
}

void TestSubscriber::message(mosquitto*, void* self, const mosquitto_message* m)
{
    auto* s = static_cast<TestSubscriber*>(self);
    ReceivedMessage r{QString::fromUtf8(m->topic), QByteArray(static_cast<const char*>(m->payload), m->payloadlen),
                      m->retain, steadyNs()};
    if (s->onMessage)
        s->onMessage(r);
    QMutexLocker lock(&s->mutex_);
    s->messages_.append(r);
}
