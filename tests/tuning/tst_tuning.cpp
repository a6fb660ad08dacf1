// Identification, tuning rules, their reading by the simulated instrument,
// the step test's writes, and the history period behind the command line.

#include "FopdtFit.h"
#include "HistoryPeriod.h"
#include "PidRules.h"
#include "SimInstrument.h"
#include "StationClock.h"
#include "StepTest.h"
#include "TuneCommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A first-order-plus-dead-time process integrated finely (not with the
// fit's own discretisation), sampled every second with Gaussian noise.
struct Synthetic {
    std::vector<double> pv;
    std::vector<double> op;
};

Synthetic makeData(const FopdtModel& m, int samples, double startPv,
                   const std::vector<std::pair<double, double>>& opSteps, double noise, bool quantise = false,
                   quint32 seed = 7)
{
    constexpr double h = 0.01;
    QRandomGenerator rng(seed);
    auto opAt = [&](double t) {
        double u = opSteps.front().second;
        for (const auto& [at, value] : opSteps)
            if (t >= at)
                u = value;
        return u;
    };
    Synthetic d;
    double y = startPv;
    double t = 0.0;
    for (int k = 0; k < samples; ++k) {
        const double sampleTime = k;
        while (t < sampleTime - 1e-9) {
            y += h * (m.gain * opAt(t - m.deadTime) - y) / m.timeConstant;
            t += h;
        }
        // Box-Muller.
        const double u1 = std::max(rng.generateDouble(), 1e-12);
        const double g = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * rng.generateDouble());
        const double measured = y + noise * g;
        d.pv.push_back(quantise ? std::round(measured) : measured);
        d.op.push_back(opAt(sampleTime));
    }
    return d;
}

class RecordingWriter : public InstrumentWriter {
public:
    void write(const WriteRequest& r, const QString& why, Done done) override
    {
        QVERIFY(!why.isEmpty());
        const bool lost = lose > 0;
        lose -= lost ? 1 : 0;
        calls.append(QStringLiteral("%1 %2 %3")
                         .arg(r.fn == WriteFn::Set_4X_D1     ? "hr"
                              : r.fn == WriteFn::Set_0X_Bit1 ? "coil-on"
                                                             : "coil-off")
                         .arg(r.address)
                         .arg(r.fn == WriteFn::Set_4X_D1 ? QString::number(r.value) : QString())
                         .trimmed()
                     + (lost ? QStringLiteral(" lost") : QString()));
        done(!lost);
    }
    QStringList calls;
    int lose = 0; // the next this many writes go unanswered
};

} // namespace

class TestTuning : public QObject {
    Q_OBJECT
private slots:
    void fitRecoversModel_data();
    void fitRecoversModel();
    void fitRefuses_data();
    void fitRefuses();
    void fitRefusesUntrustedData_data();
    void fitRefusesUntrustedData();
    void instrumentRegisters_data();
    void instrumentRegisters();
    void simulatorReadsBandAsGain();
    void suggestionsControlTheSimulator_data();
    void suggestionsControlTheSimulator();
    void stepTestWrites_data();
    void stepTestWrites();
    void stepTestRefusesUnsafeStart();
    void stepTestRestoreAndManualFromAnswers_data();
    void stepTestRestoreAndManualFromAnswers();
    void historyPeriodAndCommand();
};

void TestTuning::fitRecoversModel_data()
{
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("tau");
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("startPv");
    QTest::addColumn<double>("noise");
    QTest::addColumn<bool>("quantise");

    QTest::newRow("heater, settled") << 5.0 << 300.0 << 10.0 << 0.0 << 0.3 << false;
    QTest::newRow("cooling, negative gain") << -2.0 << 60.0 << 4.0 << 0.0 << 0.1 << false;
    QTest::newRow("dead time between samples") << 1.5 << 120.0 << 25.5 << 0.0 << 0.2 << false;
    QTest::newRow("start still falling") << 3.0 << 200.0 << 15.0 << 120.0 << 0.2 << false;
    QTest::newRow("whole units, as the instrument reports") << 5.0 << 300.0 << 10.0 << 40.0 << 0.1 << true;
    QTest::newRow("no dead time") << 4.0 << 90.0 << 0.0 << 0.0 << 0.2 << false;
}

