#include "HistoryStore.h"
#include "Journal.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "LoopFace.h"
#include "LoopOverview.h"
#include "SparkFeed.h"
#include "StateColours.h"
#include "StationClock.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Loops as the station gives them to the overview: an image and a health per address.
struct Loops {
    explicit Loops(int count)
    {
        for (int a = 1; a <= count; ++a) {
            images.push_back(std::make_unique<LiveImage>());
            healths.push_back(std::make_unique<LinkHealth>());
            live(a);
            list.append(
                {a, a == 1 ? QStringLiteral("1区上部") : QString(), images.back().get(), healths.back().get(), {}});
        }
    }
    LiveImage& image(int address) { return *images.at(std::size_t(address - 1)); }
    LinkHealth& health(int address) { return *healths.at(std::size_t(address - 1)); }
    void live(int address)
    {
        health(address).onPortOpened();
        health(address).onCycle(true);
        image(address).CoilBits[1] = 1; // automatic
    }
    std::vector<std::unique_ptr<LiveImage>> images;
    std::vector<std::unique_ptr<LinkHealth>> healths;
    QVector<OverviewLoop> list;
};

class TestLoopOverview : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void faceplateStates_data();
    void faceplateStates();
    void unacknowledgedAlarmIsMarkedUntilAcknowledged();
    void navigationByKeysAndClicks();
    void sparklineHoldsTheLastTenMinutes();
};

void TestLoopOverview::faceplateStates_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("inAlarm");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("selfTune");
    QTest::addColumn<int>("link");
    QTest::addColumn<QColor>("background");
    const QColor grey(0xEE, 0xEE, 0xEE);
    const int live = int(FaceState::Link::Live), offline = int(FaceState::Link::Offline);
    QTest::newRow("normal") << "" << false << true << false << live << grey;
    QTest::newRow("alarm 1") << "alarm1" << true << true << false << live << StateColour::active();
    QTest::newRow("alarm 2") << "alarm2" << true << true << false << live << StateColour::active();
    // Only exactly 1 is a sensor fault, as in the main window.
    QTest::newRow("sensor open") << "open" << true << true << false << live << StateColour::active();
    QTest::newRow("sensor bit 2 is no fault") << "open2" << false << true << false << live << grey;
    QTest::newRow("manual") << "manual" << false << false << false << live << grey;
    QTest::newRow("self-tune") << "tune" << false << true << true << live << grey;
    // Old alarm bits of a silent loop: greyed, not red.
    QTest::newRow("offline in alarm") << "offline" << true << true << false << offline << StateColour::stale();
}

void TestLoopOverview::faceplateStates()
{
    QFETCH(QString, what);
    QFETCH(bool, inAlarm);
    QFETCH(bool, automatic);
    QFETCH(bool, selfTune);
    QFETCH(int, link);
    QFETCH(QColor, background);
    Loops loops(2);
    LiveImage& image = loops.image(2);
    image.Values[0] = 345;
    image.Values[1] = 45.5f;
    image.Values[2] = 350;
    if (what == "alarm1" || what == "offline")
        image.InputBits[0] = 1;
    if (what == "alarm2")
        image.InputBits[1] = 1;
    if (what == "open")
        image.InputBits[2] = 1;
    if (what == "open2")
        image.InputBits[2] = 2;
    if (what == "manual")
        image.CoilBits[1] = 0;
    if (what == "tune")
        image.CoilBits[0] = 1;
    if (what == "offline") {
        loops.health(2).setNoAnswerMs(20);
        loops.health(2).onCycle(true);
        QTRY_COMPARE(loops.health(2).state(), LinkHealth::State::NoAnswer);
    }
    LoopOverview overview(loops.list, nullptr);
    overview.refresh();
    auto* face = overview.findChild<LoopFace*>(QStringLiteral("LoopFace_2"));
    QVERIFY(face);
    const FaceState& s = face->state();
    QCOMPARE(s.inAlarm(), inAlarm);
    QCOMPARE(s.automatic, automatic);
    QCOMPARE(s.selfTune, selfTune);
    QCOMPARE(int(s.link), link);
    QCOMPARE(face->background(), background);
    QCOMPARE(s.pv, QStringLiteral("345"));
    QCOMPARE(s.op, QStringLiteral("45.5"));
    QCOMPARE(overview.findChild<LoopFace*>(QStringLiteral("LoopFace_1"))->title(), QStringLiteral("1区上部"));
    QCOMPARE(face->title(), QStringLiteral("回路 2"));
    QCOMPARE(overview.findChild<QPushButton*>(QStringLiteral("AlarmSummary"))->text(),
             QStringLiteral("报警回路 %1    通讯中断 %2    未确认报警 0")
                 .arg(inAlarm && link == int(FaceState::Link::Live) ? 1 : 0)
                 .arg(link == int(FaceState::Link::Offline) ? 1 : 0));
    if (link == int(FaceState::Link::Offline))
        QVERIFY(s.ageS >= 0);
}

