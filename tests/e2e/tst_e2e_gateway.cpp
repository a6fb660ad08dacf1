#include "Gateways.h"
#include "LineBus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "PollingCycle.h"
#include "SimServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

// The station's link through a transparent device server (the simulator
// behind socat): polls, loses the bridge, heals by itself when it is back.
class TestE2eGateway : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void droppedBridgeHealsWithoutTheGuiWaiting();
};

void TestE2eGateway::droppedBridgeHealsWithoutTheGuiWaiting()
{
    QTemporaryDir dir;
    SimOptions o;
    o.link = dir.filePath(QStringLiteral("line"));
    o.speed = 5;
    SimServer sim(o);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    gateways::Server bridge;
    const int tcpPort = gateways::freeLoopbackPort();
    QVERIFY(gateways::bridge(bridge, o.link, tcpPort));

    PortMap ports;
    ports.map(1, QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(tcpPort));
    LinkClient link(makeLineBus(ports), LinkClient::Mode::Threaded);
    LiveImage image;
    LinkHealth health;
    PollingCycle polling(link, image);
    int good = 0;
    QList<PortState> states;
    connect(&link, &LinkClient::exchangeCompleted, &health, &LinkHealth::onExchange);
    connect(&link, &LinkClient::portStateChanged, &health, &LinkHealth::onPortState);
    connect(&link, &LinkClient::portStateChanged, this, [&](PortState s) { states.append(s); });
    connect(&polling, &PollingCycle::cycleCompleted, this, [&](bool all) {
        health.onCycle(all);
        good += all ? 1 : 0;
    });
    QCOMPARE(sim.command("set hr 1 345"), QStringLiteral("ok"));
    link.open(PortSettings{1, 1, 0, 1});
    health.onPortOpened();
    polling.start();
    QTRY_VERIFY_WITH_TIMEOUT(good >= 2, 8000);
    QCOMPARE(image.Values[2], 345.0f);

    // The GUI thread keeps its pace while the link loses the bridge and
    // tries again.
    QElapsedTimer gap;
    qint64 worstGap = 0;
    QTimer tick;
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, this, [&] {
        worstGap = std::max(worstGap, gap.restart());
    });
    states.clear();
    bridge.stop();
    gap.start(); // the test's own waits for socat are not the link's
    tick.start();
    QTRY_VERIFY_WITH_TIMEOUT(states.contains(PortState::CannotOpen), 5000);
    QTest::qWait(2500); // refused attempts, spaced out
    QVERIFY(gateways::bridge(bridge, o.link, tcpPort));
    gap.restart();
    const int before = good;
    QTRY_VERIFY_WITH_TIMEOUT(good >= before + 2, 12000);
    tick.stop();
    QVERIFY2(worstGap < 200, qPrintable(QString::number(worstGap)));
    // One transition each way, however many attempts it took.
    QCOMPARE(states, (QList<PortState>{PortState::CannotOpen, PortState::Open}));
    QCOMPARE(health.state(), LinkHealth::State::Answering);
    polling.stop();
    link.shutdown();
}

QTEST_MAIN(TestE2eGateway)
#include "tst_e2e_gateway.moc"
