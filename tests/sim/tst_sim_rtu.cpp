// The simulator as a Modbus RTU slave on a pseudo-terminal, driven by masters
// written elsewhere: mbpoll and a libmodbus master. The binary under test
// comes from PX5800_SIM.

#include "SimServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <modbus.h>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One px5800-sim process; its standard input takes commands, the first line
// of its output is the device path.
class SimProcess {
public:
    explicit SimProcess(const QStringList& args)
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardOutput);
        process_.start(qEnvironmentVariable("PX5800_SIM"), args);
        if (process_.waitForStarted(5000))
            device_ = readLine();
    }
    ~SimProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000))
                process_.kill();
            process_.waitForFinished(1000);
        }
    }
    QString device() const { return device_; }
    QProcess& process() { return process_; }

    QString command(const QString& line)
    {
        process_.write((line + QLatin1Char('\n')).toLocal8Bit());
        return readLine();
    }

private:
    QString readLine()
    {
        QElapsedTimer timer;
        timer.start();
        while (!process_.canReadLine() && process_.state() == QProcess::Running && timer.elapsed() < 5000)
            process_.waitForReadyRead(100);
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }

    QProcess process_;
    QString device_;
};

struct Poll {
    int exitCode = -1;
    QString output;
    QList<int> values;
};

// One mbpoll exchange at 9600 8N1 with instrument 1.
Poll mbpoll(const QString& device, const QStringList& options, const QStringList& writeValues = {})
{
    QProcess p;
    p.start(QStringLiteral("mbpoll"), QStringList{"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-1", "-o", "0.5"}
                                          + options + QStringList{device} + writeValues);
    p.waitForFinished(5000);
    Poll r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    static const QRegularExpression line(QStringLiteral(R"(^\[\d+\]:\s+(-?\d+))"), QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(r.output); it.hasNext();)
        r.values.append(it.next().captured(1).toInt());
    return r;
}

// A libmodbus master on the simulator's line.
class Master {
public:
    explicit Master(const QString& device, int slave = 1, int timeoutMs = 1500, int baud = 9600, char parity = 'N')
    {
        ctx_ = modbus_new_rtu(device.toLocal8Bit().constData(), baud, parity, 8, 1);
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, uint32_t(timeoutMs) * 1000);
        connected_ = modbus_connect(ctx_) == 0;
    }
    ~Master()
    {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool connected() const { return connected_; }
    modbus_t* ctx() { return ctx_; }

    // Holding register `number` (from 1), or -errno.
    int holding(int number)
    {
        uint16_t v = 0;
        return modbus_read_registers(ctx_, number - 1, 1, &v) == 1 ? int(int16_t(v)) : -errno;
    }
    int input(int number)
    {
        uint16_t v = 0;
        return modbus_read_input_registers(ctx_, number - 1, 1, &v) == 1 ? int(int16_t(v)) : -errno;
    }

private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

} // namespace

class TestSimRtu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void mbpollReadsStationBlocks_data();
    void mbpollReadsStationBlocks();
    void mbpollWritesSvAndPvMovesTowardsIt();
    void mbpollSwitchesCoils();
    void masterSeesExceptions_data();
    void masterSeesExceptions();
    void otherAddressesGetNoReply();
    void commands();
    void lateRepliesArriveLate();
    void silenceDropsRequests();
    void garbageCorruptsOneReply();
    void malformedInputIsSurvived();
    void reopenedLineStartsClean();
    void wireTimingHoldsReplies_data();
    void wireTimingHoldsReplies();
    void linkAndTermination();
    void endOfInput_data();
    void endOfInput();
    void inProcessServer();
    void severalInstrumentsOnOneLine();
    void addressLists_data();
    void addressLists();

private:
    std::unique_ptr<SimProcess> sim_;
    QString device_;
};

void TestSimRtu::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("PX5800_SIM")).isExecutable(), "PX5800_SIM names no executable");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty(), "mbpoll is not installed");
    sim_ = std::make_unique<SimProcess>(QStringList{"--speed", "50"});
    device_ = sim_->device();
    QVERIFY2(device_.startsWith(QLatin1String("/dev/pts/")), qPrintable(device_));
}

void TestSimRtu::cleanupTestCase() { sim_.reset(); }

