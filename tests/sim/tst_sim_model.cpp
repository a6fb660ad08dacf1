// The simulated instrument without I/O: register map, control loop, alarms,
// faults, self-tune, grouped output, and the RTU framing and request logic.

#include "SimInstrument.h"
#include "SimRtu.h"

#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

void writeHr(SimInstrument& m, int reg, int value)
{
    const qint16 v = qint16(value);
    QCOMPARE(m.writeRegisters(reg, std::span(&v, 1)), SimException::None);
}

void writeCoil(SimInstrument& m, int number, bool on)
{
    QCOMPARE(m.writeCoils(number, std::span(&on, 1)), SimException::None);
}

struct Response {
    double overshoot = 0.0; // above SV, instrument units
    double settled = -1.0;  // simulated seconds until PV stays within ±2 of SV
};

// Runs the loop for `seconds` and reports how the PV reached `sv`.
Response follow(SimInstrument& m, int sv, double seconds, bool fromBelow = true)
{
    Response r;
    const double start = m.simulatedTime();
    for (double t = 0.0; t < seconds; t += SimInstrument::kScanPeriod) {
        m.advance(SimInstrument::kScanPeriod);
        const int pv = m.input(SimReg::Pv);
        r.overshoot = std::max(r.overshoot, double(fromBelow ? pv - sv : sv - pv));
        if (std::abs(pv - sv) > 2)
            r.settled = -1.0;
        else if (r.settled < 0.0)
            r.settled = m.simulatedTime() - start;
    }
    return r;
}

QByteArray hex(std::span<const quint8> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex(' ');
}

QByteArray withCrc(const QByteArray& hexFrame)
{
    const QByteArray raw = QByteArray::fromHex(hexFrame);
    const auto adu = simBuildAdu(
        quint8(raw[0]), std::span(reinterpret_cast<const quint8*>(raw.constData()) + 1, std::size_t(raw.size() - 1)));
    return QByteArray(reinterpret_cast<const char*>(adu.data()), qsizetype(adu.size()));
}

std::span<const quint8> bytesOf(const QByteArray& a)
{
    return {reinterpret_cast<const quint8*>(a.constData()), std::size_t(a.size())};
}

} // namespace

class TestSimModel : public QObject {
    Q_OBJECT

private slots:
    void closedLoopSettles_data();
    void closedLoopSettles();
    void onOffControlCyclesAroundSv();
    void manualModeHoldsOutput();
    void plantFollowsItsParameters_data();
    void plantFollowsItsParameters();
    void alarms_data();
    void alarms();
    void alarmDelayRestartsWhenConditionLapses();
    void heaterBreakAlarm();
    void sensorFaults_data();
    void sensorFaults();
    void selfTuneFinishesAndClearsCoil();
    void selfTuneAbortsInManual();
    void groupedOutput_data();
    void groupedOutput();
    void writeLimits_data();
    void writeLimits();
    void rejectedMultiWriteChangesNothing();
    void readBlocks_data();
    void readBlocks();
    void requests_data();
    void requests();
    void broadcastWriteIsCarriedOutSilently();
    void crc();
    void framer_data();
    void framer();
};

void TestSimModel::closedLoopSettles_data()
{
    QTest::addColumn<int>("sv");
    QTest::addColumn<bool>("cooling");
    QTest::addColumn<double>("within");    // simulated seconds
    QTest::addColumn<double>("overshoot"); // instrument units

    QTest::newRow("heating to 100") << 100 << false << 300.0 << 5.0;
    QTest::newRow("heating to 300") << 300 << false << 600.0 << 5.0;
    QTest::newRow("cooling to 10, direct action") << 10 << true << 600.0 << 5.0;
}

void TestSimModel::closedLoopSettles()
{
    QFETCH(int, sv);
    QFETCH(bool, cooling);
    QFETCH(double, within);
    QFETCH(double, overshoot);

    SimInstrument m;
    writeHr(m, SimReg::Sv, sv);
    if (cooling)
        writeHr(m, SimReg::Output1Action, 1);
    const Response r = follow(m, sv, within + 600.0, !cooling);
    QVERIFY2(r.settled >= 0.0 && r.settled <= within, qPrintable(QString::number(r.settled)));
    QVERIFY2(r.overshoot <= overshoot, qPrintable(QString::number(r.overshoot)));
    QCOMPARE(m.input(SimReg::SvCopy), sv);
}

