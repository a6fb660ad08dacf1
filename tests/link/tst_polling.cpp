#include "FakeModbus485.h"
#include "LinkHealth.h"
#include "PollingCycle.h"

#include <QSignalSpy>
#include <QtTest>

class TestPolling : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void oneCycleCallsInOrder();
    void copiesIntoValues();
    void bitWords_data();
    void bitWords();
    void coilWordSix();
    void secondHoldingBlockLandsInHoldingRegsOnly();
    void failedReadLeavesItsTables();
    void coilBitsNeverTakenFromDiscreteInputWord();
    void neverOpenedStaysZeroAndClosedKeepsValues();
    void tickWhilePendingIsSkipped();
    void silentBlockNeverStarvesTheOthers_data();
    void silentBlockNeverStarvesTheOthers();
    void deadLineCostsOneTimeoutPerCycle();
    void dByte();
    void healthStates();
    void portInUseIsReportedOnce();

private:
    FakeModbus485* fake_ = nullptr;
    LinkClient* link_ = nullptr;
    LiveImage image_;
    PollingCycle* cycle_ = nullptr;
};

void TestPolling::init()
{
    fake_ = new FakeModbus485;
    link_ = new LinkClient(std::unique_ptr<Modbus485>(fake_), LinkClient::Mode::Inline);
    image_ = LiveImage{};
    cycle_ = new PollingCycle(*link_, image_);
    link_->open(PortSettings{3, 2, 2, 7});
    fake_->clearCalls();
}

void TestPolling::cleanup()
{
    delete cycle_;
    delete link_;
}

void TestPolling::oneCycleCallsInOrder()
{
    QCOMPARE(cycle_->objectName(), QStringLiteral("Met1"));
    cycle_->tick();
    QCOMPARE(fake_->calls(), QStringList({"Get_3X_D8(3,7,1)", "Get_4X_D8(3,7,257)", "Get_4X_D8(3,7,4114)",
                                          "Get_1X_B16(3,7,1)", "Get_0X_B16(3,7,1)"}));
}

void TestPolling::copiesIntoValues()
{
    fake_->setInputRegister(1, -25);
    fake_->setInputRegister(2, 456);
    fake_->setInputRegister(3, 100);
    fake_->setInputRegister(4, 77);
    fake_->setInputRegister(5, 5);
    for (int i = 0; i < 8; ++i)
        fake_->setHoldingRegister(257 + i, i == 0 ? -50 : 10 * i);
    cycle_->tick();
    QCOMPARE(image_.Values[0], -25.0f);
    QCOMPARE(image_.Values[1], 45.6f);
    QCOMPARE(image_.Values[2], 100.0f);
    QCOMPARE(image_.Values[3], 77.0f);
    QCOMPARE(image_.Values[4], 0.0f); // only the first four are copied
    QCOMPARE(image_.InputRegs[4], 5);
    QCOMPARE(image_.Values[256], -50.0f);
    QCOMPARE(image_.Values[263], 70.0f); // break output stays raw tenths
    QCOMPARE(image_.HoldingRegs[263], 70);
}

void TestPolling::bitWords_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QList<int>>("bits");
    QTest::newRow("5") << 5 << QList<int>{1, 0, 1, 0};
    QTest::newRow("254 accepted") << 254 << QList<int>{0, 1, 1, 1};
    QTest::newRow("255 refused") << 255 << QList<int>{1, 1, 0, 0};
    QTest::newRow("300 refused") << 300 << QList<int>{1, 1, 0, 0};
    QTest::newRow("negative refused") << -1 << QList<int>{1, 1, 0, 0};
}

void TestPolling::bitWords()
{
    QFETCH(int, word);
    QFETCH(QList<int>, bits);
    image_.InputBits[0] = 1; // what an earlier cycle left
    image_.InputBits[1] = 1;
    fake_->setInputWord(word);
    cycle_->tick();
    for (int k = 0; k < 4; ++k)
        QCOMPARE(image_.InputBits[k], bits[k]);
}

