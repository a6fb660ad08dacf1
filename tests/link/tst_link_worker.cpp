#include "FakeModbus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "LinkWorker.h"

#include <QSignalSpy>
#include <QtTest>

class TestLinkWorker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openUsesPanelValuesAndEveryCallUsesStoredPortAndAddress();
    void closeBeforeAnyOpenClosesPortZero();
    void writeRepeatsOnceOnMinus8888_data();
    void writeRepeatsOnceOnMinus8888();
    void coilWritesAreNeverRepeated();
    void exceptionCodeReachesResultsAndCounters();
    void batchGivesUpOnlyWhereTheLineLooksDead_data();
    void batchGivesUpOnlyWhereTheLineLooksDead();
    void secondBatchFromSameRequesterIsRefusedWhilePending();
    void writesGoAheadOfQueuedReads();
    void resultsForDestroyedRequesterAreDropped();
    void threadedClientDeliversOnGuiThread();
    void vanishedDeviceIsReopenedAboutOnceASecond();
    void failedOpenKeepsRetryingUntilClose();
    void shutdownSendsQueuedWritesButNotReads();
    void deadLineHoldsShutdownNoLongerThanTheBudget();
};

void TestLinkWorker::openUsesPanelValuesAndEveryCallUsesStoredPortAndAddress()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline);
    link.open(PortSettings{3, 2, 2, 7});
    QObject requester;
    QVERIFY(link.readBatch(&requester, {{ReadFn::Get_3X_D8, 1}}, [](const QVector<ReadResult>&) {}));
    link.write(&requester, {WriteFn::Set_4X_D1, 1, 9999});
    link.write(&requester, {WriteFn::Set_0X_Bit1, 2, 0});
    link.close();
    QCOMPARE(fake->calls(), QStringList({"OpenPort_Modbus(3,2,2)", "Get_3X_D8(3,7,1)", "Set_4X_D1(3,7,1,9999)",
                                         "Set_0X_Bit1(3,7,2)", "ClosePort_Modbus(3)"}));
    QCOMPARE(link.portSettings().port, 3);
    QCOMPARE(link.portSettings().address, 7);
}

void TestLinkWorker::closeBeforeAnyOpenClosesPortZero()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline);
    link.close();
    QCOMPARE(fake->calls(), QStringList({"ClosePort_Modbus(0)"}));
}

void TestLinkWorker::writeRepeatsOnceOnMinus8888_data()
{
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<int>("expectedCalls");
    QTest::newRow("success") << QList<int>{0} << 1;
    QTest::newRow("-8888 then success") << QList<int>{-8888, 0} << 2;
    QTest::newRow("-8888 twice: still one repeat") << QList<int>{-8888, -8888, -8888} << 2;
    QTest::newRow("other failure is not repeated") << QList<int>{-1} << 1;
}

void TestLinkWorker::writeRepeatsOnceOnMinus8888()
{
    QFETCH(QList<int>, results);
    QFETCH(int, expectedCalls);
    FakeModbus485 fake;
    fake.queueWriteResults(results);
    const WriteResult r = writeWithOneRepeat(fake, 1, 1, 264, 452);
    QCOMPARE(r.calls, expectedCalls);
    QCOMPARE(fake.callsOf("Set_4X_D1").size(), expectedCalls);
    for (const QString& call : fake.callsOf("Set_4X_D1"))
        QCOMPARE(call, QStringLiteral("Set_4X_D1(1,1,264,452)"));
}

void TestLinkWorker::coilWritesAreNeverRepeated()
{
    FakeModbus485 fake;
    fake.failNext("Rst_0X_Bit1", LinkOutcome::Timeout);
    const WriteResult r = performWrite(fake, 1, 1, {WriteFn::Rst_0X_Bit1, 2, 0});
    QCOMPARE(r.calls, 1);
    QCOMPARE(fake.calls(), QStringList({"Rst_0X_Bit1(1,1,2)"}));
}