void TestSimModel::onOffControlCyclesAroundSv()
{
    SimInstrument m;
    writeHr(m, SimReg::Band1, 0);
    writeHr(m, SimReg::ControlHysteresis, 4);
    m.advance(600.0);
    int lowest = 10000;
    int highest = -10000;
    bool sawOn = false;
    bool sawOff = false;
    for (int i = 0; i < 1200; ++i) {
        m.advance(SimInstrument::kScanPeriod);
        const int op = m.input(SimReg::Op);
        QVERIFY2(op == 0 || op == 1000, qPrintable(QString::number(op)));
        sawOn |= op == 1000;
        sawOff |= op == 0;
        lowest = std::min<int>(lowest, m.input(SimReg::Pv));
        highest = std::max<int>(highest, m.input(SimReg::Pv));
    }
    QVERIFY(sawOn && sawOff);
    // The dead time carries the PV past the switching points, but not far.
    QVERIFY2(lowest >= 90 && highest <= 125, qPrintable(QStringLiteral("%1..%2").arg(lowest).arg(highest)));
}

void TestSimModel::manualModeHoldsOutput()
{
    SimInstrument m;
    m.advance(600.0);
    const int autoOp = m.input(SimReg::Op);
    writeCoil(m, SimReg::Automatic, false);
    // Bumpless: manual mode takes over the output the loop had.
    QVERIFY(std::abs(m.holding(SimReg::ManualOutput) - autoOp) <= 50);

    writeHr(m, SimReg::ManualOutput, 456);
    const int pvBefore = m.input(SimReg::Pv);
    for (int i = 0; i < 600; ++i) {
        m.advance(1.0);
        QCOMPARE(m.input(SimReg::Op), 456);
    }
    QVERIFY(m.input(SimReg::Pv) > pvBefore + 50); // 45.6 % heats far above the 15 % that held SV

    writeCoil(m, SimReg::Automatic, true);
    m.advance(SimInstrument::kScanPeriod);
    QVERIFY2(m.input(SimReg::Op) <= 456, "back in automatic the output starts from where manual left it, then falls");
    QVERIFY(m.input(SimReg::Op) >= 0);
    const Response r = follow(m, 100, 1200.0, false);
    QVERIFY(r.settled >= 0.0);
}

void TestSimModel::plantFollowsItsParameters_data()
{
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("tau");
    QTest::addColumn<double>("deadTime");
    QTest::newRow("defaults") << 5.0 << 300.0 << 10.0;
    QTest::newRow("fast, long dead time") << 2.0 << 60.0 << 25.0;
    QTest::newRow("no dead time") << 8.0 << 120.0 << 0.0;
}

// An open-loop output step: nothing moves before the dead time, 63 % of
// gain x step one time constant after it, and the whole of it at the end.
void TestSimModel::plantFollowsItsParameters()
{
    QFETCH(double, gain);
    QFETCH(double, tau);
    QFETCH(double, deadTime);
    SimInstrument m(1, SimPlant{gain, tau, deadTime});
    m.setNoise(0.0);
    writeCoil(m, SimReg::Automatic, false);
    writeHr(m, SimReg::ManualOutput, 0);
    // The first scan ran in automatic at full output: hold the process at
    // ambient until that has left the dead-time line.
    m.pinTemperature(SimInstrument::kAmbient);
    m.advance(deadTime + 1.0);
    m.pinTemperature(std::nullopt);
    const double start = m.temperature();
    QCOMPARE(start, SimInstrument::kAmbient);
    writeHr(m, SimReg::ManualOutput, 100); // 10 %
    m.advance(SimInstrument::kScanPeriod); // the scan that reads it
    const double stepped = m.simulatedTime();
    if (deadTime > 1.0) {
        m.advance(deadTime - 1.0);
        QCOMPARE(m.temperature(), start);
    }
    const double rise = gain * 10.0;
    m.advance(stepped + deadTime + tau - m.simulatedTime());
    QVERIFY2(std::abs(m.temperature() - start - 0.632 * rise) < 0.02 * rise,
             qPrintable(QString::number(m.temperature())));
    m.advance(10.0 * tau);
    QVERIFY(std::abs(m.temperature() - start - rise) < 0.01 * rise);
}