void TestTuning::fitRecoversModel()
{
    QFETCH(double, gain);
    QFETCH(double, tau);
    QFETCH(double, theta);
    QFETCH(double, startPv);
    QFETCH(double, noise);
    QFETCH(bool, quantise);
    // Up 10 % at 30 s, back down by 4 % after 2.5 τ: two steps, 4 τ of record.
    // A start PV of 0 means settled (K·20 %); any other is a free response.
    const int n = int(4.0 * tau) + 60;
    const Synthetic d = makeData({gain, tau, theta}, n, startPv == 0.0 ? gain * 20.0 : startPv,
                                 {{-1e9, 20.0}, {30.0, 30.0}, {30.0 + 2.5 * tau, 26.0}}, noise, quantise);
    const FopdtFit f = Fopdt::fit(d.pv, d.op, 1.0);
    const QString got = QStringLiteral("K=%1 tau=%2 theta=%3 R2=%4")
                            .arg(f.model.gain)
                            .arg(f.model.timeConstant)
                            .arg(f.model.deadTime)
                            .arg(f.r2);
    QVERIFY2(f.usable(), qPrintable(got + QLatin1Char(' ') + Fopdt::verdictText(f.verdict)));
    QVERIFY2(std::abs(f.model.gain - gain) <= 0.05 * std::abs(gain), qPrintable(got));
    QVERIFY2(std::abs(f.model.timeConstant - tau) <= 0.05 * tau, qPrintable(got));
    QVERIFY2(std::abs(f.model.deadTime - theta) <= 1.0, qPrintable(got));
    QCOMPARE(f.modelPv.size(), d.pv.size());
    QVERIFY(std::abs(f.residualRms - (quantise ? std::hypot(noise, 0.29) : noise)) < 0.5 * noise + 0.1);
}

void TestTuning::fitRefuses_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("stepAt");
    QTest::addColumn<double>("noise");
    QTest::addColumn<int>("verdict");

    using V = FopdtFit::Verdict;
    QTest::newRow("step lost in noise") << 600 << 0.2 << 30.0 << 1.0 << int(V::SmallStep);
    QTest::newRow("output never moves") << 600 << 0.0 << 30.0 << 0.3 << int(V::NoInputChange);
    QTest::newRow("too short") << 15 << 10.0 << 3.0 << 0.3 << int(V::TooFewSamples);
    // The step comes so late that the record is mostly noise around a level.
    QTest::newRow("step at the very end") << 1000 << 8.0 << 940.0 << 0.5 << int(V::PoorFit);
}

void TestTuning::fitRefuses()
{
    QFETCH(int, samples);
    QFETCH(double, step);
    QFETCH(double, stepAt);
    QFETCH(double, noise);
    QFETCH(int, verdict);
    const Synthetic d = makeData({5.0, 300.0, 10.0}, samples, 100.0, {{-1e9, 20.0}, {stepAt, 20.0 + step}}, noise);
    const FopdtFit f = Fopdt::fit(d.pv, d.op, 1.0);
    QVERIFY2(int(f.verdict) == verdict, qPrintable(QStringLiteral("verdict %1, R2 %2, span %3, rms %4")
                                                       .arg(int(f.verdict))
                                                       .arg(f.r2)
                                                       .arg(f.responseSpan)
                                                       .arg(f.residualRms)));
    QVERIFY(!f.usable());
}

