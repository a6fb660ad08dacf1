#include "FakeModbus485.h"
#include "Journal.h"
#include "JournalStore.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "TransitionWatcher.h"
#include "WriteAudit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// What ends up in the journal: the audited writes with their read-back, and
// the transitions the watcher sees, each once.
class TestJournalAudit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void writeIsRecordedWithOldNewAndResult_data();
    void writeIsRecordedWithOldNewAndResult();
    void refusedEntryIsRecordedWithItsReason();
    void readBack_data();
    void readBack();
    void transitionsAreRecordedOnce();
    void linkAndRecorderTransitions();
    void portIsJournaledOpenOnlyOnceItOpened_data();
    void portIsJournaledOpenOnlyOnceItOpened();
    void portSettingsText();

private:
    JournalEvent lastStored(int expectedRows);
    void poll(const QVector<ReadRequest>& reads);

    QTemporaryDir dir_;
    int n_ = 0;
    FakeModbus485* fake_ = nullptr;
    std::unique_ptr<LinkClient> link_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<WriteAudit> audit_;
    QObject requester_;
};

void TestJournalAudit::init()
{
    fake_ = new FakeModbus485;
    link_ = std::make_unique<LinkClient>(std::unique_ptr<Modbus485>(fake_), LinkClient::Mode::Inline);
    link_->open(PortSettings{1, 1, 0, 1});
    journal_ = std::make_unique<Journal>(dir_.filePath(QStringLiteral("a%1.db").arg(++n_)));
    audit_ = std::make_unique<WriteAudit>(*link_, *journal_);
}

void TestJournalAudit::cleanup()
{
    audit_.reset();
    journal_.reset();
    link_.reset();
}

// The newest row as stored, once the journal holds `expectedRows`.
JournalEvent TestJournalAudit::lastStored(int expectedRows)
{
    [&] { QVERIFY(journal_->sync()); }();
    JournalStore store(QStringLiteral("check"));
    if (!store.open(journal_->path()))
        return {};
    [&] { QCOMPARE(store.count({}), expectedRows); }();
    const QList<JournalEvent> rows = store.page({}, 0, 1);
    return rows.isEmpty() ? JournalEvent{} : rows.first();
}

void TestJournalAudit::poll(const QVector<ReadRequest>& reads)
{
    QVERIFY(link_->readBatch(&requester_, reads, [](const QVector<ReadResult>&) {}));
}

void TestJournalAudit::writeIsRecordedWithOldNewAndResult_data()
{
    QTest::addColumn<int>("fn");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("divisor");
    QTest::addColumn<int>("failures"); // calls that fail
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("oldValue");
    QTest::addColumn<QString>("newValue");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("calls");
    // Set value: written to holding 1, last read from input register 3 (300).
    QTest::newRow("SV ok") << int(WriteFn::Set_4X_D1) << 1 << 320 << 1 << 0 << "SV"
                           << "300"
                           << "320"
                           << "ok" << 1;
    QTest::newRow("repeat succeeds") << int(WriteFn::Set_4X_D1) << 1 << 320 << 1 << 1 << "SV"
                                     << "300"
                                     << "320"
                                     << "ok" << 2;
    QTest::newRow("failed after the repeat") << int(WriteFn::Set_4X_D1) << 1 << 320 << 1 << 2 << "SV"
                                             << "300"
                                             << "320"
                                             << "failed" << 2;
    // failures < 0: the instrument refuses that many calls with exception 02.
    QTest::newRow("refused with a code") << int(WriteFn::Set_4X_D1) << 1 << 320 << 1 << -2 << "SV"
                                         << "300"
                                         << "320"
                                         << "failed: 02 非法数据地址" << 2;
    QTest::newRow("tenths") << int(WriteFn::Set_4X_D1) << 264 << 455 << 10 << 0 << ""
                            << "12.5"
                            << "45.5"
                            << "ok" << 1;
    QTest::newRow("never read") << int(WriteFn::Set_4X_D1) << 4126 << 7 << 1 << 0 << ""
                                << ""
                                << "7"
                                << "ok" << 1;
    QTest::newRow("coil on") << int(WriteFn::Set_0X_Bit1) << 2 << 0 << 1 << 0 << ""
                             << "0"
                             << "1"
                             << "ok" << 1;
    QTest::newRow("coil off") << int(WriteFn::Rst_0X_Bit1) << 1 << 0 << 1 << 0 << ""
                              << "1"
                              << "0"
                              << "ok" << 1;
}

