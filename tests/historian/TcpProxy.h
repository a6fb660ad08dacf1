#pragma once
// A loopback TCP forwarder on a thread of its own, to a server on this
// machine. freeze() stops it passing anything on while every connection stays
// open: the network that hangs without a reset.
#include <QHostAddress>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>

class TcpProxy : public QThread {
public:
    explicit TcpProxy(quint16 target) : target_(target)
    {
        start();
        ready_.acquire();
    }
    ~TcpProxy() override
    {
        quit();
        wait();
    }
    quint16 port() const { return port_; }
    void freeze() { frozen_ = true; }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        port_ = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket* client = server.nextPendingConnection()) {
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, target_);
                const auto pass = [this](QTcpSocket* from, QTcpSocket* to) {
                    if (!frozen_ && to->state() == QAbstractSocket::ConnectedState)
                        to->write(from->readAll());
                };
                QObject::connect(client, &QTcpSocket::readyRead, client, [=] { pass(client, upstream); });
                QObject::connect(upstream, &QTcpSocket::readyRead, client, [=] { pass(upstream, client); });
                QObject::connect(upstream, &QTcpSocket::connected, client, [=] { pass(client, upstream); });
                QObject::connect(upstream, &QTcpSocket::disconnected, client, [=, this] {
                    if (!frozen_)
                        client->disconnectFromHost();
                });
                QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
        ready_.release();
        exec();
    }

private:
    quint16 target_;
    std::atomic<quint16> port_{0};
    std::atomic<bool> frozen_{false};
    QSemaphore ready_;
};
