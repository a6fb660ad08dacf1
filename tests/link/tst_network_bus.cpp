#include "Gateways.h"
#include "LibModbus485.h"
#include "LineBus485.h"
#include "NetworkBus485.h"
#include "PortEndpoint.h"
#include "PtySlave.h"

#include <QElapsedTimer>
#include <QtTest>

#include <array>

// The network transports against loopback stand-ins for gateways.
class TestNetworkBus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endpoints_data();
    void endpoints();
    void modbusTcpReadsAndWrites();
    void modbusTcpRefusesALateReplyByItsTransactionId();
    void rtuOverTcpKeepsLateRepliesOut_data();
    void rtuOverTcpKeepsLateRepliesOut();
    void silentGatewayCostsOneTimeoutPerExchange_data();
    void silentGatewayCostsOneTimeoutPerExchange();
    void droppedBridgeIsReconnectedWithBackoff();
};

namespace {
std::unique_ptr<Modbus485> busOn(const QString& url)
{
    PortMap map;
    map.map(1, url);
    return makeLineBus(map);
}
QString url(const char* scheme, int port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}
} // namespace

void TestNetworkBus::endpoints_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    using K = PortEndpoint::Kind;
    QTest::newRow("device") << "/dev/ttyUSB0" << true << int(K::Serial) << "" << 0;
    QTest::newRow("tcp default port") << "tcp://192.168.1.20" << true << int(K::ModbusTcp) << "192.168.1.20" << 502;
    QTest::newRow("tcp port") << "TCP://127.0.0.1:1502" << true << int(K::ModbusTcp) << "127.0.0.1" << 1502;
    QTest::newRow("rtu over tcp") << "rtu+tcp://10.0.0.5:4001" << true << int(K::RtuOverTcp) << "10.0.0.5" << 4001;
    QTest::newRow("ipv6") << "tcp://[::1]:5020" << true << int(K::ModbusTcp) << "::1" << 5020;
    QTest::newRow("localhost") << "rtu+tcp://localhost:4001/" << true << int(K::RtuOverTcp) << "127.0.0.1" << 4001;
    QTest::newRow("rtu needs a port") << "rtu+tcp://10.0.0.5" << false << 0 << "" << 0;
    QTest::newRow("port zero") << "tcp://10.0.0.5:0" << false << 0 << "" << 0;
    QTest::newRow("port too big") << "tcp://10.0.0.5:65536" << false << 0 << "" << 0;
    QTest::newRow("empty port") << "tcp://10.0.0.5:" << false << 0 << "" << 0;
    QTest::newRow("name") << "tcp://gateway.plant:502" << false << 0 << "" << 0;
    QTest::newRow("no host") << "tcp://:502" << false << 0 << "" << 0;
    QTest::newRow("bare ipv6") << "tcp://::1" << false << 0 << "" << 0;
    QTest::newRow("other scheme") << "udp://10.0.0.5:502" << false << 0 << "" << 0;
}

