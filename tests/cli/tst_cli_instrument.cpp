#include "CliApp.h"
#include "SimServer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// px5800-cli's instrument commands against the simulated instrument on a
// pseudo-terminal, run in-process so the test can look at the simulator.
class TestCliInstrument : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void statusShowsOnePollCycle();
    void deadInstrumentFailsWithinTwoSeconds();
    void portHeldByAnotherProgramIsLeftAlone();
    void setFollowsThePanelRules_data();
    void setFollowsThePanelRules();
    void numbersIgnoreTheLocale();
    void badInstrumentOptions_data();
    void badInstrumentOptions();

private:
    int run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr);
    int simCounter(const QString& name); // requests=, replies= from the status line

    QTemporaryDir dir_;
    QString line_;
    std::unique_ptr<SimServer> sim_;
};

// The writes go to the default journal: keep it out of the real home.
void TestCliInstrument::initTestCase() { QStandardPaths::setTestModeEnabled(true); }

void TestCliInstrument::init()
{
    line_ = dir_.filePath(QStringLiteral("line"));
    SimOptions o;
    o.link = line_;
    o.slave = 3;
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
}

void TestCliInstrument::cleanup() { sim_.reset(); }

int TestCliInstrument::run(const QStringList& args, QByteArray* out, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    const QStringList line{QStringLiteral("--port"), QStringLiteral("2=") + line_, QStringLiteral("--port-number"),
                           QStringLiteral("2"),      QStringLiteral("--address"),  QStringLiteral("3")};
    // The line first, so a case's own options come last and win.
    const int code = runCli(QStringList{QStringLiteral("px5800-cli"), args.first()} + line + args.mid(1), o, e);
    if (out)
        *out = o.data();
    if (err)
        *err = e.data();
    return code;
}

int TestCliInstrument::simCounter(const QString& name)
{
    const QRegularExpression re(QStringLiteral("\\b%1=(\\d+)").arg(name));
    return re.match(sim_->command(QStringLiteral("status"))).captured(1).toInt();
}

