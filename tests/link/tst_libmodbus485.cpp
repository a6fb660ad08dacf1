#include "LibModbus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "PollingCycle.h"
#include "PtySlave.h"

#include <QThread>

#include <QElapsedTimer>
#include <QtTest>

#include <optional>

class TestLibModbus485 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsAndWritesAgainstARealSlave();
    void lateReplyNeverShiftsLaterReads();
    void replyLaterThanTheDrainIsNeverTaken_data();
    void replyLaterThanTheDrainIsNeverTaken();
    void busySlaveNeverPassesAnOldReplyOff_data();
    void busySlaveNeverPassesAnOldReplyOff();
    void replyToAnotherRequestIsRefused_data();
    void replyToAnotherRequestIsRefused();
    void secondOpenerIsRefusedAtOnce();
    void otherSlaveAddressTimesOut();
    void smallBufferIsRefused();
    void notOpenAndMissingDevice();
    void vanishedDeviceIsReported();
    void portMapping();
};

namespace {
PortMap mapTo(const std::string& path)
{
    PortMap map;
    map.map(1, QString::fromStdString(path));
    return map;
}

// A pseudo-terminal slave with port 1 of a bus opened on it.
struct SlaveAndBus {
    explicit SlaveAndBus(int address) : slave(address) {}
    // Starts the slave and opens the port (9600 baud, no parity by default).
    bool start(int baudIndex = 1)
    {
        if (!slave.start())
            return false;
        bus.emplace(mapTo(slave.devicePath()));
        return bus->OpenPort_Modbus(1, baudIndex, 0) == 0;
    }
    PtySlave slave;
    std::optional<LibModbus485> bus;
};
} // namespace

