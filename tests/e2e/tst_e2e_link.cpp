#include "LibModbus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "PollingCycle.h"
#include "Recorder.h"
#include "SimServer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Station link + simulator over a real pseudo-terminal.
class TestE2eLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void pollsTheInstrumentAndWritesReachIt();
    void lateRepliesNeverShiftData();
    void replyAfterTheDrainNeverReachesTheImage();
    void garbledReplyIsCountedAndDiscarded();
    void silentInstrumentShowsNoAnswerThenRecovers();
    void unplugAndReplugHealsByItself();
    void recorderStoresPolledValues();

private:
    void startSim();
    void openStation();
    bool waitForGoodCycles(int count, int timeoutMs = 8000);

    QTemporaryDir dir_;
    QString linkPath_;
    std::unique_ptr<SimServer> sim_;
    std::unique_ptr<LinkClient> link_;
    std::unique_ptr<LinkHealth> health_;
    std::unique_ptr<PollingCycle> polling_;
    LiveImage image_;
    int goodCycles_ = 0;
    int badCycles_ = 0;
    QList<QPair<float, float>> seen_; // (SV, alarm 1 value) of every good cycle
};

void TestE2eLink::startSim()
{
    SimOptions o;
    o.link = linkPath_;
    o.speed = 5;
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
}

void TestE2eLink::init()
{
    linkPath_ = dir_.filePath(QStringLiteral("px5800-line"));
    startSim();
    image_ = LiveImage{};
    goodCycles_ = badCycles_ = 0;
    seen_.clear();
    PortMap ports;
    ports.map(1, linkPath_);
    link_ = std::make_unique<LinkClient>(std::make_unique<LibModbus485>(ports), LinkClient::Mode::Threaded);
    health_ = std::make_unique<LinkHealth>();
    polling_ = std::make_unique<PollingCycle>(*link_, image_);
    connect(link_.get(), &LinkClient::exchangeCompleted, health_.get(), &LinkHealth::onExchange);
    connect(link_.get(), &LinkClient::portStateChanged, health_.get(), &LinkHealth::onPortState);
    connect(polling_.get(), &PollingCycle::cycleCompleted, this, [this](bool all) {
        health_->onCycle(all);
        if (all) {
            ++goodCycles_;
            seen_.append({image_.Values[2], image_.Values[256]});
        } else {
            ++badCycles_;
        }
    });
}

void TestE2eLink::cleanup()
{
    polling_.reset();
    if (link_)
        link_->shutdown();
    link_.reset();
    health_.reset();
    sim_.reset();
}

void TestE2eLink::openStation()
{
    link_->open(PortSettings{1, 1, 0, 1});
    health_->onPortOpened();
    polling_->start();
}

bool TestE2eLink::waitForGoodCycles(int count, int timeoutMs)
{
    const int target = goodCycles_ + count;
    QElapsedTimer t;
    t.start();
    while (goodCycles_ < target && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    return goodCycles_ >= target;
}

void TestE2eLink::pollsTheInstrumentAndWritesReachIt()
{
    QCOMPARE(sim_->command("set hr 1 321"), QStringLiteral("ok"));
    QCOMPARE(sim_->command("set hr 257 1234"), QStringLiteral("ok"));
    openStation();
    QVERIFY(waitForGoodCycles(2));
    QCOMPARE(image_.Values[2], 321.0f);
    QCOMPARE(image_.Values[256], 1234.0f);
    QCOMPARE(image_.CoilBits[1], 1); // automatic
    QVERIFY(image_.Values[0] > 0);
    QCOMPARE(health_->state(), LinkHealth::State::Answering);

    bool written = false;
    link_->write(this, {WriteFn::Set_4X_D1, 1, 250}, [&](const WriteResult& r) { written = r.firstResult == 0; });
    QTRY_VERIFY(written);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("250"));
    QTRY_COMPARE_WITH_TIMEOUT(image_.Values[2], 250.0f, 3000);

    bool coil = false;
    link_->write(this, {WriteFn::Rst_0X_Bit1, 2, 0}, [&](const WriteResult& r) { coil = r.firstResult == 0; });
    QTRY_VERIFY(coil);
    QTRY_COMPARE_WITH_TIMEOUT(image_.CoilBits[1], 0, 3000); // manual now
}

void TestE2eLink::lateRepliesNeverShiftData()
{
    sim_->command("set hr 1 321");
    sim_->command("set hr 257 1234");
    openStation();
    QVERIFY(waitForGoodCycles(2));
    // Replies later than the response timeout, then on time again.
    QCOMPARE(sim_->command("late 700 4"), QStringLiteral("ok"));
    QTest::qWait(4000);
    QVERIFY(waitForGoodCycles(4));
    QVERIFY(health_->count(LinkOutcome::Timeout) >= 1);
    for (const auto& s : seen_) {
        QCOMPARE(s.first, 321.0f);   // SV never took another block's value
        QCOMPARE(s.second, 1234.0f); // nor alarm 1 value
    }
    QCOMPARE(image_.InputRegs[2], 321); // input register 3 mirrors SV
}