void TestSimModel::alarms_data()
{
    QTest::addColumn<int>("alarm"); // 1 or 2
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("hysteresis");
    QTest::addColumn<int>("delay");
    QTest::addColumn<double>("normal"); // process temperatures, °C (SV is 100)
    QTest::addColumn<double>("alarming");
    QTest::addColumn<double>("withinHysteresis");
    QTest::addColumn<double>("clear");

    QTest::newRow("1 high") << 1 << 1 << 150 << 5 << 3 << 140.0 << 160.0 << 147.0 << 140.0;
    QTest::newRow("2 high, no delay") << 2 << 1 << 150 << 5 << 0 << 140.0 << 160.0 << 147.0 << 140.0;
    QTest::newRow("1 low") << 1 << 2 << 50 << 5 << 3 << 60.0 << 40.0 << 53.0 << 60.0;
    QTest::newRow("2 high deviation") << 2 << 3 << 20 << 5 << 3 << 110.0 << 125.0 << 117.0 << 110.0;
    QTest::newRow("1 low deviation") << 1 << 4 << 20 << 5 << 3 << 90.0 << 75.0 << 83.0 << 90.0;
    QTest::newRow("2 band, above") << 2 << 5 << 20 << 5 << 3 << 110.0 << 125.0 << 117.0 << 110.0;
    QTest::newRow("1 band, below") << 1 << 5 << 20 << 5 << 3 << 90.0 << 75.0 << 83.0 << 90.0;
    QTest::newRow("1 at the value raises") << 1 << 1 << 150 << 0 << 0 << 149.0 << 150.0 << 150.0 << 149.0;
}

void TestSimModel::alarms()
{
    QFETCH(int, alarm);
    QFETCH(int, type);
    QFETCH(int, value);
    QFETCH(int, hysteresis);
    QFETCH(int, delay);
    QFETCH(double, normal);
    QFETCH(double, alarming);
    QFETCH(double, withinHysteresis);
    QFETCH(double, clear);

    SimInstrument m;
    m.setNoise(0.0);
    writeHr(m, SimReg::Filter, 1);
    writeHr(m, SimReg::Alarm1Type, 0);
    writeHr(m, SimReg::Alarm2Type, 0);
    const int base = alarm == 1 ? SimReg::Alarm1Value : SimReg::Alarm2Value;
    writeHr(m, alarm == 1 ? SimReg::Alarm1Type : SimReg::Alarm2Type, type);
    writeHr(m, base, value);
    writeHr(m, base + 1, hysteresis);
    writeHr(m, base + 2, delay);
    const int point = alarm == 1 ? SimReg::Alarm1Output : SimReg::Alarm2Output;
    const int other = alarm == 1 ? SimReg::Alarm2Output : SimReg::Alarm1Output;

    m.pinTemperature(normal);
    m.advance(3.0);
    QVERIFY(!m.discreteInput(point));

    m.pinTemperature(alarming);
    if (delay > 0) {
        m.advance(delay - 1.0);
        QVERIFY2(!m.discreteInput(point), "raised before its delay");
    }
    m.advance(1.5);
    QVERIFY2(m.discreteInput(point), "not raised after its delay");
    QVERIFY(!m.discreteInput(other));

    m.pinTemperature(withinHysteresis);
    m.advance(3.0);
    QVERIFY2(m.discreteInput(point), "cleared inside the hysteresis");

    m.pinTemperature(clear);
    m.advance(1.0);
    QVERIFY2(!m.discreteInput(point), "not cleared beyond the hysteresis");
}

void TestSimModel::alarmDelayRestartsWhenConditionLapses()
{
    SimInstrument m;
    m.setNoise(0.0);
    writeHr(m, SimReg::Filter, 1);
    writeHr(m, SimReg::Alarm1Delay, 10);
    for (int round = 0; round < 3; ++round) {
        m.pinTemperature(160.0);
        m.advance(8.0);
        m.pinTemperature(140.0);
        m.advance(1.0);
    }
    QVERIFY(!m.discreteInput(SimReg::Alarm1Output));
    m.pinTemperature(160.0);
    m.advance(11.0);
    QVERIFY(m.discreteInput(SimReg::Alarm1Output));

    // Type 0 is no alarm, whatever the PV.
    writeHr(m, SimReg::Alarm1Type, 0);
    m.advance(1.0);
    QVERIFY(!m.discreteInput(SimReg::Alarm1Output));
}