void TestLibModbus485::readsAndWritesAgainstARealSlave()
{
    SlaveAndBus rig(7);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;

    std::array<qint32, 16> buf{};
    QCOMPARE(bus.Get_3X_D8(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 2001); // station number 1 is protocol address 0
    QCOMPARE(buf[7], 2008);
    QCOMPARE(bus.Get_4X_D8(1, 7, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
    QCOMPARE(bus.Get_4X_D16(1, 7, 4609, buf), 0);
    QCOMPARE(buf[15], 4624 + 1000);
    QCOMPARE(bus.Get_0X_B16(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 0b101);
    QCOMPARE(bus.Get_1X_B16(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 0b110);

    QCOMPARE(bus.Set_4X_D1(1, 7, 1, -25), 0);
    QCOMPARE(bus.Get_4X_D8(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], -25); // registers are signed
    QCOMPARE(rig.slave.holding(1), -25);
    QCOMPARE(bus.Rst_0X_Bit1(1, 7, 1), 0);
    QCOMPARE(bus.Set_0X_Bit1(1, 7, 2), 0);
    QCOMPARE(bus.Get_0X_B16(1, 7, 1, buf), 0);
    QCOMPARE(buf[0], 0b110);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Answered);

    // An address the slave does not have: a Modbus exception, not a crash.
    QVERIFY(bus.Get_4X_D16(1, 7, 5190, buf) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Exception);
    QCOMPARE(bus.Set_4X_D1(1, 7, 6000, 1), Modbus485::kWriteFailed);
    QCOMPARE(bus.ClosePort_Modbus(1), 0);
}

void TestLibModbus485::lateReplyNeverShiftsLaterReads()
{
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;
    std::array<qint32, 16> buf{};
    buf.fill(-7);
    rig.slave.delayNextReplyMs(700);
    QElapsedTimer t;
    t.start();
    QVERIFY(bus.Get_4X_D8(1, 1, 257, buf) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Timeout);
    QCOMPARE(buf[0], -7); // a failed read leaves the buffer alone
    // The late reply (registers 257..) must not be taken for the next read.
    QCOMPARE(bus.Get_4X_D8(1, 1, 4114, buf), 0);
    QCOMPARE(buf[0], 4114 + 1000);
    QCOMPARE(bus.Get_4X_D8(1, 1, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
    QVERIFY(t.elapsed() < 3000);
}

void TestLibModbus485::replyLaterThanTheDrainIsNeverTaken_data()
{
    QTest::addColumn<int>("pauseMs");
    // The late reply lands between two exchanges...
    QTest::newRow("between exchanges") << 500;
    // ...or inside the next exchange of the same shape, ahead of its own reply.
    QTest::newRow("inside the next exchange") << 0;
}

void TestLibModbus485::replyLaterThanTheDrainIsNeverTaken()
{
    QFETCH(int, pauseMs);
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;
    std::array<qint32, 16> buf{};
    const int late = LibModbus485::kResponseTimeoutMs + LibModbus485::kLateReplyWindowMs + 200;
    rig.slave.delayNextReplyMs(late);
    QVERIFY(bus.Get_4X_D8(1, 1, 257, buf) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Timeout);
    QThread::msleep(pauseMs);
    buf.fill(-7);
    // Registers 257.. answered late must never pass for registers 4114..,
    // and the line is back in step within a few exchanges (on a loaded
    // machine the late reply can also spoil the probes of the next one).
    int rc = -1;
    for (int attempt = 0; attempt < 3 && rc != 0; ++attempt) {
        rc = bus.Get_4X_D8(1, 1, 4114, buf);
        if (rc != 0)
            QCOMPARE(buf[0], -7);
    }
    QCOMPARE(rc, 0);
    QCOMPARE(buf[0], 4114 + 1000);
    QCOMPARE(bus.Get_4X_D8(1, 1, 4114, buf), 0);
    QCOMPARE(buf[0], 4114 + 1000);
    QCOMPARE(bus.Get_4X_D8(1, 1, 257, buf), 0);
    QCOMPARE(buf[0], 1257);
}

namespace {
// What the slave holds for a read, element by element (see PtySlave).
qint32 expectedAt(const ReadRequest& r, int i)
{
    switch (r.fn) {
    case ReadFn::Get_0X_B16: return 0b101;
    case ReadFn::Get_1X_B16: return 0b110;
    case ReadFn::Get_3X_D8: return 2000 + r.first + i;
    case ReadFn::Get_4X_D8:
    case ReadFn::Get_4X_D16: return 1000 + r.first + i;
    }
    return -1;
}

// The exchanges of one round: the polling cycle, a parameter window's
// blocks, a segment window's blocks, two writes to one register.
const QVector<QVector<ReadRequest>> kRoundReads = {
    PollingCycle::cycleRequests(),
    {{ReadFn::Get_4X_D8, 4097}, {ReadFn::Get_4X_D8, 4105}, {ReadFn::Get_4X_D8, 4113}},
    {{ReadFn::Get_4X_D16, 4609}, {ReadFn::Get_4X_D16, 4625}},
};
constexpr int kWrittenRegister = 100;
} // namespace

void TestLibModbus485::busySlaveNeverPassesAnOldReplyOff_data()
{
    QTest::addColumn<int>("position"); // exchange of the round the slave is busy on (0-11)
    QTest::addColumn<int>("lateMs");
    QTest::newRow("PV block") << 0 << 1350;
    QTest::newRow("alarm settings, next block same shape") << 1 << 1050;
    QTest::newRow("alarm settings, 2 s") << 1 << 2000;
    QTest::newRow("alarm types") << 2 << 450;
    QTest::newRow("inputs") << 3 << 700;
    QTest::newRow("parameter block 4097") << 5 << 2000;
    QTest::newRow("parameter block 4105") << 6 << 1050;
    QTest::newRow("segment block") << 8 << 450;
    QTest::newRow("write, then its repeat") << 10 << 1050;
    QTest::newRow("write, 2 s") << 10 << 2000;
    QTest::newRow("second write") << 11 << 700;
}

// A slave that finishes a late answer while ignoring what comes meanwhile
// must never have that answer taken for a later request: every value that
// arrives as answered is the value of the registers asked for, and every
// write reported done holds on the slave.
void TestLibModbus485::busySlaveNeverPassesAnOldReplyOff()
{
    QFETCH(int, position);
    QFETCH(int, lateMs);
    PtySlave slave(1);
    QVERIFY(slave.start());
    LinkClient link(std::make_unique<LibModbus485>(mapTo(slave.devicePath())), LinkClient::Mode::Inline);
    link.open(PortSettings{1, 1, 0, 1});
    slave.busyLater(position, lateMs);
    QObject requester;
    int answered = 0;
    bool lastRoundClean = false;
    for (int round = 0; round < 4; ++round) {
        lastRoundClean = true;
        for (const QVector<ReadRequest>& batch : kRoundReads) {
            QVector<ReadResult> got;
            QVERIFY(link.readBatch(&requester, batch, [&](const QVector<ReadResult>& r) { got = r; }));
            QCOMPARE(got.size(), batch.size());
            for (const ReadResult& r : got) {
                lastRoundClean = lastRoundClean && r.ok();
                if (!r.ok())
                    continue;
                ++answered;
                for (int i = 0; i < elementsOf(r.request.fn); ++i)
                    QVERIFY2(r.data.at(i) == expectedAt(r.request, i),
                             qPrintable(QStringLiteral("round %1, read of %2: element %3 is %4")
                                            .arg(round)
                                            .arg(r.request.first)
                                            .arg(i)
                                            .arg(r.data.at(i))));
            }
        }
        for (int k = 1; k <= 2; ++k) {
            const int value = round * 10 + k;
            bool done = false;
            link.write(&requester, {WriteFn::Set_4X_D1, kWrittenRegister, value}, [&](const WriteResult& r) {
                done = true;
                lastRoundClean = lastRoundClean && r.outcome == LinkOutcome::Answered;
                if (r.outcome == LinkOutcome::Answered)
                    QCOMPARE(slave.holding(kWrittenRegister), value);
            });
            QVERIFY(done);
        }
    }
    QVERIFY(lastRoundClean); // the line came back in step
    QVERIFY(answered > 0);
}

void TestLibModbus485::replyToAnotherRequestIsRefused_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("other slave") << int(PtySlave::Fault::OtherSlave);
    QTest::newRow("other function") << int(PtySlave::Fault::OtherFunction);
    QTest::newRow("short byte count") << int(PtySlave::Fault::ShortByteCount);
}

void TestLibModbus485::replyToAnotherRequestIsRefused()
{
    QFETCH(int, fault);
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;
    std::array<qint32, 16> buf{};
    buf.fill(-7);
    rig.slave.falsifyNextReply(PtySlave::Fault(fault));
    QVERIFY(bus.Get_4X_D8(1, 1, 257, buf) != 0);
    QCOMPARE(buf[0], -7);
    QVERIFY2(bus.lastOutcome() == LinkOutcome::CrcError, outcomeName(bus.lastOutcome()));
    QCOMPARE(bus.Get_3X_D8(1, 1, 1, buf), 0);
    QCOMPARE(buf[0], 2001);
}

void TestLibModbus485::secondOpenerIsRefusedAtOnce()
{
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& first = *rig.bus;

    // The station's own link, as a second program would run it.
    LinkClient second(std::make_unique<LibModbus485>(mapTo(rig.slave.devicePath())), LinkClient::Mode::Inline);
    LinkHealth health;
    connect(&second, &LinkClient::portStateChanged, &health, &LinkHealth::onPortState);
    PortState portState = PortState::Closed;
    connect(&second, &LinkClient::portStateChanged, [&portState](PortState s) { portState = s; });
    health.onPortOpened();
    QElapsedTimer t;
    t.start();
    second.open(PortSettings{1, 1, 0, 1});
    QVERIFY(t.elapsed() < 200);
    QCOMPARE(portState, PortState::InUse);
    QCOMPARE(second.busForTests().lastOutcome(), LinkOutcome::PortInUse);
    QCOMPARE(health.text(), QStringLiteral("端口正被其他程序占用"));
    DeviceLock probe;
    QCOMPARE(probe.acquire(QString::fromStdString(rig.slave.devicePath())), DeviceLock::Status::InUse);
    QCOMPARE(probe.reason(), QStringLiteral("port in use by another program"));

    // The first keeps working, and the line is free once it lets go.
    std::array<qint32, 16> buf{};
    QCOMPARE(first.Get_3X_D8(1, 1, 1, buf), 0);
    QCOMPARE(buf[0], 2001);
    QCOMPARE(first.ClosePort_Modbus(1), 0);
    QCOMPARE(probe.acquire(QString::fromStdString(rig.slave.devicePath())), DeviceLock::Status::Held);
    probe.release();
    second.open(PortSettings{1, 1, 0, 1});
    QCOMPARE(portState, PortState::Open);
    QCOMPARE(health.text(), LinkHealth::stateText(health.state()));
}

void TestLibModbus485::otherSlaveAddressTimesOut()
{
    SlaveAndBus rig(1);
    QVERIFY(rig.start(2));
    LibModbus485& bus = *rig.bus;
    std::array<qint32, 16> buf{};
    QVERIFY(bus.Get_3X_D8(1, 2, 1, buf) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Timeout);
    const int rc = bus.Get_3X_D8(1, 1, 1, buf);
    QVERIFY2(rc == 0, outcomeName(bus.lastOutcome()));
    QCOMPARE(buf[0], 2001);
}

void TestLibModbus485::smallBufferIsRefused()
{
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;
    std::array<qint32, 9> guard{};
    guard.fill(99);
    QVERIFY(bus.Get_4X_D16(1, 1, 1, std::span<qint32>(guard.data(), 8)) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::Other);
    QCOMPARE(guard[8], 99);
    QVERIFY(bus.Get_0X_B16(1, 1, 1, std::span<qint32>()) != 0);
}

void TestLibModbus485::notOpenAndMissingDevice()
{
    PortMap map;
    map.map(4, QStringLiteral("/nonexistent/tty-px5800"));
    LibModbus485 bus(map);
    std::array<qint32, 16> buf{};
    QVERIFY(bus.Get_3X_D8(1, 1, 1, buf) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::NotOpen);
    QCOMPARE(bus.Set_4X_D1(1, 1, 1, 5), Modbus485::kWriteFailed);
    QVERIFY(bus.OpenPort_Modbus(4, 1, 0) != 0);
    QCOMPARE(bus.lastOutcome(), LinkOutcome::DeviceGone);
    QCOMPARE(bus.ClosePort_Modbus(4), 0); // closing what never opened is harmless
    QCOMPARE(bus.ClosePort_Modbus(0), 0);
}

void TestLibModbus485::vanishedDeviceIsReported()
{
    SlaveAndBus rig(1);
    QVERIFY(rig.start());
    LibModbus485& bus = *rig.bus;
    rig.slave.closeMaster();
    std::array<qint32, 16> buf{};
    QVERIFY(bus.Get_3X_D8(1, 1, 1, buf) != 0);
    QVERIFY2(bus.lastOutcome() == LinkOutcome::DeviceGone, outcomeName(bus.lastOutcome()));
}

void TestLibModbus485::portMapping()
{
    PortMap map;
    QCOMPARE(map.deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(map.deviceFor(20), QStringLiteral("/dev/ttyUSB19"));
    QString error;
    QVERIFY(map.parseMapping(QStringLiteral("3=/dev/serial/by-id/usb-x"), &error));
    QCOMPARE(map.deviceFor(3), QStringLiteral("/dev/serial/by-id/usb-x"));
    QVERIFY(!map.parseMapping(QStringLiteral("21=/dev/x"), &error));
    QVERIFY(!map.parseMapping(QStringLiteral("abc"), &error));
    QVERIFY(!map.parseMapping(QStringLiteral("2="), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(baudRateOf(0), 4800);
    QCOMPARE(baudRateOf(2), 19200);
    QCOMPARE(baudRateOf(-1), 9600); // an unknown index: the default rate
    QCOMPARE(baudIndexOf(9600), 1);
    QCOMPARE(baudIndexOf(1200), -1);
    // The option takes the rate, and a rate the instrument does not offer is
    // refused with the list, leaving the value as it was.
    int index = -1;
    QCOMPARE(parseLineOption(LineOption::Baud, QStringLiteral("19200"), &index), QString());
    QCOMPARE(index, 2);
    QCOMPARE(parseLineOption(LineOption::Baud, QStringLiteral("1200"), &index),
             QStringLiteral("--baud expects 4800, 9600 or 19200"));
    QCOMPARE(index, 2);
    QCOMPARE(parityLetterOf(1), 'O');
    QCOMPARE(parityLetterOf(2), 'E');
}

QTEST_GUILESS_MAIN(TestLibModbus485)
#include "tst_libmodbus485.moc"
