#include "Gateways.h"
#include "LineBus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "PollingCycle.h"
#include "SimServer.h"

#include <QElapsedTimer>
#include <functional>
#include <map>
#include <memory>
#include <QTemporaryDir>
#include <QtTest>

// The station's link through a transparent device server (the simulator
// behind socat): polls, loses the bridge, heals by itself when it is back.
class TestE2eGateway : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void droppedBridgeHealsWithoutTheGuiWaiting();
    void aGatewayCarriesALineOfLoops_data();
    void aGatewayCarriesALineOfLoops();
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
    connect(&tick, &QTimer::timeout, this, [&] { worstGap = std::max(worstGap, gap.restart()); });
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

void TestE2eGateway::aGatewayCarriesALineOfLoops_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("modbus tcp gateway") << "tcp";
    QTest::newRow("transparent device server") << "rtu+tcp";
}

// Loops 2 and 5 answer behind the gateway, 9 is not on the line: each loop
// gets its own values only, and the missing one goes offline whether the
// gateway says so (exception 0B) or stays silent.
void TestE2eGateway::aGatewayCarriesALineOfLoops()
{
    QFETCH(QString, scheme);
    QTemporaryDir dir;
    gateways::Server gateway;
    const int tcpPort = gateways::freeLoopbackPort();
    std::unique_ptr<SimServer> sim;
    std::function<bool(int address, qint32 pv)> whose; // is this PV register the loop's own
    if (scheme == QLatin1String("tcp")) {
        if (!gateways::modbusTcpServer(gateway, tcpPort, QStringLiteral("2,5")))
            QSKIP("the pymodbus TCP server does not start (scripts/install-deps installs it)");
        whose = [](int a, qint32 pv) { return pv == 100 * a; };
    } else {
        SimOptions o;
        o.link = dir.filePath(QStringLiteral("line"));
        o.addresses = {2, 5};
        sim = std::make_unique<SimServer>(o);
        QString error;
        QVERIFY2(sim->start(&error), qPrintable(error));
        // Address 5's broken sensor gives it a PV of its own.
        QCOMPARE(sim->command("@5 fault open"), QStringLiteral("ok"));
        QTRY_COMPARE(sim->command("@5 get di 3"), QStringLiteral("1"));
        const qint32 broken = sim->command("@5 get ir 1").toInt();
        QVERIFY(gateways::bridge(gateway, o.link, tcpPort));
        whose = [broken](int a, qint32 pv) { return (pv == broken) == (a == 5); };
    }

    PortMap ports;
    ports.map(1, QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(tcpPort));
    LinkClient line(makeLineBus(ports), LinkClient::Mode::Threaded);
    std::map<int, QVector<qint32>> pvs;
    std::map<int, bool> offline;
    std::vector<std::unique_ptr<LinkClient>> channels;
    for (const int a : {2, 5, 9}) {
        channels.push_back(std::make_unique<LinkClient>(line, a));
        connect(channels.back().get(), &LinkClient::cycleReads, this, [&pvs, a](const QVector<ReadResult>& rs) {
            for (const ReadResult& r : rs)
                if (r.ok() && r.request.fn == ReadFn::Get_3X_D8 && r.request.first == 1)
                    pvs[a].append(r.data[0]);
        });
        connect(channels.back().get(), &LinkClient::offlineChanged, this, [&offline, a](bool o) { offline[a] = o; });
    }
    line.open(PortSettings{1, 2, 0, 1});
    QTRY_VERIFY_WITH_TIMEOUT(pvs[2].size() >= 4 && pvs[5].size() >= 4 && offline[9], 15000);
    line.shutdown();
    QVERIFY(pvs[9].isEmpty());
    for (const int a : {2, 5})
        for (const qint32 pv : pvs[a])
            QVERIFY2(whose(a, pv), qPrintable(QStringLiteral("address %1: PV register %2").arg(a).arg(pv)));
    QVERIFY(!offline[2] && !offline[5]);
}

QTEST_MAIN(TestE2eGateway)
#include "tst_e2e_gateway.moc"
