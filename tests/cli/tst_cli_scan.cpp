#include "CliApp.h"
#include "SimServer.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// px5800-cli scan and status --loops against a simulated line of three instruments.
class TestCliScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void findsWhoAnswers();
    void refusedCommandLines_data();
    void refusedCommandLines();
    void statusOfEveryLoop();
    void refusedStatusLines_data();
    void refusedStatusLines();

private:
    int run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr);
    int runCommand(const QString& command, const QStringList& args, QByteArray* out = nullptr,
                   QByteArray* err = nullptr);
    QTemporaryDir dir_;
    QString line_;
    std::unique_ptr<SimServer> sim_;
};

void TestCliScan::init()
{
    line_ = dir_.filePath(QStringLiteral("line"));
    SimOptions o;
    o.link = line_;
    o.addresses = {2, 5, 9};
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
}

void TestCliScan::cleanup() { sim_.reset(); }

int TestCliScan::run(const QStringList& args, QByteArray* out, QByteArray* err)
{
    return runCommand(QStringLiteral("scan"), args, out, err);
}

int TestCliScan::runCommand(const QString& command, const QStringList& args, QByteArray* out, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    const QStringList line{QStringLiteral("--port"), QStringLiteral("4=") + line_, QStringLiteral("--port-number"),
                           QStringLiteral("4")};
    const int code = runCli(QStringList{QStringLiteral("px5800-cli"), command} + line + args, o, e);
    if (out)
        *out = o.data();
    if (err)
        *err = e.data();
    return code;
}

void TestCliScan::findsWhoAnswers()
{
    // A broken sensor gives address 5 a PV of its own: whose answer is whose shows.
    QCOMPARE(sim_->command("@5 fault open"), QStringLiteral("ok"));
    QTRY_COMPARE(sim_->command("@5 get di 3"), QStringLiteral("1"));
    const double brokenPv = sim_->command("@5 get ir 1").toDouble();
    QByteArray out, err;
    QCOMPARE(run({"--json"}, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    QJsonObject j = QJsonDocument::fromJson(out).object();
    QCOMPARE(j.value("loops").toString(), QStringLiteral("2,5,9"));
    const QJsonArray addresses = j.value("addresses").toArray();
    QCOMPARE(addresses.size(), 16);
    for (int a : {2, 5, 9}) {
        const QJsonObject o = addresses.at(a - 1).toObject();
        QCOMPARE(o.value("outcome").toString(), QStringLiteral("answered"));
        QCOMPARE(o.value("pv").toDouble() == brokenPv, a == 5);
        QVERIFY(o.contains("response_ms"));
    }
    QCOMPARE(addresses.at(2).toObject().value("outcome").toString(), QStringLiteral("silent"));

    // One instrument silent: the others are still found, it is not listed.
    QCOMPARE(sim_->command("@5 silent 30"), QStringLiteral("ok"));
    QCOMPARE(run({}, &out, &err), 0);
    const QString text = QString::fromUtf8(out);
    QVERIFY2(text.startsWith(QStringLiteral("port 4 (%1), 9600 8N1, addresses 1-16:\n").arg(line_)), out.constData());
    QVERIFY2(text.contains(QStringLiteral("address  9: PV ")), out.constData());
    QVERIFY2(!text.contains(QStringLiteral("address  5")), out.constData());
    QVERIFY2(text.contains(QStringLiteral("2 answered; use --loops 2,9\n")), out.constData());

    // Nobody answers: a failure, said in one line.
    QCOMPARE(sim_->command("silent 30"), QStringLiteral("ok"));
    QCOMPARE(run({"--json"}, &out, &err), 1);
    QCOMPARE(QJsonDocument::fromJson(out).object().value("loops").toString(), QString());
    QVERIFY2(err.startsWith("px5800-cli scan: no instrument answered"), err.constData());
    QCOMPARE(err.count('\n'), 1);
}

void TestCliScan::refusedCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::newRow("an address") << QStringList{"--address", "3"} << 2;
    QTest::newRow("stray argument") << QStringList{"5"} << 2;
    QTest::newRow("bad baud") << QStringList{"--baud", "1234"} << 2;
    QTest::newRow("no such device") << QStringList{"--port", "4=/nonexistent/tty"} << 1;
}

void TestCliScan::refusedCommandLines()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QByteArray out, err;
    QCOMPARE(run(args, &out, &err), code);
    QVERIFY(out.isEmpty());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(err.startsWith("px5800-cli scan: "));
}