void TestPolling::coilWordSix()
{
    fake_->setCoilWord(6);
    cycle_->tick();
    QCOMPARE(image_.CoilBits[0], 0);
    QCOMPARE(image_.CoilBits[1], 1);
    QCOMPARE(image_.CoilBits[2], 1);
    QCOMPARE(image_.CoilBits[3], 0);
}

void TestPolling::secondHoldingBlockLandsInHoldingRegsOnly()
{
    for (int i = 0; i < 8; ++i)
        fake_->setHoldingRegister(4114 + i, i + 1);
    cycle_->tick();
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(image_.HoldingRegs[13 + i], i + 1);
        QCOMPARE(image_.Values[13 + i], 0.0f);
    }
}

void TestPolling::failedReadLeavesItsTables()
{
    fake_->setInputRegister(1, 500);
    fake_->setHoldingRegister(257, 11);
    cycle_->tick();
    fake_->setInputRegister(1, 600);
    fake_->setHoldingRegister(257, 22);
    fake_->failNext("Get_3X_D8", LinkOutcome::CrcError);
    cycle_->tick();
    QCOMPARE(image_.Values[0], 500.0f);  // kept
    QCOMPARE(image_.Values[256], 22.0f); // the later reads of the cycle still count
}

void TestPolling::coilBitsNeverTakenFromDiscreteInputWord()
{
    fake_->setInputWord(7);
    fake_->setCoilWord(2);
    cycle_->tick();
    fake_->setCoilWord(0);
    fake_->failNext("Get_0X_B16", LinkOutcome::Exception);
    cycle_->tick();
    QCOMPARE(image_.CoilBits[0], 0);
    QCOMPARE(image_.CoilBits[1], 1);
    QCOMPARE(image_.CoilBits[2], 0);
}

void TestPolling::neverOpenedStaysZeroAndClosedKeepsValues()
{
    LiveImage untouched;
    QVERIFY(std::all_of(untouched.Values.begin(), untouched.Values.end(), [](float v) { return v == 0; }));

    fake_->setInputRegister(1, 123);
    fake_->setRequireOpen(true);
    cycle_->start();
    cycle_->tick();
    QCOMPARE(image_.Values[0], 123.0f);
    cycle_->stop();
    link_->close();
    fake_->setInputRegister(1, 999);
    cycle_->tick(); // would fail: the port is closed
    QCOMPARE(image_.Values[0], 123.0f);
    QVERIFY(!cycle_->isRunning());
}

void TestPolling::tickWhilePendingIsSkipped()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Threaded);
    LiveImage image;
    PollingCycle cycle(link, image);
    // Keep the worker busy with someone else's long batch so our cycle stays queued.
    QObject other;
    link.readBatch(&other, QVector<ReadRequest>(300, {ReadFn::Get_3X_D8, 1}), [](auto&) {});
    cycle.tick();
    cycle.tick();
    cycle.tick();
    QCOMPARE(cycle.skippedTicks(), 2);
    QSignalSpy done(&cycle, &PollingCycle::cycleCompleted);
    QTRY_COMPARE(done.count(), 1);
}

void TestPolling::silentBlockNeverStarvesTheOthers_data()
{
    QTest::addColumn<QString>("silent");
    QTest::newRow("input registers (first block)") << "Get_3X_D8";
    QTest::newRow("both holding blocks") << "Get_4X_D8";
    QTest::newRow("coils (last block)") << "Get_0X_B16";
}