void TestSimRtu::mbpollReadsStationBlocks_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("checkIndex"); // -1: counts only
    QTest::addColumn<int>("checkValue");

    QTest::newRow("inputs 1-8, SV copy") << "3" << 1 << 8 << 2 << 100;
    QTest::newRow("alarm settings 257-264") << "4" << 257 << 8 << 0 << 150;
    QTest::newRow("alarm types 4114-4121") << "4" << 4114 << 8 << 1 << 2;
    QTest::newRow("config 4097-4104") << "4" << 4097 << 8 << 2 << 1300;
    QTest::newRow("config 4105-4112") << "4" << 4105 << 8 << -1 << 0;
    QTest::newRow("config 4113-4120") << "4" << 4113 << 8 << -1 << 0;
    QTest::newRow("config 4121-4128") << "4" << 4121 << 8 << 5 << 30;
    QTest::newRow("config 4129-4136") << "4" << 4129 << 8 << 0 << 100;
    QTest::newRow("segments 4609-4624") << "4" << 4609 << 16 << 0 << 0;
    QTest::newRow("segments 4625-4640") << "4" << 4625 << 16 << -1 << 0;
    QTest::newRow("segments 4641-4656") << "4" << 4641 << 16 << -1 << 0;
    QTest::newRow("groups 5121-5136") << "4" << 5121 << 16 << 0 << 30;
    QTest::newRow("groups 5137-5152") << "4" << 5137 << 16 << -1 << 0;
    QTest::newRow("coils 1-16") << "0" << 1 << 16 << 1 << 1;
    QTest::newRow("discrete inputs 1-16") << "1" << 1 << 16 << 15 << 0;
}

void TestSimRtu::mbpollReadsStationBlocks()
{
    QFETCH(QString, type);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(int, checkIndex);
    QFETCH(int, checkValue);

    const Poll r = mbpoll(device_, {"-t", type, "-r", QString::number(first), "-c", QString::number(count)});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.values.size(), count);
    if (checkIndex >= 0)
        QCOMPARE(r.values.at(checkIndex), checkValue);
}

void TestSimRtu::mbpollWritesSvAndPvMovesTowardsIt()
{
    const Poll write = mbpoll(device_, {"-t", "4", "-r", "1"}, {"400"});
    QVERIFY2(write.exitCode == 0, qPrintable(write.output));
    QCOMPARE(mbpoll(device_, {"-t", "4", "-r", "1"}).values, QList<int>{400});

    auto pv = [this] { return mbpoll(device_, {"-t", "3", "-r", "1"}).values.value(0, -1); };
    const int start = pv();
    QVERIFY(start > 0 && start < 390);
    QTRY_VERIFY_WITH_TIMEOUT(pv() >= start + 20, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(device_, {"-t", "3", "-r", "3"}).values.value(0), 400, 2000);
    QCOMPARE(mbpoll(device_, {"-t", "4", "-r", "1"}, {"100"}).exitCode, 0);
}

void TestSimRtu::mbpollSwitchesCoils()
{
    QCOMPARE(mbpoll(device_, {"-t", "0", "-r", "2"}, {"0"}).exitCode, 0);
    QCOMPARE(mbpoll(device_, {"-t", "0", "-r", "1", "-c", "3"}).values, (QList<int>{0, 0, 1}));
    QCOMPARE(mbpoll(device_, {"-t", "4", "-r", "2"}, {"333"}).exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(device_, {"-t", "3", "-r", "2"}).values.value(0), 333, 2000);
    QCOMPARE(mbpoll(device_, {"-t", "0", "-r", "2"}, {"1"}).exitCode, 0);
    QCOMPARE(mbpoll(device_, {"-t", "0", "-r", "1", "-c", "3"}).values, (QList<int>{0, 1, 1}));
}

void TestSimRtu::masterSeesExceptions_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("error");

    QTest::newRow("read 4096-4097") << "read-4096" << int(EMBXILADD);
    QTest::newRow("read inputs 1-9") << "read-inputs-9" << int(EMBXILADD);
    QTest::newRow("write SV -2000") << "write-sv" << int(EMBXILVAL);
    QTest::newRow("write spare 5122") << "write-spare" << int(EMBXILADD);
    QTest::newRow("write coils 3-4") << "write-coils" << int(EMBXILADD);
    QTest::newRow("read config 4097-4136 at once") << "read-config" << 0;
}