void TestLinkWorker::exceptionCodeReachesResultsAndCounters()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline);
    LinkHealth health;
    connect(&link, &LinkClient::exceptionAnswered, &health, &LinkHealth::onException);
    QSignalSpy exceptions(&link, &LinkClient::exceptionAnswered);
    link.open(PortSettings{1, 1, 0, 1});
    QObject requester;
    fake->setExceptionCode(6);
    fake->failNext("Get_4X_D8", LinkOutcome::Exception);
    QVector<ReadResult> got;
    link.readBatch(&requester, {{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 4114}},
                   [&](const QVector<ReadResult>& r) { got = r; });
    QCOMPARE(got.at(0).exceptionCode, 0);
    QCOMPARE(got.at(1).exceptionCode, 6);
    fake->setExceptionCode(2);
    fake->failNext("Set_4X_D1", LinkOutcome::Exception, 2);
    WriteResult written;
    link.write(&requester, {WriteFn::Set_4X_D1, 6000, 1}, [&](const WriteResult& r) { written = r; });
    QCOMPARE(written.outcome, LinkOutcome::Exception);
    QCOMPARE(written.exceptionCode, 2);
    // One exception answer each: the read's, and the write's last call.
    QCOMPARE(exceptions.size(), 2);
    QCOMPARE(exceptions.at(0).at(0).toInt(), 6);
    QCOMPARE(exceptions.at(1).at(0).toInt(), 2);
    QCOMPARE(health.lastExceptionCode(), 2);
    QVERIFY2(health.countersText().contains(QStringLiteral("02 非法数据地址")), qPrintable(health.countersText()));
    QCOMPARE(exceptionText(0x0B), QStringLiteral("0B 网关目标设备无响应"));
    QCOMPARE(exceptionTextEnglish(77), QStringLiteral("4D unknown exception"));
}

void TestLinkWorker::batchGivesUpOnlyWhereTheLineLooksDead_data()
{
    QTest::addColumn<QString>("silent");
    QTest::addColumn<int>("silentCount");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("outcomes");
    // A timeout before any answer looks like a dead line: one timeout, the rest skipped.
    QTest::newRow("first read silent") << "Get_3X_D8" << 1 << QStringList{"Get_3X_D8(1,1,1)"} << "TSSS";
    // After an answer it is one silent block: the others are still read.
    QTest::newRow("later read silent") << "Get_4X_D8" << 1
                                       << QStringList{"Get_3X_D8(1,1,1)", "Get_4X_D8(1,1,257)", "Get_4X_D8(1,1,4114)",
                                                      "Get_1X_B16(1,1,1)"}
                                       << "ATAA";
    // Two in a row look like a line that died: the batch ends there.
    QTest::newRow("two reads silent") << "Get_4X_D8" << 2
                                      << QStringList{"Get_3X_D8(1,1,1)", "Get_4X_D8(1,1,257)", "Get_4X_D8(1,1,4114)"}
                                      << "ATTS";
}

void TestLinkWorker::batchGivesUpOnlyWhereTheLineLooksDead()
{
    QFETCH(QString, silent);
    QFETCH(int, silentCount);
    QFETCH(QStringList, calls);
    QFETCH(QString, outcomes);
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline);
    link.open(PortSettings{1, 1, 0, 1});
    fake->clearCalls();
    fake->failNext(silent, LinkOutcome::Timeout, silentCount);
    QVector<ReadResult> got;
    QObject requester;
    link.readBatch(
        &requester,
        {{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 257}, {ReadFn::Get_4X_D8, 4114}, {ReadFn::Get_1X_B16, 1}},
        [&](const QVector<ReadResult>& r) { got = r; });
    QCOMPARE(fake->calls(), calls);
    QString seen;
    for (const ReadResult& r : got)
        seen += r.outcome == LinkOutcome::Answered  ? 'A'
                : r.outcome == LinkOutcome::Timeout ? 'T'
                : r.outcome == LinkOutcome::Skipped ? 'S'
                                                    : '?';
    QCOMPARE(seen, outcomes);
}

void TestLinkWorker::secondBatchFromSameRequesterIsRefusedWhilePending()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Threaded);
    QObject a, b;
    int doneA = 0;
    // Hold the worker busy on its own thread so the batch stays pending.
    QVERIFY(link.readBatch(&a, QVector<ReadRequest>(200, {ReadFn::Get_3X_D8, 1}), [&](auto&) { ++doneA; }));
    QVERIFY(!link.readBatch(&a, {{ReadFn::Get_3X_D8, 1}}, [&](auto&) { ++doneA; }));
    QVERIFY(link.readBatch(&b, {{ReadFn::Get_3X_D8, 1}}, [](auto&) {}));
    QTRY_COMPARE(doneA, 1);
    QTRY_VERIFY(!link.batchPending(&b));
    QVERIFY(link.readBatch(&a, {{ReadFn::Get_3X_D8, 1}}, [&](auto&) { ++doneA; }));
    QTRY_COMPARE(doneA, 2);
}