void TestSimModel::heaterBreakAlarm()
{
    // Alarm 2 watches the heater current on the second input (0..100 for 0..100 % output).
    SimInstrument m;
    m.setNoise(0.0);
    writeHr(m, SimReg::Alarm2Type, 6);
    writeHr(m, SimReg::Alarm2Value, 10);
    writeHr(m, SimReg::Alarm2Hysteresis, 5);
    writeHr(m, SimReg::Alarm2Delay, 2);
    writeCoil(m, SimReg::Automatic, false);
    writeHr(m, SimReg::ManualOutput, 500);
    m.advance(5.0);
    QCOMPARE(m.input(SimReg::Aux), 50);
    QVERIFY(!m.discreteInput(SimReg::Alarm2Output));

    m.setHeaterBroken(true);
    m.advance(1.0);
    QCOMPARE(m.input(SimReg::Aux), 0);
    QVERIFY(!m.discreteInput(SimReg::Alarm2Output));
    m.advance(2.0);
    QVERIFY(m.discreteInput(SimReg::Alarm2Output));

    // With the output off no current is expected: no alarm.
    writeHr(m, SimReg::ManualOutput, 0);
    m.advance(1.0);
    QVERIFY(!m.discreteInput(SimReg::Alarm2Output));

    writeHr(m, SimReg::ManualOutput, 500);
    m.setHeaterBroken(false);
    m.advance(5.0);
    QVERIFY(!m.discreteInput(SimReg::Alarm2Output));
}

void TestSimModel::sensorFaults_data()
{
    QTest::addColumn<int>("fault"); // SimInstrument::SensorFault
    QTest::addColumn<int>("handling");
    QTest::addColumn<int>("pv");
    QTest::addColumn<int>("openPoint");
    QTest::addColumn<int>("shortPoint");
    QTest::addColumn<bool>("holds");

    using F = SimInstrument::SensorFault;
    QTest::newRow("open, to preset") << int(F::Open) << 0 << 1300 << 1 << 0 << false;
    QTest::newRow("short, to preset") << int(F::Short) << 0 << 0 << 0 << 1 << false;
    QTest::newRow("open, hold output") << int(F::Open) << 1 << 1300 << 1 << 0 << true;
}

void TestSimModel::sensorFaults()
{
    QFETCH(int, fault);
    QFETCH(int, handling);
    QFETCH(int, pv);
    QFETCH(int, openPoint);
    QFETCH(int, shortPoint);
    QFETCH(bool, holds);

    SimInstrument m;
    writeHr(m, SimReg::FaultPreset, 250);
    writeHr(m, SimReg::FaultHandling, handling);
    m.advance(900.0);
    const int before = m.input(SimReg::Op);
    QVERIFY(before > 0 && before != 250);

    m.setSensorFault(SimInstrument::SensorFault(fault));
    m.advance(60.0);
    QCOMPARE(m.input(SimReg::Pv), pv);
    QCOMPARE(int(m.discreteInput(SimReg::SensorOpen)), openPoint);
    QCOMPARE(int(m.discreteInput(SimReg::SensorShort)), shortPoint);
    QCOMPARE(m.input(SimReg::Op), holds ? before : 250);

    m.setSensorFault(SimInstrument::SensorFault::None);
    m.advance(1.0);
    QVERIFY(!m.discreteInput(SimReg::SensorOpen) && !m.discreteInput(SimReg::SensorShort));
    QVERIFY(std::abs(m.input(SimReg::Pv) - m.temperature()) < 3.0);
    const Response r = follow(m, 100, 900.0);
    QVERIFY(r.settled >= 0.0);
}