void TestJournalAudit::writeIsRecordedWithOldNewAndResult()
{
    QFETCH(int, fn);
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, divisor);
    QFETCH(int, failures);
    QFETCH(QString, source);
    QFETCH(QString, oldValue);
    QFETCH(QString, newValue);
    QFETCH(QString, result);
    QFETCH(int, calls);
    fake_->setInputRegister(3, 300);
    fake_->setHoldingRegister(264, 125);
    fake_->setCoilWord(0b001); // coil 1 on, coil 2 off
    poll({{ReadFn::Get_3X_D8, 1}, {ReadFn::Get_4X_D8, 257}, {ReadFn::Get_0X_B16, 1}});
    if (failures > 0)
        fake_->failNext(QStringLiteral("*"), LinkOutcome::Timeout, failures);
    if (failures < 0)
        fake_->failNext(QStringLiteral("*"), LinkOutcome::Exception, -failures);

    bool called = false;
    audit_->write(&requester_, WriteRequest{WriteFn(fn), address, value}, WriteLabel{source, {}, divisor},
                  [&](const WriteResult& r) {
                      called = true;
                      QCOMPARE(r.calls, calls);
                  });
    QVERIFY(called);
    const JournalEvent e = lastStored(1);
    QCOMPARE(e.kind, QStringLiteral("write"));
    const QString expectedSource = !source.isEmpty()               ? source
                                   : fn == int(WriteFn::Set_4X_D1) ? QString::number(address)
                                                                   : QStringLiteral("coil %1").arg(address);
    QCOMPARE(e.source, expectedSource);
    QCOMPARE(e.oldValue, oldValue.isEmpty() ? QString() : oldValue);
    QCOMPARE(e.newValue, newValue);
    QCOMPARE(e.result, result);
    QCOMPARE(e.message.contains(QStringLiteral("重发一次后仍失败")), result.startsWith(QStringLiteral("failed")));
    QCOMPARE(audit_->pendingReadBacks(), result == "ok" ? 1 : 0);
}

void TestJournalAudit::refusedEntryIsRecordedWithItsReason()
{
    fake_->setHoldingRegister(257, 50);
    poll({{ReadFn::Get_4X_D8, 257}});
    audit_->refused(WriteRequest{WriteFn::Set_4X_D1, 257, 0}, WriteLabel{{}, QStringLiteral("报警1值"), 1},
                    QStringLiteral("12000"), QStringLiteral("超出 -1999～9999"));
    const JournalEvent e = lastStored(1);
    QCOMPARE(e.source, QStringLiteral("257"));
    QCOMPARE(e.message, QStringLiteral("修改报警1值：输入被拒绝"));
    QCOMPARE(e.oldValue, QStringLiteral("50"));
    QCOMPARE(e.newValue, QStringLiteral("12000"));
    QCOMPARE(e.result, QStringLiteral("refused: 超出 -1999～9999"));
    QVERIFY(fake_->callsOf(QStringLiteral("Set_4X_D1")).isEmpty());
}

void TestJournalAudit::readBack_data()
{
    QTest::addColumn<QList<int>>("shown"); // what the reads after the write show, in order
    QTest::addColumn<QString>("result");
    QTest::newRow("verified") << QList<int>{320} << "verified";
    QTest::newRow("a stale read, then the value") << QList<int>{300, 320} << "verified";
    QTest::newRow("mismatch") << QList<int>{300, 310} << "mismatch: 仪表显示 310";
    QTest::newRow("no read: stays ok") << QList<int>{} << "ok";
}

void TestJournalAudit::readBack()
{
    QFETCH(QList<int>, shown);
    QFETCH(QString, result);
    audit_->setReadBackWindow(150);
    fake_->setInputRegister(3, 300);
    poll({{ReadFn::Get_3X_D8, 1}});
    audit_->write(&requester_, WriteRequest{WriteFn::Set_4X_D1, 1, 320}, WriteLabel{QStringLiteral("SV"), {}, 1});
    QSignalSpy updates(journal_.get(), &Journal::resultStored);
    for (const int value : shown) {
        fake_->setInputRegister(3, value);
        poll({{ReadFn::Get_3X_D8, 1}});
    }
    QTRY_COMPARE(audit_->pendingReadBacks(), 0);
    const JournalEvent e = lastStored(1); // the same row, updated
    QCOMPARE(e.result, result);
    // A later read changes nothing.
    fake_->setInputRegister(3, 999);
    poll({{ReadFn::Get_3X_D8, 1}});
    QCOMPARE(lastStored(1).result, result);
}