void TestPolling::silentBlockNeverStarvesTheOthers()
{
    QFETCH(QString, silent);
    fake_->failNext(silent, LinkOutcome::Timeout, 1000);
    fake_->setCoilWord(2);
    const QStringList blocks{"Get_3X_D8(3,7,1)", "Get_4X_D8(3,7,257)", "Get_4X_D8(3,7,4114)", "Get_1X_B16(3,7,1)",
                             "Get_0X_B16(3,7,1)"};
    QStringList previous;
    for (int cycle = 0; cycle < 6; ++cycle) {
        fake_->clearCalls();
        cycle_->tick();
        const QStringList calls = fake_->calls();
        int timeouts = 0;
        for (const QString& c : calls)
            timeouts += c.startsWith(silent);
        QVERIFY2(timeouts <= 2, qPrintable(calls.join(' ')));
        // Every block the instrument answers is read in this cycle or the one before.
        if (cycle > 0)
            for (const QString& b : blocks)
                if (!b.startsWith(silent))
                    QVERIFY2(calls.contains(b) || previous.contains(b), qPrintable(b + " starved"));
        previous = calls;
    }
    if (silent != "Get_0X_B16")
        QCOMPARE(image_.CoilBits[1], 1); // the answering blocks reached the image
}

void TestPolling::deadLineCostsOneTimeoutPerCycle()
{
    fake_->failNext("*", LinkOutcome::Timeout, 1000);
    QSignalSpy done(cycle_, &PollingCycle::cycleCompleted);
    for (int cycle = 0; cycle < 7; ++cycle) {
        fake_->clearCalls();
        cycle_->tick();
        QCOMPARE(fake_->calls().size(), 1);
    }
    QCOMPARE(done.count(), 7);
    QVERIFY(!done.last().at(0).toBool());
}

void TestPolling::dByte()
{
    QCOMPARE(PollingCycle::D_Byte(0), (std::array<qint32, 8>{}));
    QCOMPARE(PollingCycle::D_Byte(255), (std::array<qint32, 8>{1, 1, 1, 1, 1, 1, 1, 1}));
    QCOMPARE(PollingCycle::D_Byte(0x81), (std::array<qint32, 8>{1, 0, 0, 0, 0, 0, 0, 1}));
}

void TestPolling::healthStates()
{
    LinkHealth health;
    QCOMPARE(health.state(), LinkHealth::State::Closed);
    health.onPortOpened();
    QCOMPARE(health.state(), LinkHealth::State::Waiting);
    health.onCycle(true);
    QCOMPARE(health.state(), LinkHealth::State::Answering);
    QVERIFY(health.ageOfLastGoodMs() >= 0);
    health.onCycle(false);
    QCOMPARE(health.state(), LinkHealth::State::Answering); // one bad cycle is not an outage
    QTRY_COMPARE_WITH_TIMEOUT(health.state(), LinkHealth::State::NoAnswer, 3000);
    health.onCycle(true);
    QCOMPARE(health.state(), LinkHealth::State::Answering);
    health.onPortState(PortState::CannotOpen);
    QCOMPARE(health.state(), LinkHealth::State::CannotOpen);
    health.onPortState(PortState::Open);
    health.onPortClosed();
    QCOMPARE(health.state(), LinkHealth::State::Closed);
    health.onExchange(LinkOutcome::Timeout);
    health.onExchange(LinkOutcome::Timeout);
    QCOMPARE(health.count(LinkOutcome::Timeout), 2);
    QVERIFY(health.countersText().contains(QStringLiteral("超时 2")));
    QCOMPARE(LinkHealth::stateText(LinkHealth::State::NoAnswer), QStringLiteral("通讯中断"));
}

void TestPolling::portInUseIsReportedOnce()
{
    LinkHealth health;
    health.onPortOpened();
    QSignalSpy changes(&health, &LinkHealth::stateChanged);
    health.onPortState(PortState::InUse); // Waiting -> CannotOpen, held by another program
    QCOMPARE(changes.size(), 1);
    QVERIFY(health.portInUse());
    health.onPortState(PortState::CannotOpen); // same state, the reason changes
    QCOMPARE(changes.size(), 2);
    QVERIFY(!health.portInUse());
    health.onPortState(PortState::CannotOpen);
    QCOMPARE(changes.size(), 2);
}

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