QTEST_GUILESS_MAIN(TestCliScan)
void TestCliScan::statusOfEveryLoop()
{
    // Address 5's broken sensor gives it a PV of its own; 9 is silent.
    QCOMPARE(sim_->command("@5 fault open"), QStringLiteral("ok"));
    QTRY_COMPARE(sim_->command("@5 get di 3"), QStringLiteral("1"));
    const double brokenPv = sim_->command("@5 get ir 1").toDouble();
    QCOMPARE(sim_->command("@9 silent 60"), QStringLiteral("ok"));

    QByteArray out, err;
    QCOMPARE(runCommand("status", {"--loops", "2,5,9", "--cycles", "3", "--json"}, &out, &err), 1);
    QVERIFY2(err.startsWith("px5800-cli status: 1 of 3 loops did not answer: 9"), err.constData());
    QCOMPARE(err.count('\n'), 1);
    const QJsonObject j = QJsonDocument::fromJson(out).object();
    QCOMPARE(j.value("cycles").toInt(), 3);
    const QJsonArray loops = j.value("loops").toArray();
    QCOMPARE(loops.size(), 3);
    for (int i : {0, 1}) {
        const QJsonObject o = loops.at(i).toObject();
        QVERIFY(o.value("answered").toBool());
        QVERIFY(o.value("offline_since").isNull());
        // Whose values are whose: only address 5 has the broken sensor's PV.
        QCOMPARE(o.value("status").toObject().value("pv").toDouble() == brokenPv, i == 1);
        QCOMPARE(o.value("exchanges").toObject().value("answered").toInt(), 15);
        QCOMPARE(o.value("exchanges").toObject().value("timeout").toInt(), 0);
        QVERIFY(o.value("response_ms").toObject().value("p95").toDouble()
                >= o.value("response_ms").toObject().value("p50").toDouble());
        QVERIFY(o.value("response_ms").toObject().value("p50").toDouble() >= 0); // -1: none answered
    }
    // The silent one costs two timeouts, then is given up for the run.
    const QJsonObject dead = loops.at(2).toObject();
    QCOMPARE(dead.value("address").toInt(), 9);
    QVERIFY(!dead.value("answered").toBool());
    QVERIFY(!dead.value("offline_since").isNull());
    QVERIFY(!dead.contains("status"));
    QCOMPARE(dead.value("exchanges").toObject().value("timeout").toInt(), 2);
    QCOMPARE(dead.value("exchanges").toObject().value("answered").toInt(), 0);
    QCOMPARE(dead.value("response_ms").toObject().value("p50").toDouble(), -1.0);

    // Text: a block per loop; all answering is exit 0.
    QCOMPARE(sim_->command("@9 silent 0"), QStringLiteral("ok"));
    QCOMPARE(runCommand("status", {"--loops", "2,9"}, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    const QString text = QString::fromUtf8(out);
    QVERIFY2(text.startsWith(QStringLiteral("port 4 (%1), 9600 8N1, loops 2,9, 1 cycle:\n").arg(line_)),
             out.constData());
    QVERIFY2(text.contains(QStringLiteral("address  9: PV ")), out.constData());
    QVERIFY2(text.contains(QStringLiteral("answered 5, timeout 0, crc_error 0, exception 0, other 0; response p50 ")),
             out.constData());
}

void TestCliScan::refusedStatusLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("loops and address") << QStringList{"--loops", "2", "--address", "2"};
    QTest::newRow("address 17") << QStringList{"--loops", "1-17"};
    QTest::newRow("not a list") << QStringList{"--loops", "2;5"};
    QTest::newRow("cycles alone") << QStringList{"--cycles", "2"};
    QTest::newRow("zero cycles") << QStringList{"--loops", "2", "--cycles", "0"};
    QTest::newRow("cycles not a number") << QStringList{"--loops", "2", "--cycles", "2.5"};
}

void TestCliScan::refusedStatusLines()
{
    QFETCH(QStringList, args);
    QByteArray out, err;
    QCOMPARE(runCommand("status", args, &out, &err), 2);
    QCOMPARE(out, QByteArray());
    QVERIFY2(err.startsWith("px5800-cli status: "), err.constData());
}

#include "tst_cli_scan.moc"