void TestJournalAudit::transitionsAreRecordedOnce()
{
    LiveImage image;
    LinkHealth health;
    TransitionWatcher watcher(*journal_, image, *link_, health);
    QSignalSpy events(journal_.get(), &Journal::eventAppended);
    const auto messages = [&] {
        QStringList out;
        for (const QList<QVariant>& args : events)
            out << args.at(0).value<JournalEvent>().source + QLatin1Char('=')
                       + args.at(0).value<JournalEvent>().message;
        events.clear();
        return out;
    };

    image.InputBits[1] = 1; // alarm 2 is already on
    image.CoilBits[1] = 1;  // automatic
    image.Values[0] = 412;
    watcher.onCycle(false); // incomplete first cycle: not a reference
    QCOMPARE(messages(), QStringList{});
    watcher.onCycle(true);
    QCOMPARE(messages(), QStringList{"alarm 2=报警2（PV 412）"}); // modes at the reference are no news
    for (int i = 0; i < 3; ++i)
        watcher.onCycle(true);
    QCOMPARE(messages(), QStringList{});

    image.InputBits[2] = 1;
    image.CoilBits[1] = 0;
    image.Values[0] = 9999;
    watcher.onCycle(true);
    watcher.onCycle(false);
    watcher.onCycle(true);
    QCOMPARE(messages(), (QStringList{"sensor open=传感器开路（PV 9999）", "coil 2=手动"}));

    image.InputBits[1] = 0;
    image.InputBits[2] = 0;
    image.Values[0] = 380;
    watcher.onCycle(true);
    watcher.onCycle(true);
    QCOMPARE(messages(), (QStringList{"alarm 2=报警2解除（PV 380）", "sensor open=传感器开路解除（PV 380）"}));
}

void TestJournalAudit::linkAndRecorderTransitions()
{
    LiveImage image;
    LinkHealth health;
    TransitionWatcher watcher(*journal_, image, *link_, health);
    QSignalSpy events(journal_.get(), &Journal::eventAppended);
    using S = LinkHealth::State;
    for (const S s : {S::Waiting, S::Answering, S::Answering, S::NoAnswer, S::NoAnswer, S::Answering, S::Closed})
        watcher.onLinkState(s);
    watcher.onPortState(PortState::Open);
    watcher.onPortState(PortState::CannotOpen); // the adapter was pulled
    watcher.onPortState(PortState::Open);
    for (const bool healthy : {true, false, false, false, true, true})
        watcher.onRecorderState(healthy,
                                healthy ? QStringLiteral("记录正常") : QStringLiteral("数据库不可写，暂存 3 条"),
                                healthy ? 0 : 3, healthy ? 2 : 0);
    QStringList got;
    for (const QList<QVariant>& args : events) {
        const JournalEvent e = args.at(0).value<JournalEvent>();
        got << e.kind + QLatin1Char(':') + e.message.section(QStringLiteral("（"), 0, 0);
    }
    QCOMPARE(got, (QStringList{"link:端口已打开", "link:通讯中断", "link:通讯正常", "link:端口已关闭",
                               "link:设备重新出现，端口已重新打开", "recorder:数据库不可写，暂存 3 条",
                               "recorder:数据库恢复可写，暂存的样本已补写"}));
    const JournalEvent last = events.last().at(0).value<JournalEvent>();
    QVERIFY(last.message.endsWith(QStringLiteral("丢弃 2 条")));
}

void TestJournalAudit::portIsJournaledOpenOnlyOnceItOpened_data()
{
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("said");
    QTest::newRow("missing device") << int(PortState::CannotOpen) << "端口无法打开";
    QTest::newRow("held device") << int(PortState::InUse) << "端口正被其他程序占用";
}

void TestJournalAudit::portIsJournaledOpenOnlyOnceItOpened()
{
    QFETCH(int, failed);
    QFETCH(QString, said);
    LiveImage image;
    LinkHealth health;
    TransitionWatcher watcher(*journal_, image, *link_, health);
    connect(&health, &LinkHealth::stateChanged, &watcher, &TransitionWatcher::onLinkState);
    QSignalSpy events(journal_.get(), &Journal::eventAppended);
    auto portState = [&](PortState s) {
        health.onPortState(s); // in the station's order: the health first
        watcher.onPortState(s);
    };
    health.onPortOpened(); // the operator's open; the line's answer comes later
    portState(PortState(failed));
    portState(PortState::Open); // the device turns up
    QStringList got;
    for (const QList<QVariant>& args : events)
        got << args.at(0).value<JournalEvent>().message.section(QStringLiteral("（"), 0, 0);
    QCOMPARE(got, (QStringList{said, "端口已打开"}));
}

void TestJournalAudit::portSettingsText()
{
    QCOMPARE(journalPortText(PortSettings{3, 1, 2, 7}), QStringLiteral("仪表地址 7，波特率 9600，校验 偶"));
    // An index the line does not know opens it without parity: say that.
    QCOMPARE(journalPortText(PortSettings{3, 2, 5, 1}), QStringLiteral("仪表地址 1，波特率 19200，校验 无"));
    QCOMPARE(journalPortText(PortSettings{3, 0, -1, 1}), QStringLiteral("仪表地址 1，波特率 4800，校验 无"));
}

QTEST_GUILESS_MAIN(TestJournalAudit)
#include "tst_journal_audit.moc"