// Records that look fittable but would give a wrong model, as the station
// can come by them: rows repeated while the link was lost, a record far
// shorter than the response, a step of a few PV units, a dead time longer
// than a third of the record.
void TestTuning::fitRefusesUntrustedData_data()
{
    QTest::addColumn<double>("theta");
    QTest::addColumn<int>("samples");
    QTest::addColumn<double>("step");
    QTest::addColumn<bool>("stale"); // rows 60..120 repeat row 59
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("says");

    using V = FopdtFit::Verdict;
    QTest::newRow("stale stretch") << 10.0 << 900 << 10.0 << true << int(V::StaleStretch) << "不变后PV跳变";
    QTest::newRow("30 s record") << 10.0 << 50 << 40.0 << false << int(V::TooShort) << "至少需要";
    QTest::newRow("step of the PV's resolution") << 10.0 << 900 << 0.4 << false << int(V::BelowResolution) << "分辨率";
    QTest::newRow("dead time beyond the window")
        << 400.0 << 900 << 10.0 << false << int(V::DeadTimeAtLimit) << "纯滞后";
}

void TestTuning::fitRefusesUntrustedData()
{
    QFETCH(double, theta);
    QFETCH(int, samples);
    QFETCH(double, step);
    QFETCH(bool, stale);
    QFETCH(int, verdict);
    // Whole PV units as the instrument reports them; the step 20 s in.
    Synthetic d = makeData({5.0, 300.0, theta}, samples, 100.0, {{-1e9, 20.0}, {20.0, 20.0 + step}}, 0.3, true);
    if (stale)
        for (std::size_t k = 60; k <= 120; ++k) {
            d.pv[k] = d.pv[59];
            d.op[k] = d.op[59];
        }
    const FopdtFit f = Fopdt::fit(d.pv, d.op, 1.0);
    QVERIFY2(int(f.verdict) == verdict, qPrintable(QStringLiteral("verdict %1 K %2 tau %3 theta %4 R2 %5")
                                                       .arg(int(f.verdict))
                                                       .arg(f.model.gain)
                                                       .arg(f.model.timeConstant)
                                                       .arg(f.model.deadTime)
                                                       .arg(f.r2)));
    QVERIFY(!f.usable());
    QFETCH(QString, says);
    QVERIFY2(Fopdt::verdictText(f).contains(says), qPrintable(Fopdt::verdictText(f)));
}

void TestTuning::instrumentRegisters_data()
{
    QTest::addColumn<double>("kc");
    QTest::addColumn<double>("ti");
    QTest::addColumn<double>("td");
    QTest::addColumn<int>("band");
    QTest::addColumn<int>("integral");
    QTest::addColumn<int>("derivativeTenths");
    QTest::addColumn<bool>("clamped");

    QTest::newRow("plain") << 2.0 << 120.4 << 7.46 << 50 << 120 << 75 << false;
    QTest::newRow("PI") << 1.5 << 80.0 << 0.0 << 67 << 80 << 0 << false;
    // A band of 0 would switch to on/off control, an integral time of 0 off the integral.
    QTest::newRow("huge gain stays PID") << 500.0 << 0.2 << 0.0 << 1 << 1 << 0 << true;
    QTest::newRow("tiny gain, long times") << 0.001 << 1e6 << 2000.0 << 9999 << 5000 << 9999 << true;
    QTest::newRow("on the upper bounds") << 100.0 / 9999 << 5000.0 << 999.9 << 9999 << 5000 << 9999 << false;
}

void TestTuning::instrumentRegisters()
{
    QFETCH(double, kc);
    QFETCH(double, ti);
    QFETCH(double, td);
    const InstrumentPid p = InstrumentPid::fromSettings({kc, ti, td});
    QTEST(int(p.band), "band");
    QTEST(int(p.integral), "integral");
    QTEST(int(p.derivativeTenths), "derivativeTenths");
    QTEST(p.clamped, "clamped");
    QVERIFY(p.settings().has_value());
    QVERIFY(!(InstrumentPid{0, 120, 0, false}).settings().has_value());
}

