// A station stand-in for the kill test: connects a publisher to the broker
// given on the command line, prints "connected" and waits to be killed.
#include "BrokerUrl.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "MqttPublisher.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    BrokerSettings broker;
    QString error;
    if (!parseBrokerUrl(QString::fromLocal8Bit(argv[1]), &broker, &error))
        return 2;
    LiveImage image;
    LinkHealth health;
    MqttPublisher publisher(broker, QString::fromLocal8Bit(argv[2]), image, health);
    QObject::connect(&publisher, &MqttPublisher::stateChanged, [](MqttState state) {
        if (state == MqttState::Connected) {
            std::puts("connected");
            std::fflush(stdout);
        }
    });
    publisher.start();
    return app.exec();
}