void TestSimModel::selfTuneFinishesAndClearsCoil()
{
    SimInstrument m;
    writeHr(m, SimReg::Band1, 300); // sluggish on purpose
    writeHr(m, SimReg::IntegralTime, 1000);
    writeHr(m, SimReg::DerivativeTime, 0);
    m.advance(1200.0);
    writeCoil(m, SimReg::SelfTune, true);
    const double start = m.simulatedTime();
    int cycles = 0;
    while (m.coil(SimReg::SelfTune) && m.simulatedTime() - start < SimInstrument::kTuneTimeout) {
        m.advance(5.0);
        cycles = std::max<int>(cycles, m.input(SimReg::TuneCycles));
    }
    const double took = m.simulatedTime() - start;
    QVERIFY2(!m.coil(SimReg::SelfTune), "self-tune never ended");
    QVERIFY2(took < 1200.0, qPrintable(QString::number(took)));
    QVERIFY(cycles >= 3);
    QCOMPARE(m.input(SimReg::TuneCycles), 0);

    // The relay test measures this process: period about 100 s, so the new
    // settings land near the defaults and well away from the sluggish ones.
    const int band = m.holding(SimReg::Band1);
    const int ti = m.holding(SimReg::IntegralTime);
    const int td = m.holding(SimReg::DerivativeTime);
    QVERIFY2(band >= 10 && band <= 100, qPrintable(QString::number(band)));
    QVERIFY2(ti >= 60 && ti <= 600, qPrintable(QString::number(ti)));
    QVERIFY2(td >= 50 && td <= 500, qPrintable(QString::number(td)));

    writeHr(m, SimReg::Sv, 200);
    const Response r = follow(m, 200, 900.0);
    QVERIFY2(r.settled >= 0.0 && r.settled <= 600.0, qPrintable(QString::number(r.settled)));
    QVERIFY2(r.overshoot <= 10.0, qPrintable(QString::number(r.overshoot)));
}

void TestSimModel::selfTuneAbortsInManual()
{
    SimInstrument m;
    m.advance(600.0);
    const int band = m.holding(SimReg::Band1);
    writeCoil(m, SimReg::SelfTune, true);
    m.advance(30.0);
    QVERIFY(m.coil(SimReg::SelfTune));
    writeCoil(m, SimReg::Automatic, false);
    m.advance(1.0);
    QVERIFY(!m.coil(SimReg::SelfTune));
    QCOMPARE(m.holding(SimReg::Band1), band);

    // Clearing the coil stops a running tune as well.
    writeCoil(m, SimReg::Automatic, true);
    writeCoil(m, SimReg::SelfTune, true);
    m.advance(30.0);
    writeCoil(m, SimReg::SelfTune, false);
    QVERIFY(!m.tuning());
}

void TestSimModel::groupedOutput_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("segment");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("op"); // tenths

    // Rows: up to 130 limits 30 %, up to 260 limits 45.5 %, 390 uses the
    // main parameters, everything above lands in row 10.
    QTest::newRow("row 1") << 50.0 << 1 << 1 << 300;
    QTest::newRow("at a row's temperature") << 130.0 << 1 << 1 << 300;
    QTest::newRow("row 2") << 200.0 << 2 << 1 << 455;
    QTest::newRow("group 0 is the main set") << 300.0 << 3 << 0 << 0;
    QTest::newRow("above every row") << 1250.0 << 10 << 5 << 0;
}

void TestSimModel::groupedOutput()
{
    QFETCH(double, celsius);
    QFETCH(int, segment);
    QFETCH(int, group);
    QFETCH(int, op);

    using SimReg::segmentField;
    SimInstrument m;
    m.setNoise(0.0);
    writeHr(m, segmentField(1, 2), 300);
    writeHr(m, segmentField(1, 3), 300);
    writeHr(m, segmentField(2, 2), 455);
    writeHr(m, segmentField(2, 3), 455);
    writeHr(m, segmentField(3, 4), 0);
    writeHr(m, segmentField(10, 1), 1000);
    writeHr(m, SimReg::Grouping, 1);
    m.pinTemperature(celsius);
    m.advance(60.0); // long enough for the filtered PV to reach the temperature exactly
    QCOMPARE(m.input(SimReg::ActiveSegment), segment);
    QCOMPARE(m.input(SimReg::ActiveGroup), group);
    QCOMPARE(m.input(SimReg::Op), op); // SV 100 is below these PVs: the lower limit holds

    writeHr(m, SimReg::Grouping, 0);
    m.advance(1.0);
    QCOMPARE(m.input(SimReg::ActiveSegment), 0);
}