void TestCliInstrument::statusShowsOnePollCycle()
{
    QCOMPARE(sim_->command("set hr 257 -123"), QStringLiteral("ok"));
    QCOMPARE(sim_->command("set hr 264 456"), QStringLiteral("ok")); // break output 45.6 %
    QCOMPARE(sim_->command("set coil 2 0"), QStringLiteral("ok"));   // manual
    QCOMPARE(sim_->command("set hr 4114 3"), QStringLiteral("ok"));  // alarm 1 type
    QCOMPARE(sim_->command("fault open"), QStringLiteral("ok"));
    QTRY_COMPARE(sim_->command("get di 3"), QStringLiteral("1")); // at the instrument's next scan

    QByteArray out, err;
    QCOMPARE(run({"status", "--json"}, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    const QJsonObject j = QJsonDocument::fromJson(out).object();
    QCOMPARE(j.value("sv").toDouble(), sim_->command("get hr 1").toDouble());
    const QJsonArray settings = j.value("alarm_settings").toArray();
    QCOMPARE(settings.size(), 8);
    QCOMPARE(settings.at(0).toObject().value("value").toDouble(), -123.0);
    QCOMPARE(settings.at(0).toObject().value("caption").toString(), QStringLiteral("报警1值"));
    QCOMPARE(settings.at(7).toObject().value("register").toInt(), 264);
    QCOMPARE(settings.at(7).toObject().value("value").toDouble(), 45.6); // shown in percent
    const QJsonObject type1 = j.value("alarm_types").toArray().at(0).toObject();
    QCOMPARE(type1.value("type").toInt(), 3);
    QCOMPARE(type1.value("text").toString(), QStringLiteral("报警1上偏差报警"));
    const QJsonObject states = j.value("states").toObject();
    auto state = [&](const char* key) { return states.value(QLatin1String(key)).toObject(); };
    QCOMPARE(state("automatic").value("on").toBool(), false);
    QCOMPARE(state("automatic").value("text").toString(), QStringLiteral("手动"));
    QCOMPARE(state("sensor_open").value("text").toString(), QStringLiteral("传感器开路"));
    QCOMPARE(state("sensor_short").value("on").toBool(), false);
    QVERIFY(state("sensor_short").value("text").isNull());
    QCOMPARE(j.value("exchanges").toObject().value("answered").toInt(), 5);

    QCOMPARE(run({"status"}, &out), 0);
    const QString text = QString::fromUtf8(out);
    QVERIFY2(text.contains(QRegularExpression("断线输出值 +45.6\n")), out.constData());
    QVERIFY(text.contains(QRegularExpression("alarm 1 type +报警1上偏差报警\n")));
    QVERIFY(text.contains(QRegularExpression("sensor open +传感器开路\n")));
}

void TestCliInstrument::deadInstrumentFailsWithinTwoSeconds()
{
    sim_->command("silent 30");
    QByteArray out, err;
    QElapsedTimer t;
    t.start();
    QCOMPARE(run({"status"}, &out, &err), 1);
    const qint64 ms = t.elapsed();
    QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    QVERIFY(out.isEmpty());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains("no answer"), err.constData());
}

void TestCliInstrument::portHeldByAnotherProgramIsLeftAlone()
{
    const int fd = ::open(QFile::encodeName(line_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const int before = simCounter("requests");
    QByteArray err;
    for (const QStringList& args : {QStringList{"status"}, QStringList{"set", "sv", "100"}}) {
        QCOMPARE(run(args, nullptr, &err), 1);
        QVERIFY2(err.contains("port in use by another program"), err.constData());
    }
    QCOMPARE(simCounter("requests"), before);
    ::close(fd);
    QCOMPARE(run({"status"}), 0);
}

void TestCliInstrument::setFollowsThePanelRules_data()
{
    QTest::addColumn<bool>("manual"); // instrument in manual mode first
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("point"); // simulator point to look at afterwards
    QTest::addColumn<int>("expected");  // its value; -9999: as it was
    QTest::addColumn<bool>("lineUsed"); // whether anything reached the line

    QTest::newRow("sv upper bound") << false << QStringList{"set", "sv", "9999"} << 0 << "hr 1" << 9999 << true;
    QTest::newRow("sv negative") << false << QStringList{"set", "sv", "-1999"} << 0 << "hr 1" << -1999 << true;
    QTest::newRow("sv half to even") << false << QStringList{"set", "sv", "12.5"} << 0 << "hr 1" << 12 << true;
    QTest::newRow("sv numeric prefix") << false << QStringList{"set", "sv", "321abc"} << 0 << "hr 1" << 321 << true;
    QTest::newRow("sv above bound") << false << QStringList{"set", "sv", "10000"} << 2 << "hr 1" << -9999 << false;
    QTest::newRow("sv below bound") << false << QStringList{"set", "sv", "-2000"} << 2 << "hr 1" << -9999 << false;
    QTest::newRow("sv too large a number")
        << false << QStringList{"set", "sv", "1e400"} << 2 << "hr 1" << -9999 << false;
    for (const char* text : {"abc", "", "-", "nan", "inf"})
        QTest::addRow("sv \"%s\" holds no number", text)
            << false << QStringList{"set", "sv", QString::fromUtf8(text)} << 2 << "hr 1" << -9999 << false;
    QTest::newRow("sv full-width digits") << false << QStringList{"set", "sv", "１２"} << 0 << "hr 1" << 12 << true;
    QTest::newRow("op in tenths") << true << QStringList{"set", "op", "45.25"} << 0 << "hr 2" << 452 << true;
    QTest::newRow("op below bound") << true << QStringList{"set", "op", "-0.1"} << 2 << "hr 2" << -9999 << false;
    // The panel offers the manual output only in manual mode: read, not written.
    QTest::newRow("op in automatic") << false << QStringList{"set", "op", "50"} << 2 << "hr 2" << -9999 << true;
    QTest::newRow("mode manual") << false << QStringList{"set", "mode", "manual"} << 0 << "coil 2" << 0 << true;
    QTest::newRow("mode auto") << true << QStringList{"set", "mode", "AUTO"} << 0 << "coil 2" << 1 << true;
    QTest::newRow("tune on") << false << QStringList{"set", "tune", "on"} << 0 << "coil 1" << 1 << true;
    QTest::newRow("mode unknown") << false << QStringList{"set", "mode", "on"} << 2 << "coil 2" << -9999 << false;
    QTest::newRow("no value") << false << QStringList{"set", "sv"} << 2 << "hr 1" << -9999 << false;
}

void TestCliInstrument::setFollowsThePanelRules()
{
    QFETCH(bool, manual);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, point);
    QFETCH(int, expected);
    QFETCH(bool, lineUsed);
    if (manual)
        QCOMPARE(sim_->command("set coil 2 0"), QStringLiteral("ok"));
    const int before = sim_->command("get " + point).toInt();
    const int requests = simCounter("requests");
    QByteArray out, err;
    QCOMPARE(run(args, &out, &err), code);
    QCOMPARE(sim_->command("get " + point).toInt(), expected == -9999 ? before : expected);
    QCOMPARE(simCounter("requests") > requests, lineUsed);
    if (code == 0) {
        QVERIFY2(out.endsWith("(verified)\n"), out.constData());
    } else {
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(out.isEmpty());
    }
}

// Under a decimal-comma locale the C library reads "123.7" as 123 and writes
// 45.6 as "45,6": what is written, verified and printed must not change.
void TestCliInstrument::numbersIgnoreTheLocale()
{
    struct Restore {
        QByteArray locale = setlocale(LC_ALL, nullptr);
        ~Restore() { setlocale(LC_ALL, locale.constData()); }
    } restore;
    QVERIFY2(setlocale(LC_ALL, "de_DE.UTF-8"), "decimal-comma locale missing (LOCPATH)");
    QCOMPARE(sim_->command("set coil 2 0"), QStringLiteral("ok")); // manual
    QByteArray out, err;
    QCOMPARE(run({"set", "sv", "123.7"}, &out, &err), 0);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("124"));
    QVERIFY2(out.endsWith("-> 124 (verified)\n"), out.constData());
    QCOMPARE(run({"set", "op", "45.6"}, &out, &err), 0);
    QCOMPARE(sim_->command("get hr 2"), QStringLiteral("456"));
    QVERIFY2(out.endsWith("-> 45.6 (verified)\n"), out.constData());
    // The output follows the manual value at the instrument's next scan; JSON
    // carries the float's shortest text, not the double nearest to it.
    QTRY_VERIFY2((run({"status", "--json"}, &out), out.contains("\"op_percent\": 45.6,")), out.constData());
}

void TestCliInstrument::badInstrumentOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("port number") << QStringList{"status", "--port-number", "21"};
    QTest::newRow("address") << QStringList{"status", "--address", "0"};
    QTest::newRow("baud") << QStringList{"status", "--baud", "115200"};
    QTest::newRow("parity") << QStringList{"status", "--parity", "mark"};
    QTest::newRow("mapping") << QStringList{"status", "--port", "1:/dev/x"};
    QTest::newRow("set, address") << QStringList{"set", "sv", "300", "--address", "17"};
    QTest::newRow("params restore, baud") << QStringList{"params", "restore", "x.json", "--yes", "--baud", "1200"};
    QTest::newRow("command") << QStringList{"stauts"};
}

void TestCliInstrument::badInstrumentOptions()
{
    QFETCH(QStringList, args);
    const int before = simCounter("requests");
    QByteArray err;
    QCOMPARE(run(args, nullptr, &err), 2);
    QCOMPARE(err.count('\n'), 1);
    QCOMPARE(simCounter("requests"), before);
}

QTEST_GUILESS_MAIN(TestCliInstrument)
#include "tst_cli_instrument.moc"