void TestE2eLink::replyAfterTheDrainNeverReachesTheImage()
{
    sim_->command("set hr 1 321");
    sim_->command("set hr 257 1234");
    openStation();
    QVERIFY(waitForGoodCycles(2));
    const qint32 type1 = image_.HoldingRegs[13];
    QVERIFY(type1 != 1234);
    // After every cycle, good or not, each block holds its own values.
    QStringList wrong;
    connect(polling_.get(), &PollingCycle::cycleCompleted, this, [&] {
        if (image_.InputRegs[2] != 321 || image_.HoldingRegs[256] != 1234 || image_.HoldingRegs[13] != type1)
            wrong << QStringLiteral("sv %1 alarm %2 type %3")
                         .arg(image_.InputRegs[2])
                         .arg(image_.HoldingRegs[256])
                         .arg(image_.HoldingRegs[13]);
    });
    // One reply 1.2 s late (after the response timeout and the drain), at a
    // different point of the cycle each time.
    for (int round = 0; round < 6; ++round) {
        QCOMPARE(sim_->command("late 1200 1"), QStringLiteral("ok"));
        QTest::qWait(1300 + 170 * round);
        QVERIFY(waitForGoodCycles(1));
    }
    QVERIFY(health_->count(LinkOutcome::Timeout) >= 6);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
}

void TestE2eLink::garbledReplyIsCountedAndDiscarded()
{
    sim_->command("set hr 257 1234");
    openStation();
    QVERIFY(waitForGoodCycles(1));
    QCOMPARE(sim_->command("garbage"), QStringLiteral("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(health_->count(LinkOutcome::CrcError) >= 1, 4000);
    QVERIFY(waitForGoodCycles(2));
    QCOMPARE(image_.Values[256], 1234.0f);
}

void TestE2eLink::silentInstrumentShowsNoAnswerThenRecovers()
{
    openStation();
    QVERIFY(waitForGoodCycles(1));
    // PV after each failed cycle while the line is silent: kept, never cleared.
    QList<float> silentPv;
    const auto watch = connect(polling_.get(), &PollingCycle::cycleCompleted, this, [&](bool all) {
        if (!all)
            silentPv << image_.Values[0];
    });
    QCOMPARE(sim_->command("silent 4"), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(health_->state(), LinkHealth::State::NoAnswer, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(silentPv.size() >= 2, 3000);
    disconnect(watch);
    QVERIFY(silentPv[0] != 0.0f);
    QCOMPARE(silentPv[1], silentPv[0]);
    QTRY_COMPARE_WITH_TIMEOUT(health_->state(), LinkHealth::State::Answering, 8000);
    // A dead line costs one timeout per cycle, not five: every failed cycle
    // gave up at its first timeout.
    const int timeouts = health_->count(LinkOutcome::Timeout);
    QVERIFY2(timeouts >= 2, qPrintable(QString::number(timeouts)));
    QVERIFY2(badCycles_ >= timeouts - 1,
             qPrintable(QStringLiteral("%1 bad cycles, %2 timeouts").arg(badCycles_).arg(timeouts)));
    // A dead line's cycle (one response timeout) now ends before the next
    // tick, so no tick needs to be skipped; the skip itself is covered by
    // the polling tests.
}

void TestE2eLink::unplugAndReplugHealsByItself()
{
    openStation();
    QVERIFY(waitForGoodCycles(1));
    sim_->command("set hr 1 111");
    sim_.reset(); // the pseudo-terminal disappears
    QTRY_VERIFY_WITH_TIMEOUT(
        health_->state() == LinkHealth::State::CannotOpen || health_->state() == LinkHealth::State::NoAnswer, 6000);
    // Noticed as a device gone, not taken for a silent instrument.
    const int opensWhileAway = health_->count(LinkOutcome::DeviceGone);
    // Away while the link keeps trying the closed port.
    const int triesAtLoss = health_->count(LinkOutcome::NotOpen);
    QTRY_VERIFY_WITH_TIMEOUT(health_->count(LinkOutcome::NotOpen) >= triesAtLoss + 2, 4000);
    startSim();
    sim_->command("set hr 1 222");
    QTRY_COMPARE_WITH_TIMEOUT(health_->state(), LinkHealth::State::Answering, 8000);
    QTRY_COMPARE_WITH_TIMEOUT(image_.Values[2], 222.0f, 3000);
    QVERIFY2(opensWhileAway >= 1, qPrintable(QString::number(opensWhileAway)));
}

void TestE2eLink::recorderStoresPolledValues()
{
    sim_->command("set hr 1 321");
    openStation();
    QVERIFY(waitForGoodCycles(1));
    SampleFlags flags;
    const QString db = dir_.filePath(QStringLiteral("e2e.db"));
    Recorder recorder(image_, flags, db);
    recorder.start();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.shortId() >= 2, 6000); // two one-second samples
    recorder.stop();
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
                 {db, QStringLiteral("select count(*), min(w_sv), max(w_sv) from pv_data where w_pv > 0;")});
    QVERIFY(sqlite.waitForFinished(10000));
    const QStringList fields = QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed().split(u'|');
    QCOMPARE(fields.size(), 3);
    QVERIFY2(fields[0].toInt() >= 2, qPrintable(fields.join(',')));
    QCOMPARE(fields[1].toDouble(), 321.0);
    QCOMPARE(fields[2].toDouble(), 321.0);
}

QTEST_MAIN(TestE2eLink)
#include "tst_e2e_link.moc"