void TestSimModel::writeLimits_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("exception");

    QTest::newRow("SV top") << 1 << 9999 << 0;
    QTest::newRow("SV above") << 1 << 10000 << 3;
    QTest::newRow("SV bottom") << 1 << -1999 << 0;
    QTest::newRow("SV below") << 1 << -2000 << 3;
    QTest::newRow("manual output 100 %") << 2 << 1000 << 0;
    QTest::newRow("manual output 100.1 %") << 2 << 1001 << 3;
    QTest::newRow("alarm delay 600") << 259 << 600 << 0;
    QTest::newRow("alarm delay 601") << 262 << 601 << 3;
    QTest::newRow("break output negative") << 264 << -1 << 3;
    QTest::newRow("input type 29") << 4097 << 29 << 3;
    QTest::newRow("filter 0") << 4101 << 0 << 3;
    QTest::newRow("filter 11") << 4101 << 11 << 0;
    QTest::newRow("offset -500") << 4102 << -500 << 0;
    QTest::newRow("offset 501") << 4102 << 501 << 3;
    QTest::newRow("alarm type 7") << 4115 << 7 << 3;
    QTest::newRow("comm address 0") << 4116 << 0 << 3;
    QTest::newRow("comm address 255") << 4116 << 255 << 0;
    QTest::newRow("derivative 999.9") << 4129 << 9999 << 0;
    QTest::newRow("output clamp 100.1") << 4132 << 1001 << 3;
    QTest::newRow("fault handling 2") << 4135 << 2 << 3;
    QTest::newRow("config spare") << 4136 << 0 << 2;
    QTest::newRow("grouping 2") << 4609 << 2 << 3;
    QTest::newRow("segment temperature") << 4610 << -150 << 0;
    QTest::newRow("segment upper 100.1") << 4611 << 1001 << 3;
    QTest::newRow("segment group 0") << 4613 << 0 << 0;
    QTest::newRow("segment group 6") << 4649 << 6 << 3;
    QTest::newRow("segment spare") << 4650 << 0 << 2;
    QTest::newRow("group 1 band") << 5121 << 9999 << 0;
    QTest::newRow("group 1 spare offset") << 5122 << 0 << 2;
    QTest::newRow("group 2 integral 5001") << 5129 << 5001 << 3;
    QTest::newRow("group 5 derivative") << 5148 << 35 << 0;
    QTest::newRow("group spare") << 5151 << 0 << 2;
    QTest::newRow("unmapped 3") << 3 << 0 << 2;
    QTest::newRow("unmapped 4096") << 4096 << 0 << 2;
}

void TestSimModel::writeLimits()
{
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(int, exception);

    SimInstrument m;
    const qint16 before = m.holding(reg);
    const qint16 v = qint16(value);
    QCOMPARE(int(m.writeRegisters(reg, std::span(&v, 1))), exception);
    QCOMPARE(m.holding(reg), exception == 0 ? v : before);
}

void TestSimModel::rejectedMultiWriteChangesNothing()
{
    SimInstrument m;
    const qint16 values[] = {120, 3, 9000}; // the delay is out of range
    QCOMPARE(m.writeRegisters(SimReg::Alarm1Value, values), SimException::IllegalValue);
    QCOMPARE(m.holding(SimReg::Alarm1Value), qint16(150));
    QCOMPARE(m.holding(SimReg::Alarm1Hysteresis), qint16(2));

    const qint16 spanning[] = {1, 0}; // 4135 then the spare 4136
    QCOMPARE(m.writeRegisters(SimReg::FaultHandling, spanning), SimException::IllegalAddress);
    QCOMPARE(m.holding(SimReg::FaultHandling), qint16(0));

    const bool coils[] = {false, false, false, false};
    QCOMPARE(m.writeCoils(1, coils), SimException::IllegalAddress);
    QVERIFY(m.coil(SimReg::Automatic));
}