void TestLinkWorker::writesGoAheadOfQueuedReads()
{
    auto* fake = new FakeModbus485;
    LinkWorker worker{std::unique_ptr<Modbus485>(fake)};
    worker.enqueueReads(1, 1, 1, {{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 257}});
    worker.enqueueReads(2, 1, 1, {{ReadFn::Get_1X_B16, 1}});
    worker.enqueueWrite(3, 1, 1, {WriteFn::Set_4X_D1, 1, 50});
    QSignalSpy reads(&worker, &LinkWorker::readsDone);
    QTRY_COMPARE(reads.count(), 2);
    QCOMPARE(fake->calls(),
             QStringList({"Set_4X_D1(1,1,1,50)", "Get_3X_D8(1,1,1)", "Get_4X_D8(1,1,257)", "Get_1X_B16(1,1,1)"}));

    // A write queued while a batch is half done runs before the batch's next read.
    fake->clearCalls();
    bool queued = false;
    connect(&worker, &LinkWorker::exchangeCompleted, this, [&] {
        if (!queued) {
            queued = true;
            worker.enqueueWrite(5, 1, 1, {WriteFn::Set_0X_Bit1, 1, 0});
        }
    });
    worker.enqueueReads(4, 1, 1, {{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 257}});
    QTRY_COMPARE(reads.count(), 3);
    QCOMPARE(fake->calls(), QStringList({"Get_3X_D8(1,1,1)", "Set_0X_Bit1(1,1,1)", "Get_4X_D8(1,1,257)"}));
}

void TestLinkWorker::resultsForDestroyedRequesterAreDropped()
{
    auto* fake = new FakeModbus485;
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Threaded);
    bool called = false;
    {
        QObject gone;
        link.readBatch(&gone, QVector<ReadRequest>(50, {ReadFn::Get_3X_D8, 1}), [&](auto&) { called = true; });
    }
    QObject later;
    bool laterDone = false;
    link.readBatch(&later, {{ReadFn::Get_3X_D8, 1}}, [&](auto&) { laterDone = true; });
    QTRY_VERIFY(laterDone);
    QVERIFY(!called);
}

void TestLinkWorker::threadedClientDeliversOnGuiThread()
{
    auto* fake = new FakeModbus485;
    fake->setInputRegister(1, 321);
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Threaded);
    PortState portState = PortState::Closed;
    connect(&link, &LinkClient::portStateChanged, [&portState](PortState s) { portState = s; });
    link.open(PortSettings{1, 1, 0, 1});
    QThread* deliveredOn = nullptr;
    qint32 pv = 0;
    QObject requester;
    link.readBatch(&requester, {{ReadFn::Get_3X_D8, 1}}, [&](const QVector<ReadResult>& r) {
        deliveredOn = QThread::currentThread();
        pv = r[0].data[0];
    });
    QTRY_VERIFY(deliveredOn != nullptr);
    QCOMPARE(deliveredOn, QThread::currentThread());
    QCOMPARE(pv, 321);
    QTRY_COMPARE(portState, PortState::Open);
}

void TestLinkWorker::vanishedDeviceIsReopenedAboutOnceASecond()
{
    auto* fake = new FakeModbus485;
    fake->setRequireOpen(true);
    LinkWorker worker{std::unique_ptr<Modbus485>(fake)};
    QSignalSpy states(&worker, &LinkWorker::portStateChanged);
    worker.openPort(PortSettings{2, 1, 0, 1});
    QTRY_COMPARE(states.count(), 1);
    QCOMPARE(states.last().at(0).value<PortState>(), PortState::Open);

    fake->setOpenFails(true);
    fake->failNext("Get_3X_D8", LinkOutcome::DeviceGone);
    worker.enqueueReads(1, 2, 1, {{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 257}});
    QTRY_COMPARE(states.count(), 2);
    QCOMPARE(states.last().at(0).value<PortState>(), PortState::CannotOpen);
    QVERIFY(fake->calls().contains("ClosePort_Modbus(2)"));
    QVERIFY(!fake->calls().contains("Get_4X_D8(2,1,257)")); // the rest of the batch was not tried

    const int opensBefore = fake->openCount();
    QTest::qWait(2300);
    const int attempts = fake->openCount() - opensBefore;
    QVERIFY2(attempts >= 1 && attempts <= 3, qPrintable(QString::number(attempts))); // no busy loop

    fake->setOpenFails(false);
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 3, 2000);
    QCOMPARE(states.last().at(0).value<PortState>(), PortState::Open);
    QCOMPARE(fake->calls().filter("OpenPort_Modbus").last(), QStringLiteral("OpenPort_Modbus(2,1,0)"));
}

