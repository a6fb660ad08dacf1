#include "LibModbus485.h"
#include "ParameterRestore.h"
#include "SimServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace ParameterSet;

// Parameter sets read from and restored to the simulated instrument over a
// pseudo-terminal, with libmodbus on the line.
class TestE2eParams : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void dumpShowsKnownValues();
    void restoreWritesOnlyDifferencesInOrder();
    void silencedHalfWayReportsWrittenAndNot();

private:
    Values dump();
    Report restore(const Values& file, int silenceAfter = -1);

    QTemporaryDir dir_;
    std::unique_ptr<SimServer> sim_;
    std::unique_ptr<LibModbus485> bus_;
    const PortSettings port_{1, 1, 0, 1};
};

void TestE2eParams::init()
{
    SimOptions o;
    o.link = dir_.filePath(QStringLiteral("px5800-line"));
    o.speed = 20; // the set value's input copy follows within a few ms
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
    PortMap ports;
    ports.map(1, o.link);
    bus_ = std::make_unique<LibModbus485>(ports);
    QCOMPARE(bus_->OpenPort_Modbus(1, port_.baudIndex, port_.parityIndex), 0);
    for (const char* c : {"set hr 4108 1", "set hr 4130 100", "set hr 4099 1200", "set hr 4611 123", "set hr 5124 45",
                          "set hr 258 7", "set hr 264 555", "set hr 1 300", "writes clear"})
        QCOMPARE(sim_->command(QString::fromLatin1(c)), QStringLiteral("ok"));
    // A scan: the set value's input copy follows.
    QTRY_COMPARE_WITH_TIMEOUT(sim_->command(QStringLiteral("get ir 3")), QStringLiteral("300"), 2000);
}

void TestE2eParams::cleanup()
{
    bus_.reset();
    sim_.reset();
}

Values TestE2eParams::dump()
{
    QString error;
    const std::optional<Values> v = readNow(*bus_, port_, &error);
    if (!v)
        qWarning() << error;
    return v.value_or(Values{});
}

Report TestE2eParams::restore(const Values& file, int silenceAfter)
{
    BusTarget target(*bus_, port_);
    RestoreRunner runner(target, plan(dump(), file), file, {});
    runner.setSettleTime(50);
    connect(&runner, &RestoreRunner::progress, this, [&](int done, int) {
        if (done == silenceAfter)
            sim_->command(QStringLiteral("silent 30"));
    });
    QSignalSpy finished(&runner, &RestoreRunner::finished);
    runner.start();
    if (finished.isEmpty() && !finished.wait(20000))
        qWarning("restore did not finish");
    return runner.report();
}

void TestE2eParams::dumpShowsKnownValues()
{
    const Values v = dump();
    QCOMPARE(v.size(), qsizetype(rows().size()));
    const LoadResult file = fromJson(toJson(v, port_, QDateTime::currentDateTime()));
    QVERIFY2(file.file, qPrintable(file.error));
    struct Expect {
        int reg;
        qint32 raw;
        const char* text;
    };
    for (const Expect& e :
         {Expect{4108, 1, "继电器"}, Expect{4130, 100, "10"}, Expect{4099, 1200, "1200"}, Expect{4611, 123, "12.3"},
          Expect{5124, 45, "4.5"}, Expect{258, 7, "7"}, Expect{264, 555, "55.5"}, Expect{1, 300, "300"}}) {
        QCOMPARE(file.file->values.value(e.reg), e.raw);
        QCOMPARE(text(*rowFor(e.reg), e.raw), QString::fromUtf8(e.text));
    }
    QCOMPARE(sim_->command(QStringLiteral("writes")), QString()); // a dump writes nothing
}

void TestE2eParams::restoreWritesOnlyDifferencesInOrder()
{
    Values file = dump();
    QVERIFY(diff(dump(), file).isEmpty());
    file[1] = 350;
    file[4612] = 40; // row 1 lower limit 4.0
    file[4108] = 2;  // solid-state: its cycle time is written with it...
    file[4130] = 35; // ...and then the file's own
    file[261] = 12;
    QCOMPARE(diff(dump(), file).size(), 5);

    const Report r = restore(file);
    QCOMPARE(sim_->command(QStringLiteral("writes")), QStringLiteral("4108=2 4130=20 4130=35 4612=40 261=12 1=350"));
    QCOMPARE(r.count(StepState::Written), 6);
    QVERIFY2(r.readBack, qPrintable(r.readBackError));
    QVERIFY(r.stillDiffering.isEmpty());
    QVERIFY(diff(dump(), file).isEmpty());
}

void TestE2eParams::silencedHalfWayReportsWrittenAndNot()
{
    Values file = dump();
    file[4099] = 1300;
    file[4611] = 150;
    file[5121] = 80;
    file[1] = 320;
    const Report r = restore(file, 2); // goes silent after two writes

    QCOMPARE(sim_->command(QStringLiteral("writes")), QStringLiteral("4099=1300 4611=150"));
    QCOMPARE(r.steps.size(), 4);
    QCOMPARE(r.steps[0].state, StepState::Written);
    QCOMPARE(r.steps[1].state, StepState::Written);
    QCOMPARE(r.steps[2].state, StepState::Failed);
    QCOMPARE(r.steps[2].step.row->reg, 5121);
    QCOMPARE(r.steps[3].state, StepState::NotWritten);
    QVERIFY(r.stopped);
    QVERIFY(!r.readBack);
    QVERIFY(!r.readBackError.isEmpty());
}

QTEST_GUILESS_MAIN(TestE2eParams)
#include "tst_e2e_params.moc"