void TestSimModel::readBlocks_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exception");

    const int hr = int(SimTable::HoldingRegisters);
    const int ir = int(SimTable::InputRegisters);
    // Every block the station reads.
    QTest::newRow("inputs 1-8") << ir << 1 << 8 << 0;
    QTest::newRow("coils 1-16") << int(SimTable::Coils) << 1 << 16 << 0;
    QTest::newRow("discrete inputs 1-16") << int(SimTable::DiscreteInputs) << 1 << 16 << 0;
    QTest::newRow("257-264") << hr << 257 << 8 << 0;
    QTest::newRow("4114-4121") << hr << 4114 << 8 << 0;
    for (int first = 4097; first <= 4129; first += 8)
        QTest::addRow("%d-%d", first, first + 7) << hr << first << 8 << 0;
    for (int first : {4609, 4625, 4641, 5121, 5137})
        QTest::addRow("%d-%d", first, first + 15) << hr << first << 16 << 0;
    QTest::newRow("SV and manual output") << hr << 1 << 2 << 0;
    // Reaching past a block.
    QTest::newRow("inputs 1-9") << ir << 1 << 9 << 2;
    QTest::newRow("input 9") << ir << 9 << 1 << 2;
    QTest::newRow("coils 1-17") << int(SimTable::Coils) << 1 << 17 << 2;
    QTest::newRow("1-3") << hr << 1 << 3 << 2;
    QTest::newRow("256-263") << hr << 256 << 8 << 2;
    QTest::newRow("4130-4137") << hr << 4130 << 8 << 2;
    QTest::newRow("5145-5160") << hr << 5145 << 16 << 2;
    QTest::newRow("across two blocks") << hr << 4097 << 600 << 2;
}