void TestNetworkBus::endpoints()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    PortEndpoint e;
    QString error;
    QCOMPARE(parsePortEndpoint(text, &e, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    // The command line takes exactly what the transports take.
    PortMap map;
    QCOMPARE(map.parseMapping(QStringLiteral("4=") + text, &error), ok);
    if (!ok)
        return;
    QTEST(int(e.kind), "kind");
    QTEST(e.host, "host");
    QTEST(e.tcpPort, "port");
}

void TestNetworkBus::modbusTcpReadsAndWrites()
{
    gateways::Server server;
    const int port = gateways::freeLoopbackPort();
    if (!gateways::modbusTcpServer(server, port))
        QSKIP("the pymodbus TCP server does not start (scripts/install-deps installs it)");
    auto bus = busOn(url("tcp", port));
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    std::array<qint32, 16> buf{};
    QCOMPARE(bus->Get_4X_D8(1, 7, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
    QCOMPARE(buf[7], 1264);
    QCOMPARE(bus->Get_3X_D8(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 2001);
    QCOMPARE(bus->Get_0X_B16(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 0b11);
    QCOMPARE(bus->Set_4X_D1(1, 7, 300, -5), 0);
    QCOMPARE(bus->Get_4X_D16(1, 7, 300, buf), 0);
    QCOMPARE(buf[0], -5); // signed both ways
    QCOMPARE(buf[1], 1301);
    QVERIFY(bus->Get_4X_D8(1, 7, 9000, buf) != 0); // beyond the server's map
    QCOMPARE(bus->lastOutcome(), LinkOutcome::Exception);
    QCOMPARE(bus->lastExceptionCode(), 2); // illegal data address, as the gateway said
    QCOMPARE(bus->Get_4X_D8(1, 7, 257, buf), 0);
}

void TestNetworkBus::modbusTcpRefusesALateReplyByItsTransactionId()
{
    gateways::Server gateway;
    const int port = gateways::freeLoopbackPort();
    QVERIFY(gateways::faultGateway(gateway, "hold", port));
    auto bus = busOn(url("tcp", port));
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    std::array<qint32, 16> buf{};
    QVERIFY(bus->Get_4X_D8(1, 1, 257, buf) != 0); // held back: the gateway answers it with the next request
    QCOMPARE(bus->lastOutcome(), LinkOutcome::Timeout);
    buf.fill(-7);
    // The held reply (7777...) arrives first and has the same shape; only
    // its transaction id tells it apart.
    const int rc = bus->Get_4X_D8(1, 1, 4114, buf);
    QVERIFY(buf[0] != 7777);
    if (rc == 0)
        QCOMPARE(buf[0], 4114 + 1000);
    else
        QCOMPARE(bus->lastOutcome(), LinkOutcome::CrcError);
}

void TestNetworkBus::rtuOverTcpKeepsLateRepliesOut_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::newRow("drained after the timeout") << 700;
    QTest::newRow("inside the next exchange")
        << LibModbus485::kResponseTimeoutMs + LibModbus485::kLateReplyWindowMs + 150;
}

void TestNetworkBus::rtuOverTcpKeepsLateRepliesOut()
{
    QFETCH(int, delayMs);
    PtySlave slave(1);
    QVERIFY(slave.start());
    gateways::Server bridge;
    const int port = gateways::freeLoopbackPort();
    QVERIFY(gateways::bridge(bridge, QString::fromStdString(slave.devicePath()), port));
    auto bus = busOn(url("rtu+tcp", port));
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    std::array<qint32, 16> buf{};
    QCOMPARE(bus->Get_1X_B16(1, 1, 1, buf), 0);
    QCOMPARE(buf[0], 0b110);
    QCOMPARE(bus->Set_4X_D1(1, 1, 300, -12), 0);
    QCOMPARE(slave.holding(300), -12);

    slave.delayNextReplyMs(delayMs);
    QVERIFY(bus->Get_4X_D8(1, 1, 257, buf) != 0);
    QCOMPARE(bus->lastOutcome(), LinkOutcome::Timeout);
    buf.fill(-7);
    // Registers 257.. answered late must never pass for registers 4114..
    if (bus->Get_4X_D8(1, 1, 4114, buf) == 0)
        QCOMPARE(buf[0], 4114 + 1000);
    else
        QCOMPARE(buf[0], -7);
    QCOMPARE(bus->Get_4X_D8(1, 1, 4114, buf), 0);
    QCOMPARE(buf[0], 4114 + 1000);
    QCOMPARE(bus->Get_4X_D8(1, 1, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
}

void TestNetworkBus::silentGatewayCostsOneTimeoutPerExchange_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("modbus tcp") << "tcp";
    QTest::newRow("rtu over tcp") << "rtu+tcp";
}

void TestNetworkBus::silentGatewayCostsOneTimeoutPerExchange()
{
    QFETCH(QString, scheme);
    gateways::Server gateway;
    const int port = gateways::freeLoopbackPort();
    QVERIFY(gateways::faultGateway(gateway, "silent", port));
    auto bus = busOn(url(scheme.toLatin1().constData(), port));
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    std::array<qint32, 16> buf{};
    // More than the timeouts after which the connection is made afresh.
    for (int i = 0; i <= NetworkBus485::kTimeoutsBeforeReconnect; ++i) {
        QElapsedTimer t;
        t.start();
        QVERIFY(bus->Get_3X_D8(1, 1, 1, buf) != 0);
        QCOMPARE(bus->lastOutcome(), LinkOutcome::Timeout);
        QVERIFY2(t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));
    }
}

void TestNetworkBus::droppedBridgeIsReconnectedWithBackoff()
{
    PtySlave slave(1);
    QVERIFY(slave.start());
    gateways::Server bridge;
    const int port = gateways::freeLoopbackPort();
    const QString pty = QString::fromStdString(slave.devicePath());
    QVERIFY(gateways::bridge(bridge, pty, port));
    auto bus = busOn(url("rtu+tcp", port));
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    std::array<qint32, 16> buf{};
    QCOMPARE(bus->Get_4X_D8(1, 1, 257, buf), 0);

    bridge.stop();
    QVERIFY(bus->Get_4X_D8(1, 1, 257, buf) != 0);
    QCOMPARE(bus->lastOutcome(), LinkOutcome::DeviceGone);
    QElapsedTimer t;
    t.start();
    QVERIFY(bus->OpenPort_Modbus(1, 1, 0) != 0); // refused at once
    QCOMPARE(bus->lastOutcome(), LinkOutcome::NotOpen);
    QVERIFY(t.elapsed() < 500);
    QVERIFY(gateways::bridge(bridge, pty, port));
    // Within the back-off no attempt is made, even though the bridge is back.
    QVERIFY(bus->OpenPort_Modbus(1, 1, 0) != 0);
    QThread::msleep(ReconnectBackoff::kFirstMs);
    QCOMPARE(bus->OpenPort_Modbus(1, 1, 0), 0);
    QCOMPARE(bus->Get_4X_D8(1, 1, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
}

QTEST_GUILESS_MAIN(TestNetworkBus)
#include "tst_network_bus.moc"