void TestSimRtu::masterSeesExceptions()
{
    QFETCH(QString, request);
    QFETCH(int, error);

    Master m(device_);
    QVERIFY(m.connected());
    uint16_t regs[40] = {};
    const uint8_t bits[2] = {1, 1};
    int rc = -1;
    errno = 0;
    if (request == QLatin1String("read-4096"))
        rc = modbus_read_registers(m.ctx(), 4095, 2, regs);
    else if (request == QLatin1String("read-inputs-9"))
        rc = modbus_read_input_registers(m.ctx(), 0, 9, regs);
    else if (request == QLatin1String("write-sv"))
        rc = modbus_write_register(m.ctx(), 0, uint16_t(int16_t(-2000)));
    else if (request == QLatin1String("write-spare"))
        rc = modbus_write_register(m.ctx(), 5121, 1);
    else if (request == QLatin1String("write-coils"))
        rc = modbus_write_bits(m.ctx(), 2, 2, bits);
    else if (request == QLatin1String("read-config"))
        rc = modbus_read_registers(m.ctx(), 4096, 40, regs);
    if (error == 0) {
        QCOMPARE(rc, 40);
        QCOMPARE(regs[2], uint16_t(1300));
    } else {
        QCOMPARE(rc, -1);
        QCOMPARE(errno, error);
    }
}

void TestSimRtu::otherAddressesGetNoReply()
{
    Master m(device_, 2, 300);
    QVERIFY(m.connected());
    QCOMPARE(m.holding(1), -ETIMEDOUT);
    // The request that follows one for another address is answered at once.
    modbus_set_slave(m.ctx(), 1);
    QCOMPARE(m.holding(1), 100);

    // A broadcast write is carried out without a reply (libmodbus 3.1.6
    // waits for one all the same and times out).
    modbus_set_slave(m.ctx(), MODBUS_BROADCAST_ADDRESS);
    QCOMPARE(modbus_write_register(m.ctx(), 0, 123), -1);
    QCOMPARE(errno, ETIMEDOUT);
    modbus_set_slave(m.ctx(), 1);
    QCOMPARE(m.holding(1), 123);
    QCOMPARE(modbus_write_register(m.ctx(), 0, 100), 1);
    QVERIFY(sim_->command(QStringLiteral("status")).contains(QRegularExpression(QStringLiteral("ignored=[1-9]"))));
}