void TestSimModel::readBlocks()
{
    QFETCH(int, table);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(int, exception);

    SimInstrument m;
    std::vector<quint16> out(std::size_t(count), 0xDEAD);
    QCOMPARE(int(m.read(SimTable(table), first, count, out)), exception);
    if (table == int(SimTable::Coils) && exception == 0)
        QCOMPARE(out, (std::vector<quint16>{0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

void TestSimModel::requests_data()
{
    QTest::addColumn<QByteArray>("request"); // PDU, hex
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("read SV") << QByteArray("03 0000 0001") << QByteArray("03 02 00 64");
    QTest::newRow("read range limits") << QByteArray("03 1002 0002") << QByteArray("03 04 05 14 00 00");
    QTest::newRow("read coils as a word") << QByteArray("01 0000 0010") << QByteArray("01 02 06 00");
    QTest::newRow("read discrete inputs") << QByteArray("02 0000 0010") << QByteArray("02 02 00 00");
    QTest::newRow("read input 9") << QByteArray("04 0008 0001") << QByteArray("84 02");
    QTest::newRow("read nothing") << QByteArray("03 0000 0000") << QByteArray("83 03");
    QTest::newRow("read 126 registers") << QByteArray("03 0000 007e") << QByteArray("83 03");
    QTest::newRow("truncated read") << QByteArray("03 0000") << QByteArray("83 03");
    QTest::newRow("unknown function") << QByteArray("2b 0e 01 00") << QByteArray("ab 01");
    QTest::newRow("coil value neither on nor off") << QByteArray("05 0001 1234") << QByteArray("85 03");
    QTest::newRow("coil 4 is not writable") << QByteArray("05 0003 ff00") << QByteArray("85 02");
    QTest::newRow("manual permission off") << QByteArray("05 0002 0000") << QByteArray("05 00 02 00 00");
    QTest::newRow("write SV 9999") << QByteArray("06 0000 270f") << QByteArray("06 00 00 27 0f");
    QTest::newRow("write SV 10000") << QByteArray("06 0000 2710") << QByteArray("86 03");
    QTest::newRow("write negative range") << QByteArray("06 1003 ff6a") << QByteArray("06 10 03 ff 6a");
    QTest::newRow("write two alarm settings")
        << QByteArray("10 0100 0002 04 0064 0005") << QByteArray("10 01 00 00 02");
    QTest::newRow("byte count disagrees") << QByteArray("10 0100 0002 03 0064 00") << QByteArray("90 03");
    QTest::newRow("write onto the spare") << QByteArray("10 1027 0001 02 0000") << QByteArray("90 02");
    QTest::newRow("write coils 1-3") << QByteArray("0f 0000 0003 01 06") << QByteArray("0f 00 00 00 03");
    QTest::newRow("write 4 coils") << QByteArray("0f 0000 0004 01 06") << QByteArray("8f 02");
}

void TestSimModel::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    SimInstrument m;
    const QByteArray pdu = QByteArray::fromHex(request);
    std::array<quint8, kSimMaxPdu> out{};
    const int n = simHandleRequest(m, bytesOf(pdu), false, out);
    QCOMPARE(hex(std::span<const quint8>(out.data(), std::size_t(n))), reply);
}

void TestSimModel::broadcastWriteIsCarriedOutSilently()
{
    SimInstrument m;
    std::array<quint8, kSimMaxPdu> out{};
    QCOMPARE(simHandleRequest(m, bytesOf(QByteArray::fromHex("06 0000 00c8")), true, out), 0);
    QCOMPARE(m.holding(SimReg::Sv), qint16(200));
    QCOMPARE(simHandleRequest(m, bytesOf(QByteArray::fromHex("03 0000 0001")), true, out), 0);
    QCOMPARE(simHandleRequest(m, bytesOf(QByteArray::fromHex("06 0000 2710")), true, out), 0);
    QCOMPARE(m.holding(SimReg::Sv), qint16(200));
}

void TestSimModel::crc()
{
    const QByteArray frame = QByteArray::fromHex("01 03 00 00 00 0a");
    QCOMPARE(simCrc16(bytesOf(frame)), quint16(0xCDC5)); // on the wire: c5 cd
    QCOMPARE(withCrc("01 03 00 00 00 01").toHex(' '), QByteArray("01 03 00 00 00 01 84 0a"));
}

void TestSimModel::framer_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks"); // fed one after another; "|" marks a silence
    QTest::addColumn<QList<QByteArray>>("frames");

    const QByteArray readSv = withCrc("01 03 0000 0001");
    const QByteArray readIr = withCrc("01 04 0000 0008");
    const QByteArray writeTwo = withCrc("01 10 0100 0002 04 0064 0005");
    const QByteArray otherSlave = withCrc("02 03 0000 0001");
    const QByteArray unknown = withCrc("01 2b 0e 01 00");
    QByteArray badCrc = readSv;
    badCrc[7] = char(badCrc[7] ^ 0x01);
    const QByteArray silence("|");

    QTest::newRow("whole") << QList<QByteArray>{readSv} << QList<QByteArray>{readSv};
    QTest::newRow("split in three") << QList<QByteArray>{writeTwo.left(3), writeTwo.mid(3, 5), writeTwo.mid(8)}
                                    << QList<QByteArray>{writeTwo};
    QTest::newRow("two in one read") << QList<QByteArray>{readSv + readIr} << QList<QByteArray>{readSv, readIr};
    QTest::newRow("another slave's, then ours")
        << QList<QByteArray>{otherSlave, readSv} << QList<QByteArray>{otherSlave, readSv};
    QTest::newRow("bad CRC, silence, good") << QList<QByteArray>{badCrc, silence, readSv} << QList<QByteArray>{readSv};
    QTest::newRow("junk glued to a frame is dropped up to the silence")
        << QList<QByteArray>{QByteArray::fromHex("00 ff 13") + readSv, silence, readIr} << QList<QByteArray>{readIr};
    QTest::newRow("half a frame, silence, whole")
        << QList<QByteArray>{readSv.left(5), silence, readSv} << QList<QByteArray>{readSv};
    QTest::newRow("longer than any frame")
        << QList<QByteArray>{QByteArray(300, '\x01'), readSv, silence, readIr} << QList<QByteArray>{readIr};
    QTest::newRow("byte count beyond the buffer")
        << QList<QByteArray>{QByteArray::fromHex("01 10 0000 007f fe") + QByteArray(100, '\0'), silence, readSv}
        << QList<QByteArray>{readSv};
    QTest::newRow("unknown function ends at the silence")
        << QList<QByteArray>{unknown, silence} << QList<QByteArray>{unknown};
}

void TestSimModel::framer()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, frames);

    SimRtuFramer framer;
    QList<QByteArray> got;
    auto collect = [&got](const SimRtuFramer::Frame& f) {
        got.append(QByteArray(reinterpret_cast<const char*>(f.bytes.data()), f.length));
    };
    for (const QByteArray& chunk : chunks) {
        if (chunk == "|") {
            if (auto f = framer.lineIdle())
                collect(*f);
            continue;
        }
        framer.feed(bytesOf(chunk));
        while (auto f = framer.take())
            collect(*f);
    }
    QCOMPARE(got, frames);
}

QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_sim_model.moc"