// The band is read as Kc = 100 / band percent per unit: with the integral
// and derivative off, the output is Kc times the error.
void TestTuning::simulatorReadsBandAsGain()
{
    SimInstrument m;
    m.setNoise(0.0);
    const InstrumentPid p = InstrumentPid::fromSettings({2.5, 1.0, 0.0});
    QCOMPARE(p.band, 40);
    const qint16 regs[] = {qint16(p.band)};
    QCOMPARE(m.writeRegisters(InstrumentPid::kBandRegister, regs), SimException::None);
    const qint16 off[] = {0, 0};
    QCOMPARE(m.writeRegisters(InstrumentPid::kIntegralRegister, off), SimException::None);
    m.pinTemperature(90.0);
    m.advance(30.0);                    // the input filter has long converged
    QCOMPARE(m.input(SimReg::Op), 250); // 2.5 %/unit x (100 - 90) units, in tenths
}

void TestTuning::suggestionsControlTheSimulator_data()
{
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("tau");
    QTest::addColumn<double>("theta");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("speed");
    const int pid = int(ControllerKind::PID), pi = int(ControllerKind::PI);
    const int robust = int(TuningSpeed::Robust), fast = int(TuningSpeed::Fast);
    QTest::newRow("default plant, PID robust") << 5.0 << 300.0 << 10.0 << pid << robust;
    QTest::newRow("default plant, PI robust") << 5.0 << 300.0 << 10.0 << pi << robust;
    // τc = θ is the fast choice: on a lag-dominant plant its set-value step
    // overshoots about 15 %, so it is held to 20 % here.
    QTest::newRow("default plant, PID fast") << 5.0 << 300.0 << 10.0 << pid << fast;
    QTest::newRow("dead time heavy, PID robust") << 2.0 << 100.0 << 20.0 << pid << robust;
    QTest::newRow("slow, low gain, PID robust") << 0.8 << 200.0 << 15.0 << pid << robust;
    QTest::newRow("dead time heavy, PI robust") << 2.0 << 100.0 << 20.0 << pi << robust;
}

// The SIMC settings for the true plant, written as registers, give a
// set-value step of 20 units with at most 10 % overshoot that settles
// within ±1 unit: the conversion agrees with how the instrument computes.
void TestTuning::suggestionsControlTheSimulator()
{
    QFETCH(double, gain);
    QFETCH(double, tau);
    QFETCH(double, theta);
    QFETCH(int, kind);
    QFETCH(int, speed);
    SimInstrument m(3, SimPlant{gain, tau, theta});
    const auto s = Simc::suggest({gain, tau, theta}, ControllerKind(kind), TuningSpeed(speed));
    QVERIFY(s);
    const InstrumentPid p = InstrumentPid::fromSettings(*s);
    const qint16 regs[] = {qint16(p.band), qint16(p.band), qint16(p.integral), qint16(p.derivativeTenths)};
    QCOMPARE(m.writeRegisters(InstrumentPid::kBandRegister, regs), SimException::None);

    // Settle at 25 + K·20 % in automatic, then step SV by 20.
    const int sv0 = int(std::lround(SimInstrument::kAmbient + gain * 20.0));
    const qint16 sv[] = {qint16(sv0)};
    QCOMPARE(m.writeRegisters(SimReg::Sv, sv), SimException::None);
    m.advance(20.0 * tau);
    QVERIFY(std::abs(m.input(SimReg::Pv) - sv0) <= 1);
    const qint16 sv1[] = {qint16(sv0 + 20)};
    QCOMPARE(m.writeRegisters(SimReg::Sv, sv1), SimException::None);
    int peak = 0;
    double lastOutside = 0.0;
    const double horizon = 40.0 * theta + 2.0 * tau;
    for (double t = 0.0; t < horizon; t += 1.0) {
        m.advance(1.0);
        const int pv = m.input(SimReg::Pv);
        peak = std::max(peak, pv);
        if (std::abs(pv - (sv0 + 20)) > 1)
            lastOutside = t;
    }
    const QString got = QStringLiteral("band %1 Ti %2 Td %3: peak %4 over %5, last outside ±1 at %6 s of %7")
                            .arg(p.band)
                            .arg(p.integral)
                            .arg(p.derivativeTenths / 10.0)
                            .arg(peak)
                            .arg(sv0 + 20)
                            .arg(lastOutside)
                            .arg(horizon);
    QVERIFY2(peak - (sv0 + 20) <= (speed == int(TuningSpeed::Fast) ? 4 : 2), qPrintable(got));
    QVERIFY2(lastOutside < horizon - 10.0 * theta, qPrintable(got));
}