void TestLinkWorker::failedOpenKeepsRetryingUntilClose()
{
    auto* fake = new FakeModbus485;
    fake->setOpenFails(true);
    LinkWorker worker{std::unique_ptr<Modbus485>(fake)};
    QSignalSpy states(&worker, &LinkWorker::portStateChanged);
    worker.openPort(PortSettings{5, 0, 1, 1});
    QTRY_COMPARE(states.count(), 1);
    QCOMPARE(states.last().at(0).value<PortState>(), PortState::CannotOpen);
    QTRY_VERIFY_WITH_TIMEOUT(fake->openCount() >= 2, 2500);
    worker.closePort(5);
    QTRY_COMPARE(states.last().at(0).value<PortState>(), PortState::Closed);
    const int opens = fake->openCount();
    QTest::qWait(1300);
    QCOMPARE(fake->openCount(), opens);
}

// A step test's restore is queued as the station closes: the writes go out,
// in order, and the polls behind them do not.
void TestLinkWorker::shutdownSendsQueuedWritesButNotReads()
{
    auto* fake = new FakeModbus485;
    LinkWorker worker{std::unique_ptr<Modbus485>(fake)};
    QSignalSpy reads(&worker, &LinkWorker::readsDone);
    worker.enqueueReads(1, 1, 1, {{ReadFn::Get_3X_D8, 1}});
    worker.enqueueWrite(2, 1, 1, {WriteFn::Set_4X_D1, 2, 153});
    worker.closePort(1);
    worker.enqueueWrite(3, 1, 1, {WriteFn::Set_0X_Bit1, 2, 0});
    const QVector<LinkWorker::FinishedWrite> done = worker.shutdown(); // before any event loop turn
    QCOMPARE(fake->calls(), QStringList({"Set_4X_D1(1,1,2,153)", "ClosePort_Modbus(1)", "Set_0X_Bit1(1,1,2)"}));
    QCOMPARE(done.size(), 2);
    QCOMPARE(done[1].ticket, 3u);
    QCoreApplication::processEvents();
    QCOMPARE(fake->calls().size(), 3);
    QCOMPARE(reads.count(), 0);
}

void TestLinkWorker::deadLineHoldsShutdownNoLongerThanTheBudget()
{
    auto* fake = new FakeModbus485;
    fake->setCallTime(100);
    fake->failNext(QStringLiteral("*"), LinkOutcome::Timeout, 100);
    LinkWorker worker{std::unique_ptr<Modbus485>(fake)};
    for (int i = 0; i < 10; ++i)
        worker.enqueueWrite(quint64(i + 1), 1, 1, {WriteFn::Set_4X_D1, 2, i});
    const QVector<LinkWorker::FinishedWrite> done = worker.shutdown(250);
    QCOMPARE(done.size(), 10); // every write is answered for, sent or not
    // A failed register write is repeated once, so each takes 200 ms: no
    // write starts after 250 ms.
    const auto sent = std::count_if(done.begin(), done.end(), [](const LinkWorker::FinishedWrite& w) {
        return w.result.outcome != LinkOutcome::Skipped;
    });
    QVERIFY2(sent >= 1 && sent <= 2, qPrintable(fake->calls().join(' ')));
    QCOMPARE(fake->calls().size(), 2 * int(sent));
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(done[i].result.request.value, i);
        QCOMPARE(done[i].result.outcome, i < sent ? LinkOutcome::Timeout : LinkOutcome::Skipped);
    }
}

QTEST_MAIN(TestLinkWorker)
#include "tst_link_worker.moc"