void TestSimRtu::commands()
{
    QVERIFY(sim_->command(QStringLiteral("status")).startsWith(QLatin1String("time=")));
    QVERIFY(sim_->command(QStringLiteral("bogus")).startsWith(QLatin1String("error:")));
    QVERIFY(sim_->command(QStringLiteral("late x")).startsWith(QLatin1String("error:")));
    QCOMPARE(sim_->command(QStringLiteral("get hr 4099")), QStringLiteral("1300"));
    QCOMPARE(sim_->command(QStringLiteral("get ir 9")), QStringLiteral("error: exception 2"));
    QCOMPARE(sim_->command(QStringLiteral("set hr 1 10000")), QStringLiteral("error: exception 3"));
    QCOMPARE(sim_->command(QStringLiteral("setpoint-step")), QStringLiteral("ok sv=150"));
    QCOMPARE(sim_->command(QStringLiteral("set hr 1 100")), QStringLiteral("ok"));

    // Sensor faults reach the master as discrete inputs 3 and 4 and a PV at the range limit.
    QCOMPARE(sim_->command(QStringLiteral("fault open")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(device_, {"-t", "1", "-r", "1", "-c", "4"}).values.value(2), 1, 2000);
    QCOMPARE(mbpoll(device_, {"-t", "3", "-r", "1"}).values, QList<int>{1300});
    QCOMPARE(sim_->command(QStringLiteral("fault short")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(device_, {"-t", "1", "-r", "1", "-c", "4"}).values.mid(2), (QList<int>{0, 1}),
                              2000);
    QCOMPARE(sim_->command(QStringLiteral("fault none")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(device_, {"-t", "1", "-r", "1", "-c", "4"}).values.mid(2), (QList<int>{0, 0}),
                              2000);
}

void TestSimRtu::lateRepliesArriveLate()
{
    Master m(device_, 1, 1000);
    QVERIFY(m.connected());
    QCOMPARE(sim_->command(QStringLiteral("late 300 1")), QStringLiteral("ok"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m.holding(1), 100);
    QVERIFY2(timer.elapsed() >= 290, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(sim_->command(QStringLiteral("status")).contains(QLatin1String(" late=0 ")));

    // Later than the master waits: it times out, and the reply still comes.
    QCOMPARE(sim_->command(QStringLiteral("late 600 1")), QStringLiteral("ok"));
    modbus_set_response_timeout(m.ctx(), 0, 250000);
    QCOMPARE(m.holding(1), -ETIMEDOUT);
    modbus_set_response_timeout(m.ctx(), 1, 0);
    uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
    QCOMPARE(modbus_receive_confirmation(m.ctx(), reply), 7); // address, 03, count, value, CRC
    QCOMPARE(reply[1], uint8_t(0x03));

    // Without a count, every reply is late until "late 0".
    QCOMPARE(sim_->command(QStringLiteral("late 200")), QStringLiteral("ok"));
    for (int i = 0; i < 2; ++i) {
        timer.restart();
        QCOMPARE(m.holding(1), 100);
        QVERIFY(timer.elapsed() >= 190);
    }
    QCOMPARE(sim_->command(QStringLiteral("late 0")), QStringLiteral("ok"));
}

void TestSimRtu::silenceDropsRequests()
{
    Master m(device_, 1, 250);
    QVERIFY(m.connected());
    QCOMPARE(sim_->command(QStringLiteral("silent 1")), QStringLiteral("ok"));
    QCOMPARE(m.holding(1), -ETIMEDOUT);
    QCOMPARE(modbus_write_register(m.ctx(), 0, 555), -1);
    QTRY_COMPARE_WITH_TIMEOUT(m.holding(1), 100, 4000); // answering again, and the write was not carried out
}

void TestSimRtu::garbageCorruptsOneReply()
{
    Master m(device_);
    QVERIFY(m.connected());
    QCOMPARE(sim_->command(QStringLiteral("garbage")), QStringLiteral("ok"));
    QCOMPARE(m.holding(4099), -EMBBADCRC);
    QCOMPARE(m.holding(4099), 1300);
}

void TestSimRtu::malformedInputIsSurvived()
{
    const int fd = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    QByteArray junk;
    quint32 x = 12345;
    for (int i = 0; i < 700; ++i) {
        x = x * 1103515245u + 12345u;
        junk.append(char(x >> 24));
    }
    junk += QByteArray::fromHex("01 10 0000 007f ff") + QByteArray(40, '\x55'); // byte count past any buffer
    junk += QByteArray::fromHex("01 03 00");                                    // half a request
    QCOMPARE(::write(fd, junk.constData(), std::size_t(junk.size())), ssize_t(junk.size()));
    ::close(fd);

    Master m(device_, 1, 300);
    QVERIFY(m.connected());
    QTRY_COMPARE_WITH_TIMEOUT(m.holding(4099), 1300, 3000);
    QCOMPARE(sim_->process().state(), QProcess::Running);
}

void TestSimRtu::reopenedLineStartsClean()
{
    QCOMPARE(sim_->command(QStringLiteral("late 300 1")), QStringLiteral("ok"));
    {
        Master first(device_, 1, 100);
        uint16_t regs[8];
        QCOMPARE(modbus_read_input_registers(first.ctx(), 0, 8, regs), -1);
    } // closed before the late reply is due
    QTest::qWait(400);
    // A reply left over for the closed master would now be read as the answer.
    Master second(device_);
    QCOMPARE(second.holding(1), 100);
}

void TestSimRtu::wireTimingHoldsReplies_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("turnaround");

    QTest::newRow("9600 8N1") << 9600 << "none" << 20;
    QTest::newRow("4800 8E1") << 4800 << "even" << 30;
}

void TestSimRtu::wireTimingHoldsReplies()
{
    QFETCH(int, baud);
    QFETCH(QString, parity);
    QFETCH(int, turnaround);

    SimProcess sim({"--wire-timing", "--baud", QString::number(baud), "--parity", parity, "--turnaround",
                    QString::number(turnaround)});
    QVERIFY(!sim.device().isEmpty());
    Master m(sim.device(), 1, 1000, baud, parity == QLatin1String("none") ? 'N' : 'E');
    QVERIFY(m.connected());

    // Reading 8 input registers: the reply is 21 bytes; the request's own 8
    // bytes have passed when it is complete; two 3.5-character silences.
    const double bits = parity == QLatin1String("none") ? 10.0 : 11.0;
    const double floorMs = (21.0 + 7.0) * bits / baud * 1000.0 + turnaround;
    uint16_t regs[8];
    QElapsedTimer timer;
    for (int i = 0; i < 3; ++i) {
        timer.start();
        QCOMPARE(modbus_read_input_registers(m.ctx(), 0, 8, regs), 8);
        QVERIFY2(timer.elapsed() >= floorMs - 1.0,
                 qPrintable(QStringLiteral("%1 ms < %2 ms").arg(timer.elapsed()).arg(floorMs)));
    }
}

void TestSimRtu::linkAndTermination()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("px5800"));
    {
        SimProcess sim({"--link", link});
        QCOMPARE(sim.device(), link);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFile::symLinkTarget(link).startsWith(QLatin1String("/dev/pts/")));
        QCOMPARE(mbpoll(link, {"-t", "4", "-r", "4099"}).values, QList<int>{1300});

        sim.process().terminate(); // SIGTERM
        QVERIFY(sim.process().waitForFinished(3000));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    // A link path held by an ordinary file is refused, and the file kept.
    QFile file(link);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    SimProcess refused({"--link", link});
    QVERIFY(refused.device().isEmpty());
    refused.process().waitForFinished(3000);
    QCOMPARE(refused.process().state(), QProcess::NotRunning);
    QCOMPARE(refused.process().exitCode(), 1);
    QVERIFY(QFileInfo(link).isFile());
}

void TestSimRtu::endOfInput_data()
{
    QTest::addColumn<bool>("exitOnEof");
    QTest::newRow("keeps running") << false;
    QTest::newRow("--exit-on-eof") << true;
}

void TestSimRtu::endOfInput()
{
    QFETCH(bool, exitOnEof);
    SimProcess sim(exitOnEof ? QStringList{"--exit-on-eof"} : QStringList{});
    QVERIFY(!sim.device().isEmpty());
    sim.process().closeWriteChannel();
    if (exitOnEof) {
        QVERIFY(sim.process().waitForFinished(3000));
        QCOMPARE(sim.process().exitCode(), 0);
    } else {
        QVERIFY(!sim.process().waitForFinished(300));
        QCOMPARE(mbpoll(sim.device(), {"-t", "3", "-r", "3"}).values, QList<int>{100});
    }
}

void TestSimRtu::inProcessServer()
{
    SimOptions options;
    options.speed = 10.0;
    options.slave = 7;
    SimServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QVERIFY(server.isRunning());
    {
        Master m(server.devicePath(), 7);
        QVERIFY(m.connected());
        QCOMPARE(m.holding(4116), 7); // the address it answers to
        QCOMPARE(server.command(QStringLiteral("set hr 1 250")), QStringLiteral("ok"));
        QCOMPARE(m.holding(1), 250);
    }
    server.stop();
    server.stop();
    QVERIFY(!server.isRunning());

    SimOptions bad;
    bad.device = QStringLiteral("/nonexistent/tty");
    SimServer failing(bad);
    QVERIFY(!failing.start(&error));
    QVERIFY(error.contains(QLatin1String("/nonexistent/tty")));
}

void TestSimRtu::severalInstrumentsOnOneLine()
{
    SimProcess sim({"--addresses", "1-3,5", "--speed", "20", "--plant", "3=gain:2,tau:120"});
    QVERIFY2(sim.device().startsWith(QLatin1String("/dev/pts/")), qPrintable(sim.device()));

    // Each address its own map: the address it reports and its own set value.
    for (const int a : {1, 2, 3, 5}) {
        const Poll r = mbpoll(sim.device(), {"-a", QString::number(a), "-t", "3", "-r", "1", "-c", "8"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QCOMPARE(r.values.value(2), 100 + 10 * (a - 1));
        QCOMPARE(mbpoll(sim.device(), {"-a", QString::number(a), "-t", "4", "-r", "4116"}).values, QList<int>{a});
    }
    QCOMPARE(sim.command(QStringLiteral("@3 set hr 1 333")), QStringLiteral("ok"));
    QCOMPARE(mbpoll(sim.device(), {"-a", "3", "-t", "4", "-r", "1"}).values, QList<int>{333});
    QCOMPARE(mbpoll(sim.device(), {"-a", "2", "-t", "4", "-r", "1"}).values, QList<int>{110});
    QVERIFY(sim.command(QStringLiteral("@3 status")).endsWith(QLatin1String(" plant=2/120/20")));
    QVERIFY(sim.command(QStringLiteral("@2 status")).endsWith(QLatin1String(" plant=5.5/375/15")));

    Master m(sim.device(), 1, 300);
    QVERIFY(m.connected());
    auto answers = [&m](int address) {
        modbus_set_slave(m.ctx(), address);
        return m.holding(4116);
    };
    QCOMPARE(answers(4), -ETIMEDOUT); // not served
    QCOMPARE(answers(17), -ETIMEDOUT);

    // A silent address times out; the line stays good for the others.
    QCOMPARE(sim.command(QStringLiteral("@2 silent 30")), QStringLiteral("ok"));
    QCOMPARE(answers(2), -ETIMEDOUT);
    QCOMPARE(answers(1), 1);
    QCOMPARE(answers(3), 3);
    QCOMPARE(answers(2), -ETIMEDOUT);
    QCOMPARE(answers(5), 5);
    QCOMPARE(sim.command(QStringLiteral("@2 silent 0")), QStringLiteral("ok"));
    QCOMPARE(answers(2), 2);

    // Without @N a fault is for every instrument.
    QCOMPARE(sim.command(QStringLiteral("fault open")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(mbpoll(sim.device(), {"-a", "5", "-t", "1", "-r", "1", "-c", "4"}).values.value(2), 1,
                              2000);
    QCOMPARE(sim.command(QStringLiteral("@5 get di 3")), QStringLiteral("1"));
    QCOMPARE(sim.command(QStringLiteral("@1 fault none")), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(sim.command(QStringLiteral("@1 get di 3")), QStringLiteral("0"), 2000);
    QCOMPARE(sim.command(QStringLiteral("@5 get di 3")), QStringLiteral("1"));

    QVERIFY(sim.command(QStringLiteral("get hr 1")).startsWith(QLatin1String("error:")));
    QCOMPARE(sim.command(QStringLiteral("@4 status")), QStringLiteral("error: address 4 is not served"));
    QVERIFY(sim.command(QStringLiteral("@x status")).startsWith(QLatin1String("error:")));
    QVERIFY(sim.command(QStringLiteral("@3")).startsWith(QLatin1String("error:")));
}

void TestSimRtu::addressLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("addresses"); // empty: refused

    QTest::newRow("ranges and single") << "1-4,7" << QList<int>{1, 2, 3, 4, 7};
    QTest::newRow("unordered") << "9, 2-3" << QList<int>{2, 3, 9};
    QTest::newRow("top") << "16" << QList<int>{16};
    QTest::newRow("zero") << "0-2" << QList<int>{};
    QTest::newRow("above 16") << "15-17" << QList<int>{};
    QTest::newRow("twice") << "1-3,2" << QList<int>{};
    QTest::newRow("backwards") << "4-2" << QList<int>{};
    QTest::newRow("empty item") << "1,,2" << QList<int>{};
    QTest::newRow("word") << "one" << QList<int>{};
}

void TestSimRtu::addressLists()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, addresses);
    QString error;
    const std::vector<int> parsed = simParseAddressList(text, &error);
    QCOMPARE(QList<int>(parsed.begin(), parsed.end()), addresses);
    QCOMPARE(error.isEmpty(), !addresses.isEmpty());

    // The command line refuses what the parser refuses.
    if (addresses.isEmpty()) {
        QProcess p;
        p.start(qEnvironmentVariable("PX5800_SIM"), {"--addresses", text});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
    }
}

QTEST_GUILESS_MAIN(TestSimRtu)
#include "tst_sim_rtu.moc"