void TestLoopOverview::unacknowledgedAlarmIsMarkedUntilAcknowledged()
{
    QTemporaryDir dir;
    Journal journal(dir.filePath(QStringLiteral("Journal.db")));
    Loops loops(3);
    LoopOverview overview(loops.list, &journal);
    QSignalSpy stored(&journal, &Journal::eventStored);
    JournalEvent raised;
    raised.kind = QStringLiteral("alarm");
    raised.source = QStringLiteral("alarm 1");
    raised.message = QStringLiteral("报警1（PV 412）");
    raised.loop = 2;
    journal.append(raised);
    JournalEvent cleared = raised;
    cleared.message = QStringLiteral("报警1解除（PV 380）");
    journal.append(cleared); // the alarm is gone; the mark stays until 确认
    QTRY_COMPARE(stored.size(), 2);
    LoopFace* two = overview.face(2);
    QTRY_COMPARE(two->state().unacknowledged, 1);
    QVERIFY(!two->state().inAlarm());
    QCOMPARE(two->frameColour(), QColor(0xC0, 0x10, 0x10));
    QCOMPARE(overview.face(3)->state().unacknowledged, 0);
    auto* summary = overview.findChild<QPushButton*>(QStringLiteral("AlarmSummary"));
    QVERIFY(summary->text().contains(QStringLiteral("未确认报警 1")));
    QSignalSpy clicked(&overview, &LoopOverview::alarmSummaryClicked);
    summary->click();
    QCOMPARE(clicked.size(), 1);

    journal.acknowledge({stored.first().first().value<JournalEvent>().id});
    QTRY_COMPARE(two->state().unacknowledged, 0);
    QCOMPARE(two->frameColour(), overview.face(1)->frameColour());
    QVERIFY(summary->text().contains(QStringLiteral("未确认报警 0")));
}

void TestLoopOverview::navigationByKeysAndClicks()
{
    // Five loops: 3 × 2, the second row one short.
    Loops loops(5);
    LoopOverview overview(loops.list, nullptr);
    overview.resize(900, 500);
    overview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&overview));
    QCOMPARE(overview.columns(), 3);
    QSignalSpy chosen(&overview, &LoopOverview::loopChosen);
    overview.face(1)->setFocus();
    auto press = [&](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    press(Qt::Key_Right); // stays at the row's end
    QCOMPARE(QApplication::focusWidget(), overview.face(3));
    press(Qt::Key_Down); // under 3 there is none: the short row's last
    QCOMPARE(QApplication::focusWidget(), overview.face(5));
    press(Qt::Key_Left);
    press(Qt::Key_Return);
    press(Qt::Key_Up);
    press(Qt::Key_Enter);
    QTest::mouseDClick(overview.face(5), Qt::LeftButton);
    QCOMPARE(chosen.size(), 3);
    QCOMPARE(chosen.at(0).first().toInt(), 4);
    QCOMPARE(chosen.at(1).first().toInt(), 1);
    QCOMPARE(chosen.at(2).first().toInt(), 5);

    QSignalSpy exit(&overview, &LoopOverview::exitRequested);
    QVERIFY(!overview.close()); // the close box alone does not end the station
    overview.findChild<QPushButton*>(QStringLiteral("OverviewExit"))->click();
    QCOMPARE(exit.size(), 1);
    QVERIFY(overview.close());
}

void TestLoopOverview::sparklineHoldsTheLastTenMinutes()
{
    // Across the ring's wrap, and a first read of the whole span.
    QCOMPARE(SparkFeed::rowsSince(kRingSize - 1, 3), 4);
    QCOMPARE(SparkFeed::rowsSince(0, 500), SparkFeed::kMaxRows);
    QCOMPARE(SparkFeed::rowsSince(100, 100 + 5000), SparkFeed::kMaxRows);

    const QDateTime now(QDate(2026, 12, 9), QTime(10, 0, 0));
    StationClock::setSource([now] { return now; });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("loop1.db"));
    HistoryStore store(QStringLiteral("ring"));
    QVERIFY(store.open(path));
    // 700 s of samples, a minute of them across the wrap, ending now.
    QList<HistoryRow> rows;
    for (int k = 0; k < 700; ++k) {
        const qint32 id = (kRingSize - 60 + k) % kRingSize + 1;
        rows << HistoryRow::sample(id, OleTime::fromDateTime(now.addSecs(k - 699)), {float(300 + k % 7), 0, 320, 0});
    }
    QVERIFY(store.writeSamples(HistoryRing::Short, rows));

    Loops loops(1);
    loops.list[0].historyPath = path;
    LoopOverview overview(loops.list, nullptr);
    overview.resize(400, 260);
    LoopFace* face = overview.face(1);
    overview.pollSparklines();
    // The last ten minutes only: 600 s back and the sample of now.
    QTRY_COMPARE(face->spark().size(), 601);

    const QDateTime later = now.addSecs(3);
    StationClock::setSource([later] { return later; });
    QList<HistoryRow> more;
    for (int k = 1; k <= 3; ++k)
        more << HistoryRow::sample(rows.last().id + k, OleTime::fromDateTime(now.addSecs(k)), {310, 0, 320, 0});
    QVERIFY(store.writeSamples(HistoryRing::Short, more));
    overview.pollSparklines();
    const double newest = SparkFeed::secondsOf(OleTime::dayNumber(later.date()), OleTime::dayFraction(later.time()));
    QTRY_COMPARE(face->spark().constLast().t, newest);
    QCOMPARE(face->spark().size(), 601);
    QCOMPARE(face->spark().constLast().pv, 310.0f);
    QCOMPARE(face->spark().constFirst().t, newest - SparkFeed::kSpanS);
    StationClock::setSource({});
}

QTEST_MAIN(TestLoopOverview)
#include "tst_loop_overview.moc"