void TestTuning::stepTestWrites_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<QString>("ending"); // finish, stop, band, link
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("reason");

    const int finished = int(StepTest::State::Finished), aborted = int(StepTest::State::Aborted);
    const QStringList fromAuto{"coil-off 2", "hr 2 153", "hr 2 253", "hr 2 153", "coil-on 2"};
    const QStringList fromManual{"hr 2 153", "hr 2 253", "hr 2 153"};
    QTest::newRow("auto, runs out") << true << "finish" << fromAuto << finished << int(StepTest::Abort::None);
    QTest::newRow("manual, runs out") << false << "finish" << fromManual << finished << int(StepTest::Abort::None);
    QTest::newRow("auto, stopped") << true << "stop" << fromAuto << aborted << int(StepTest::Abort::Stopped);
    QTest::newRow("auto, PV leaves band") << true << "band" << fromAuto << aborted << int(StepTest::Abort::OutOfBand);
    QTest::newRow("manual, link drops") << false << "link" << fromManual << aborted << int(StepTest::Abort::LinkLost);
    QTest::newRow("auto, stopped in baseline")
        << true << "early stop" << QStringList{"coil-off 2", "hr 2 153", "hr 2 153", "coil-on 2"} << aborted
        << int(StepTest::Abort::Stopped);
}

void TestTuning::stepTestWrites()
{
    QFETCH(bool, automatic);
    QFETCH(QString, ending);
    RecordingWriter writer;
    StepTest test(writer);
    StepTest::Settings s;
    s.stepPercent = 10.0;
    s.baselineS = 10.0;
    s.durationS = 100.0;
    s.bandLow = 50.0;
    s.bandHigh = 150.0;
    QVERIFY(test.start(s, {automatic, 15.3, 100.0}, 1000.0).isEmpty());
    QVERIFY(test.start(s, {automatic, 15.3, 100.0}, 1000.0) != QString()); // one at a time
    if (ending == QLatin1String("early stop")) {
        test.sample(1005.0, 100.0, 15.3, false);
        test.stop();
    } else {
        for (double t = 1000.5; test.running() && t < 1200.0; t += 0.5) {
            if (ending == QLatin1String("stop") && t > 1050.0)
                test.stop();
            else if (ending == QLatin1String("link") && t > 1050.0)
                test.linkLost();
            else
                test.sample(t, ending == QLatin1String("band") && t > 1050.0 ? 151.0 : 100.0 + (t - 1000.0) / 10.0,
                            15.3, false);
        }
    }
    QTEST(writer.calls, "writes");
    QTEST(int(test.state()), "state");
    QTEST(int(test.abortReason()), "reason");
    // Nothing more is written once the test has ended.
    const int before = writer.calls.size();
    test.stop();
    test.sample(2000.0, 100.0, 15.3, false);
    QCOMPARE(writer.calls.size(), before);
}

