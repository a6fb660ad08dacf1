#include "CliApp.h"
#include "Gateways.h"
#include "SimServer.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// px5800-cli's status and set through a gateway: the simulator behind a
// socat bridge (RTU over TCP) and the pymodbus server (Modbus TCP).
class TestCliGateway : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void statusAndSetOverRtuOverTcp();
    void statusAndSetOverModbusTcp();
    void refusedGatewayFailsAtOnce();

private:
    int run(const QString& url, const QStringList& args, QByteArray* out, QByteArray* err = nullptr);
    QTemporaryDir dir_;
};

int TestCliGateway::run(const QString& url, const QStringList& args, QByteArray* out, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    const QStringList line{QStringLiteral("--port"), QStringLiteral("2=") + url,  QStringLiteral("--port-number"),
                           QStringLiteral("2"),      QStringLiteral("--address"), QStringLiteral("3")};
    const int code = runCli(QStringList{QStringLiteral("px5800-cli"), args.first()} + line + args.mid(1), o, e);
    *out = o.data();
    if (err)
        *err = e.data();
    return code;
}

void TestCliGateway::statusAndSetOverRtuOverTcp()
{
    SimOptions o;
    o.link = dir_.filePath(QStringLiteral("line"));
    o.slave = 3;
    SimServer sim(o);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    gateways::Server bridge;
    const int port = gateways::freeLoopbackPort();
    QVERIFY(gateways::bridge(bridge, o.link, port));
    const QString url = QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(port);

    QByteArray out, err;
    QCOMPARE(run(url, {"status", "--json"}, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    const QJsonObject j = QJsonDocument::fromJson(out).object();
    QCOMPARE(j.value("sv").toDouble(), sim.command("get hr 1").toDouble());
    QCOMPARE(j.value("exchanges").toObject().value("answered").toInt(), 5);

    // One client per bridge: a bridge that forks keeps reading the line
    // for a moment after its client left, and could take the next reply.
    bridge.stop();
    QVERIFY(gateways::bridge(bridge, o.link, port));
    QCOMPARE(run(url, {"set", "sv", "-19"}, &out, &err), 0);
    QVERIFY2(out.endsWith("(verified)\n"), out.constData());
    QCOMPARE(sim.command("get hr 1").toInt(), -19);
}

void TestCliGateway::statusAndSetOverModbusTcp()
{
    gateways::Server server;
    const int port = gateways::freeLoopbackPort();
    if (!gateways::modbusTcpServer(server, port))
        QSKIP("the pymodbus TCP server does not start (scripts/install-deps installs it)");
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    QByteArray out, err;
    QCOMPARE(run(url, {"status", "--json"}, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    const QJsonObject j = QJsonDocument::fromJson(out).object();
    QCOMPARE(j.value("sv").toDouble(), 250.0);
    QCOMPARE(j.value("exchanges").toObject().value("answered").toInt(), 5);
    // Verified from the register read back through the gateway.
    QCOMPARE(run(url, {"set", "sv", "777"}, &out, &err), 0);
    QVERIFY2(out.endsWith("(verified)\n"), out.constData());
}

void TestCliGateway::refusedGatewayFailsAtOnce()
{
    const int port = gateways::freeLoopbackPort(); // nobody listens
    QByteArray out, err;
    QElapsedTimer t;
    t.start();
    QCOMPARE(run(QStringLiteral("tcp://127.0.0.1:%1").arg(port), {"status"}, &out, &err), 1);
    QVERIFY(t.elapsed() < 1500);
    QVERIFY(out.isEmpty());
    QCOMPARE(err.count('\n'), 1);
    // A URL the station cannot use is refused before anything is tried.
    QCOMPARE(run(QStringLiteral("udp://127.0.0.1:%1").arg(port), {"status"}, &out, &err), 2);
}

QTEST_GUILESS_MAIN(TestCliGateway)
#include "tst_cli_gateway.moc"