void TestTuning::stepTestRefusesUnsafeStart()
{
    RecordingWriter writer;
    StepTest test(writer);
    StepTest::Settings s;
    s.bandLow = 50.0;
    s.bandHigh = 150.0;
    s.stepPercent = 20.0;
    QVERIFY(!test.start(s, {true, 85.0, 100.0}, 0.0).isEmpty()); // 105 %
    s.stepPercent = -20.0;
    QVERIFY(!test.start(s, {true, 15.0, 100.0}, 0.0).isEmpty()); // -5 %
    s.stepPercent = 0.0;
    QVERIFY(!test.start(s, {true, 15.0, 100.0}, 0.0).isEmpty());
    s.stepPercent = 10.0;
    QVERIFY(!test.start(s, {true, 15.0, 160.0}, 0.0).isEmpty());                              // PV already outside
    QVERIFY(test.start(s, {true, 15.0, 100.0, false}, 0.0).contains(QStringLiteral("手动"))); // manual not permitted
    QVERIFY(writer.calls.isEmpty());
    QCOMPARE(test.state(), StepTest::State::Idle);
}

// What the instrument answered and what the reads show drive the test: the
// step waits for a read in manual, an unanswered restore is sent again at the
// next read that comes back, automatic returns once the output is read back.
void TestTuning::stepTestRestoreAndManualFromAnswers_data()
{
    QTest::addColumn<QString>("script"); // per sample "m" manual, "a" automatic, "L" lose the next write, "S" stop
    QTest::addColumn<QString>("op");     // output each sample shows, "held" or "stepped"
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("pending");

    using A = StepTest::Abort;
    // Stopped while stepped, the output restore lost: nothing is sent while
    // no read comes back; the first read that does resends it, once.
    QTest::newRow("restore lost, resent")
        << "mmmmmLS-mmm"
        << "stepped" << QStringList{"coil-off 2", "hr 2 153", "hr 2 253", "hr 2 153 lost", "hr 2 153"}
        << int(A::Stopped) << true;
    QTest::newRow("restore lost, then read back")
        << "mmmmmLS-mmm"
        << "held" << QStringList{"coil-off 2", "hr 2 153", "hr 2 253", "hr 2 153 lost", "hr 2 153", "coil-on 2"}
        << int(A::Stopped) << false;
    // The switch to manual went unanswered: no step, the test ends with the reason.
    QTest::newRow("manual switch lost") << "Lmmm"
                                        << "held" << QStringList{"coil-off 2 lost", "hr 2 153", "coil-on 2"}
                                        << int(A::WriteFailed) << false;
    // Answered, yet the reads stay automatic: the closed loop would be recorded.
    QTest::newRow("stays automatic") << "aaaaaaaaaaaaaaaaaaaaaaaa"
                                     << "held" << QStringList{"coil-off 2", "hr 2 153", "hr 2 153", "coil-on 2"}
                                     << int(A::NotManual) << false;
    QTest::newRow("put back to automatic")
        << "mmmmmma"
        << "held" << QStringList{"coil-off 2", "hr 2 153", "hr 2 253", "hr 2 153", "coil-on 2"} << int(A::NotManual)
        << false;
}

void TestTuning::stepTestRestoreAndManualFromAnswers()
{
    QFETCH(QString, script);
    QFETCH(QString, op);
    RecordingWriter writer;
    StepTest test(writer);
    StepTest::Settings s;
    s.baselineS = 2.0;
    s.bandLow = 50.0;
    s.bandHigh = 150.0;
    if (script.startsWith(u'L')) // the start's first write
        writer.lose = 1;
    QVERIFY(test.start(s, {true, 15.3, 100.0}, 0.0).isEmpty());
    double t = 0.0;
    for (const QChar c : script.mid(script.startsWith(u'L') ? 1 : 0)) {
        t += 1.0;
        if (c == u'L')
            writer.lose = 1;
        else if (c == u'S')
            test.stop();
        else if (c != u'-') // '-': a read that failed, nothing fed
            test.sample(t, 100.0, op == QLatin1String("held") || test.stepTime() > t ? 15.3 : 25.3, c == u'a');
    }
    QTEST(writer.calls, "writes");
    QTEST(int(test.abortReason()), "reason");
    QTEST(test.restorePending(), "pending");
    if (test.restorePending()) // a read showing the output restored lets automatic return; then nothing more
        for (int i = 0; i < 2; ++i)
            test.sample(t += 1.0, 100.0, 15.3, false);
    QVERIFY(!test.restorePending());
    QCOMPARE(writer.calls.last(), QStringLiteral("coil-on 2"));
    QVERIFY(!test.start(s, {true, 15.3, 100.0}, t).isEmpty() || test.running());
}

// A recorded period with a step, read back through the command line's path;
// a hole in the record and a missing file are refused without touching anything.
void TestTuning::historyPeriodAndCommand()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    const QDateTime t0(QDate(2026, 3, 1), QTime(23, 50, 0)); // crosses midnight
    const Synthetic d = makeData({5.0, 120.0, 6.0}, 900, 100.0, {{-1e9, 15.0}, {60.0, 25.0}}, 0.2, true);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table pv_data (w_id INTEGER, w_date REAL, w_time REAL, w_pv REAL, w_op "
                                      "REAL, w_sv REAL, w_aux REAL)")));
        db.transaction();
        QVERIFY(q.prepare(QStringLiteral("insert into pv_data values (?, ?, ?, ?, ?, 0, 0)")));
        for (int k = -1; k < 900; ++k) { // k = -1: the start-up row, zeros before the first reading
            if (k >= 800 && k < 820)
                continue; // the station was off for 20 s
            const OleStamp s = OleTime::fromDateTime(t0.addSecs(k));
            q.addBindValue(k + 1);
            q.addBindValue(s.date);
            q.addBindValue(s.time);
            q.addBindValue(k < 0 ? 0.0 : d.pv[std::size_t(k)]);
            q.addBindValue(k < 0 ? 0.0 : d.op[std::size_t(k)]);
            QVERIFY(q.exec());
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));

    QString error;
    const auto series = HistoryPeriod::read(path, t0.addSecs(10), t0.addSecs(700), &error);
    QVERIFY2(series, qPrintable(error));
    QCOMPARE(series->pv.size(), std::size_t(691));
    QCOMPARE(series->pv.front(), d.pv[10]);
    QCOMPARE(series->op.back(), 25.0);
    const auto fromStartUp = HistoryPeriod::read(path, t0.addSecs(-1), t0.addSecs(700), &error);
    QVERIFY(fromStartUp);
    QCOMPARE(fromStartUp->pv.front(), d.pv[0]);
    QCOMPARE(fromStartUp->pv.size(), std::size_t(701));
    QVERIFY(!HistoryPeriod::read(path, t0.addSecs(700), t0.addSecs(850), &error));
    QVERIFY(error.contains(QStringLiteral("中断")));

    auto run = [&](const QString& db, bool json, QString* out) {
        QString o, e;
        QTextStream os(&o);
        const int rc = TuneCommand::execute({db, t0.addSecs(10), t0.addSecs(700), json}, os, &e);
        *out = o + e;
        return rc;
    };
    QString out;
    QCOMPARE(run(path, true, &out), 0);
    const QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).object();
    QVERIFY2(std::abs(o.value("gain").toDouble() - 5.0) < 0.25, qPrintable(out));
    QVERIFY(std::abs(o.value("time_constant_s").toDouble() - 120.0) < 6.0);
    QVERIFY(std::abs(o.value("dead_time_s").toDouble() - 6.0) <= 1.0);
    QVERIFY(o.value("r2").toDouble() > 0.99);
    const QJsonObject pid = o.value("pid").toObject();
    QVERIFY(pid.value("proportional_band").toInt() >= 1);
    QVERIFY(pid.value("integral_time_s").toInt() >= 1);
    QVERIFY(pid.contains("derivative_time_s"));

    QCOMPARE(run(path, false, &out), 0);
    QVERIFY(out.contains(QStringLiteral("稳健 PID")));
    // The command line's refusals are the cli's (its tune tests).
    QCOMPARE(run(dir.filePath("none.db"), false, &out), 1);
    QVERIFY(!QFile::exists(dir.filePath("none.db")));
}

QTEST_GUILESS_MAIN(TestTuning)
#include "tst_tuning.moc"
