#include "FakeHistory.h"
#include "TrendGeometry.h"
#include "TrendModel.h"
#include "TrendScale.h"

#include <QtTest>
#include <memory>

using namespace TrendGeometry;

namespace {
const QDateTime kStart(QDate(2026, 3, 1), QTime(10, 0, 0));

float pvAt(const TrendModel& m, int slot) { return m.buffer().channelValue[TrendBuffer::PV][slot]; }

int filledSlots(const TrendModel& m)
{
    int n = 0;
    for (int s = 0; s < kTrendSlots; ++s)
        n += pvAt(m, s) != 0.0f;
    return n;
}

// Ids (PV = id in FakeHistory) of the samples drawn on the chart at the
// model's zoom level: slot FirstSlot + 1 at x = 0 up to the cursor or the
// chart's right edge.
QSet<int> idsOnScreen(const TrendModel& m)
{
    QSet<int> ids;
    const TrendViewState& v = m.view();
    for (int s = v.firstSlot + kSlotAtOrigin; s <= v.sampleCursor; ++s) {
        if (pointX(s - v.firstSlot - kSlotAtOrigin, v.sampleStep) > kChartWidth)
            break;
        if (pvAt(m, s) != 0.0f)
            ids.insert(int(pvAt(m, s)));
    }
    return ids;
}

void setZoom(TrendModel& m, int zoom)
{
    while (m.view().zoomLevel < zoom)
        m.zoomOut();
    while (m.view().zoomLevel > zoom)
        m.zoomIn();
}

// Filled slots hold their samples oldest first.
bool chronological(const TrendModel& m)
{
    double last = -1.0;
    for (int s = 1; s < kTrendSlots; ++s) {
        const double t = m.buffer().sampleDate[s] + m.buffer().sampleTime[s];
        if (m.buffer().sampleDate[s] == 0.0)
            continue;
        if (t <= last)
            return false;
        last = t;
    }
    return true;
}

TrendViewState viewAt(int zoom, int cursor, int pageSize)
{
    TrendViewState v;
    v.zoomLevel = qint16(zoom);
    v.sampleStep = kZoomTable[zoom - 1].sampleStep;
    v.firstSlot = kZoomTable[zoom - 1].firstSlot;
    v.sampleCursor = qint16(cursor);
    v.pageSize = pageSize;
    return v;
}
} // namespace

class TestTrendModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pageSelection_data();
    void pageSelection();
    void gapMarks_data();
    void gapMarks();
    void timeAxis_data();
    void timeAxis();
    void valueScale_data();
    void valueScale();
    void curveSegments_data();
    void curveSegments();
    void gapMarkerAndClipping();
    void pagingFromNewest1000();
    void pagingFromNewest350();
    void pagingRoundTheWrap();
    void everySampleOnScreen_data();
    void everySampleOnScreen();
    void liveViewReachedWithRulerOn_data();
    void liveViewReachedWithRulerOn();
    void rulerSlot_data();
    void rulerSlot();
    void rulerOffReturnsToLiveView();
    void yRangeEntries_data();
    void yRangeEntries();
    void liveSamplesStartNewPage();
    void zoomInWithFullRunOn();
    void timeJump_data();
    void timeJump();
    void unreadableHistory();
};

void TestTrendModel::pageSelection_data()
{
    QTest::addColumn<int>("firstId"); // first id recorded
    QTest::addColumn<int>("count");   // samples recorded (wrapping after 65500)
    QTest::addColumn<int>("pageEndId");
    QTest::addColumn<int>("idAtSlot1");
    QTest::addColumn<int>("slotOfNewest");
    QTest::addColumn<int>("filled");
    // A short page ends at slot 241 like every other; its first slots stay empty.
    QTest::newRow("newest 100, never wrapped") << 1 << 100 << 100 << 0 << 241 << 100;
    QTest::newRow("newest 100, wrapped ring") << 101 << kRingSize << 100 << 65360 << 241 << 241;
    QTest::newRow("newest 500") << 1 << 500 << 500 << 260 << 241 << 241;
    QTest::newRow("newest 241 exactly") << 1 << 241 << 241 << 1 << 241 << 241;
    QTest::newRow("newest 0, nothing recorded") << 1 << 0 << 0 << 0 << 0 << 0;
}

void TestTrendModel::pageSelection()
{
    QFETCH(int, firstId);
    QFETCH(int, count);
    QFETCH(int, pageEndId);
    QFETCH(int, idAtSlot1);
    QFETCH(int, slotOfNewest);
    QFETCH(int, filled);
    FakeHistory history;
    history.addRun(firstId, count, kStart);
    if (count == 0)
        history.newest[0] = 0;
    TrendModel model(HistoryRing::Short, &history);
    model.load();

    QCOMPARE(history.pageCalls.size(), 1);
    QCOMPARE(history.pageCalls[0].pageEndId, pageEndId);
    QCOMPARE(history.pageCalls[0].pageSize, kLivePageSize);
    QCOMPARE(model.view().sampleCursor, kLivePageSize);
    QCOMPARE(int(pvAt(model, 1)), idAtSlot1);
    QCOMPARE(filledSlots(model), filled);
    if (slotOfNewest > 0)
        QCOMPARE(int(pvAt(model, slotOfNewest)), pageEndId);
    // Oldest first, even across the wrap.
    const int first = kLivePageSize - filled + 1;
    for (int s = first + 1; s <= kLivePageSize; ++s)
        QVERIFY(model.buffer().sampleTime[s] > model.buffer().sampleTime[s - 1]);
    if (filled > 0 && filled < kLivePageSize) {
        // The first sample after the empty slots is marked: its time differs from 0.
        QCOMPARE(int(model.buffer().gapMark[first]), first);
        QCOMPARE(int(model.buffer().gapMark[first + 1]), 0);
    }
}

void TestTrendModel::gapMarks_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<int>("gapSeconds");
    QTest::addColumn<bool>("slot1Marked");
    QTest::addColumn<bool>("gapMarked");
    QTest::newRow("5 min 1 s") << QTime(10, 0) << 301 << true << true;
    QTest::newRow("4 min 59 s") << QTime(10, 0) << 299 << true << false;
    QTest::newRow("exactly 5 min") << QTime(10, 0) << 300 << true << true;
    QTest::newRow("first sample 4 min 59 s after midnight") << QTime(0, 4, 59) << 1 << false << false;
    QTest::newRow("first sample 5 min 1 s after midnight") << QTime(0, 5, 1) << 1 << true << false;
}

void TestTrendModel::gapMarks()
{
    QFETCH(QTime, start);
    QFETCH(int, gapSeconds);
    QFETCH(bool, slot1Marked);
    QFETCH(bool, gapMarked);
    const QDateTime t0(QDate(2026, 3, 1), start);
    FakeHistory history;
    history.addRun(1, 200, t0);
    history.addRun(201, 41, t0.addSecs(199 + gapSeconds));
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    const auto& marks = model.buffer().gapMark;
    QCOMPARE(int(marks[1]), slot1Marked ? 1 : 0);
    QCOMPARE(int(marks[201]), gapMarked ? 201 : 0);
    int others = 0;
    for (int s = 2; s < kTrendSlots; ++s)
        others += s != 201 && marks[s] != 0;
    QCOMPARE(others, 0);
}

void TestTrendModel::timeAxis_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("factor");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QTime>("newest");
    QTest::addColumn<QString>("label7");
    QTest::addColumn<QString>("label8");
    QTest::addColumn<QDate>("date");
    const QDate next(2026, 3, 2);
    QTest::newRow("across midnight") << 1 << 1 << 241 << QTime(23, 59, 55) << "00:00:05"
                                     << "00:00:15" << next;
    QTest::newRow("zoom 4") << 4 << 1 << 241 << QTime(23, 59, 55) << "00:00:35"
                            << "00:01:15" << next;
    QTest::newRow("history window") << 1 << 10 << 241 << QTime(23, 59, 55) << "00:01:35"
                                    << "00:03:15" << next;
    QTest::newRow("same day") << 1 << 1 << 241 << QTime(12, 0, 0) << "12:00:10"
                              << "12:00:20" << QDate(2026, 3, 1);
    QTest::newRow("paged view reads empty slots") << 1 << 1 << 321 << QTime(12, 0, 0) << "00:00:00"
                                                  << "00:00:00" << QDate(1899, 12, 30);
}

void TestTrendModel::timeAxis()
{
    QFETCH(int, zoom);
    QFETCH(int, factor);
    QFETCH(int, pageSize);
    QFETCH(QTime, newest);
    QFETCH(QString, label7);
    QFETCH(QString, label8);
    QFETCH(QDate, date);
    const QDate day(2026, 3, 1);
    TrendBuffer buffer;
    for (int s = 1; s <= kLivePageSize; ++s) {
        buffer.sampleDate[s] = OleTime::dayNumber(day);
        buffer.sampleTime[s] = OleTime::dayFraction(newest.addSecs(s - kLivePageSize));
    }
    const TrendViewState view = viewAt(zoom, 241, pageSize);
    const auto labels = TrendGeometry::timeAxis(buffer, view, factor);
    QCOMPARE(OleTime::timeText(labels[0].time), OleTime::timeText(buffer.sampleTime[view.firstSlot + 1]));
    QCOMPARE(OleTime::timeText(labels[6].time), OleTime::timeText(buffer.sampleTime[241]));
    QCOMPARE(OleTime::timeText(labels[7].time), label7);
    QCOMPARE(OleTime::timeText(labels[8].time), label8);
    QCOMPARE(OleTime::toDate(labels[7].date), date);
    QCOMPARE(OleTime::toDate(labels[8].date), date);
}

void TestTrendModel::valueScale_data()
{
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<float>("value");
    QTest::addColumn<qint64>("y");
    QTest::newRow("bottom 100: 100 on the bottom edge") << 500 << 100 << 100.0f << qint64(7508);
    QTest::newRow("bottom 100: 600 at 7500 up") << 500 << 100 << 600.0f << qint64(8);
    QTest::newRow("bottom 100: 350 half way") << 500 << 100 << 350.0f << qint64(3758);
    QTest::newRow("zero span") << 0 << 0 << 500.0f << qint64(7508);
    QTest::newRow("zero span, bottom 100") << 0 << 100 << 500.0f << qint64(7508);
    QTest::newRow("narrow range near the top") << 100 << 11000 << 11050.0f << qint64(3758);
    QTest::newRow("lowest bottom") << 14400 << -2400 << -2400.0f << qint64(7508);
    QTest::newRow("above the scale") << 1500 << 0 << 3000.0f << qint64(-7492);
}

void TestTrendModel::valueScale()
{
    QFETCH(int, span);
    QFETCH(int, bottom);
    QFETCH(float, value);
    QFETCH(qint64, y);
    const ValueScale scale = TrendGeometry::valueScale(TrendScale{qint16(span), qint16(bottom)});
    QCOMPARE(valueY(value, scale), y);
}

void TestTrendModel::curveSegments_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("segments");
    QTest::addColumn<QLineF>("first");
    QTest::addColumn<QLineF>("third");
    QTest::addColumn<QLineF>("last");
    // PV of slot s is s on a 0..7500 scale, so y = 7508 - s.
    QTest::newRow("zoom 4 paged") << 4 << 321 << 321 << 320 << QLineF(0, 7507, 38, 7506) << QLineF(75, 7505, 112, 7504)
                                  << QLineF(11962, 7188, 12000, 7187);
    QTest::newRow("zoom 1 live") << 1 << 241 << 241 << 60 << QLineF(0, 7327, 150, 7326) << QLineF(300, 7325, 450, 7324)
                                 << QLineF(8850, 7268, 9000, 7267);
    QTest::newRow("zoom 1 paged, clipped at the right")
        << 1 << 321 << 321 << 81 << QLineF(0, 7327, 150, 7326) << QLineF(300, 7325, 450, 7324)
        << QLineF(12000, 7247, 12008, 7246.946667);
}

void TestTrendModel::curveSegments()
{
    QFETCH(int, zoom);
    QFETCH(int, cursor);
    QFETCH(int, pageSize);
    QFETCH(int, segments);
    QFETCH(QLineF, first);
    QFETCH(QLineF, third);
    QFETCH(QLineF, last);
    TrendBuffer buffer;
    for (int s = 0; s < kTrendSlots; ++s)
        buffer.channelValue[TrendBuffer::PV][s] = float(s);
    TrendPlot plot;
    plotTrend(buffer, viewAt(zoom, cursor, pageSize), TrendScale{7500, 0}, plot);
    QCOMPARE(plot.pv.size(), segments);
    QCOMPARE(plot.sv.size(), segments);
    QCOMPARE(plot.op.size(), segments);
    QCOMPARE(plot.pv.first(), first);
    QCOMPARE(plot.pv.at(2), third);
    QVERIFY2(
        qAbs(plot.pv.last().x2() - last.x2()) < 1e-3 && qAbs(plot.pv.last().y2() - last.y2()) < 1e-3,
        qPrintable(QStringLiteral("last segment ends at %1,%2").arg(plot.pv.last().x2()).arg(plot.pv.last().y2())));
    QCOMPARE(plot.pv.last().p1(), last.p1());
    // SV and OP at 0 lie on the bottom edge.
    QCOMPARE(plot.sv.first().y1(), 7508.0);
    QCOMPARE(plot.op.last().y2(), 7508.0);
}

void TestTrendModel::gapMarkerAndClipping()
{
    TrendBuffer buffer;
    buffer.gapMark[200] = 200;
    buffer.channelValue[TrendBuffer::PV].fill(3000.0f); // twice the scale: above the chart
    buffer.channelValue[TrendBuffer::OP].fill(1.0f);    // 62.5 units: halves go to even
    TrendPlot plot;
    plotTrend(buffer, viewAt(1, 241, 241), TrendScale{}, plot);
    QCOMPARE(plot.gapMarkers.size(), 1);
    QCOMPARE(plot.gapMarkers[0], QLineF(2850, 0, 2850, kChartHeight));
    QVERIFY(plot.pv.isEmpty()); // wholly off the chart
    QCOMPARE(plot.op[0], QLineF(0, 7446, 150, 7446));
    QCOMPARE(opY(120.0f), qint64(8));
}

void TestTrendModel::pagingFromNewest1000()
{
    FakeHistory history;
    history.addRun(1, 1000, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();

    // The first older page ends at the newest sample: on zoom level 1 it
    // shows ids 860..940, next to the live view's 940..1000.
    TrendCommandResult r = model.olderPage();
    QCOMPARE(r.tick, TickRequest::Stop);
    QVERIFY(r.pageLoaded);
    QCOMPARE(model.view().pageEndId, 1000);
    QCOMPARE(model.view().pageSize, kPagedPageSize);
    QCOMPARE(model.view().sampleCursor, kPagedPageSize);
    QCOMPARE(int(pvAt(model, 1)), 680);
    QCOMPARE(int(pvAt(model, 321)), 1000);
    QCOMPARE(int(pvAt(model, 181)), 860);
    QVERIFY(model.enabling().newer);

    // Pages 2..16 end 60 apart; from id 280 on they hold fewer than 321
    // samples, right-aligned; the sixteenth (ids 1..100) shows id 1 at
    // slot 222, on screen on every zoom level.
    for (int page = 2; page <= 16; ++page)
        QVERIFY(model.olderPage().pageLoaded);
    QCOMPARE(model.view().pageEndId, 100);
    QCOMPARE(int(pvAt(model, 222)), 1);
    QCOMPARE(int(pvAt(model, 221)), 0);
    const int loads = history.pageCalls.size();

    r = model.olderPage(); // the seventeenth: nothing older is stored
    QVERIFY(!r.pageLoaded);
    QVERIFY(model.nav().olderBlocked);
    QVERIFY(!model.enabling().older);
    QCOMPARE(history.pageCalls.size(), loads);
    QCOMPARE(model.view().pageEndId, 100);
    QCOMPARE(int(pvAt(model, 321)), 100);

    r = model.newerPage(); // back to the sixteenth page
    QVERIFY(r.pageLoaded);
    QCOMPARE(r.tick, TickRequest::None);
    QCOMPARE(model.nav().pagesBack, qint16(16));
    QCOMPARE(model.view().pageEndId, 100);
    QVERIFY(!model.nav().olderBlocked);
    QVERIFY(model.enabling().older);
}

void TestTrendModel::pagingFromNewest350()
{
    // 350 samples now page back to id 1; the first F7 is blocked when the
    // live view itself shows the oldest sample (here 50 samples, slots 192..241).
    FakeHistory history;
    history.addRun(1, 50, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    const TrendCommandResult r = model.olderPage();
    QCOMPARE(r.tick, TickRequest::Stop); // the display freezes on the live page
    QVERIFY(!r.pageLoaded);
    QVERIFY(model.nav().olderBlocked);
    QCOMPARE(model.nav().pagesBack, qint16(1));
    QCOMPARE(model.view().pageSize, kPagedPageSize);
    QCOMPARE(model.view().sampleCursor, qint16(kLivePageSize));
    // With PageSize 321 labels 7 and 8 come from the (empty) slots 251 and 261.
    const auto labels = TrendGeometry::timeAxis(model.buffer(), model.view(), 1);
    QCOMPARE(labels[7].time, 0.0);
    QCOMPARE(labels[8].date, 0.0);

    const TrendCommandResult back = model.newerPage();
    QCOMPARE(back.tick, TickRequest::Restart);
    QCOMPARE(model.nav().pagesBack, qint16(0));
    QCOMPARE(model.view().pageSize, kLivePageSize);
    QVERIFY(!model.enabling().newer);
    // Back in the live view older pages may be asked for again.
    QVERIFY(!model.nav().olderBlocked);
    QVERIFY(model.enabling().older);
}

void TestTrendModel::pagingRoundTheWrap()
{
    FakeHistory history;
    history.addRun(31, kRingSize, kStart); // full ring, newest id 30
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    QCOMPARE(model.view().newestId, 30);
    QVERIFY(model.olderPage().pageLoaded); // ends at the newest, across the wrap
    QCOMPARE(model.view().pageEndId, 30);
    QCOMPARE(int(pvAt(model, 290)), kRingSize - 1);
    QVERIFY(model.olderPage().pageLoaded);
    QCOMPARE(model.view().pageEndId, kRingSize - 30);
    QCOMPARE(int(pvAt(model, 321)), kRingSize - 30);
    QCOMPARE(int(pvAt(model, 1)), kRingSize - 30 - 320);
}

void TestTrendModel::everySampleOnScreen_data()
{
    QTest::addColumn<int>("firstId");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("pages"); // older pages loaded before F7 is blocked
    QTest::newRow("1000, never wrapped") << 1 << 1000 << 16;
    QTest::newRow("100, never wrapped") << 1 << 100 << 1;
    QTest::newRow("61, never wrapped") << 1 << 61 << 0;
    QTest::newRow("62, never wrapped") << 1 << 62 << 1;
    QTest::newRow("wrapped, oldest 65001, newest 100") << 65001 << 600 << 9;
    // Newest 100: the first older page crosses the wrap; the last ends
    // where the ring's oldest sample (101) is, never taking the newest again.
    QTest::newRow("full ring, newest 100") << 101 << kRingSize << 1091;
}

void TestTrendModel::everySampleOnScreen()
{
    QFETCH(int, firstId);
    QFETCH(int, count);
    QFETCH(int, pages);
    FakeHistory history;
    history.addRun(firstId, count, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    std::array<QSet<int>, 4> seen;
    auto look = [&] {
        QVERIFY(chronological(model));
        for (int zoom = 1; zoom <= 4; ++zoom) {
            setZoom(model, zoom);
            seen[zoom - 1] += idsOnScreen(model);
        }
        setZoom(model, 1);
    };
    look();
    int loaded = 0;
    while (!model.nav().olderBlocked && loaded <= pages) {
        if (model.olderPage().pageLoaded) {
            ++loaded;
            look();
        }
    }
    QCOMPARE(loaded, pages);
    for (int zoom = 1; zoom <= 4; ++zoom)
        QVERIFY2(seen[zoom - 1].size() == count,
                 qPrintable(QStringLiteral("zoom %1 shows %2 of %3").arg(zoom).arg(seen[zoom - 1].size()).arg(count)));
}

void TestTrendModel::liveViewReachedWithRulerOn_data()
{
    QTest::addColumn<bool>("bySlider");
    QTest::newRow("F6") << false;
    QTest::newRow("slider's right end") << true;
}

void TestTrendModel::liveViewReachedWithRulerOn()
{
    // Back in the live view with the ruler still on the display stays
    // frozen, or its tick would overwrite the readout; switching the ruler
    // off restarts it.
    QFETCH(bool, bySlider);
    FakeHistory history;
    history.addRun(1, 2000, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    model.setRuler(true);
    model.olderPage();
    const TrendCommandResult r = bySlider ? model.moveRuler(kRulerMax).command : model.newerPage();
    QVERIFY(r.pageLoaded);
    QCOMPARE(r.tick, TickRequest::None);
    QCOMPARE(model.nav().pagesBack, qint16(0));
    QCOMPARE(model.view().pageSize, kLivePageSize);
    QVERIFY(model.nav().rulerOn);
    QVERIFY(model.enabling().slider);
    QCOMPARE(model.setRuler(false).tick, TickRequest::Restart);
}

void TestTrendModel::rulerSlot_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("slot");
    // The slot drawn nearest the line: slot FirstSlot + 1 at x = 0.
    QTest::newRow("1499 at zoom 1") << 1499 << 1 << 191;
    QTest::newRow("left end at zoom 1") << -1 << 1 << 181;
    QTest::newRow("9000 at zoom 1") << 9000 << 1 << 241;
    QTest::newRow("right end at zoom 1") << 12001 << 1 << 261;
    QTest::newRow("right end at zoom 4") << 12001 << 4 << 321;
    QTest::newRow("half step rounds to even") << 75 << 1 << 181;
    QTest::newRow("zoom 4, 18.75 rounds up") << 19 << 4 << 2;
}

void TestTrendModel::rulerSlot()
{
    QFETCH(int, position);
    QFETCH(int, zoom);
    QFETCH(int, slot);
    QCOMPARE(int(TrendGeometry::rulerSlot(position, kZoomTable[zoom - 1].sampleStep, kZoomTable[zoom - 1].firstSlot)),
             slot);
}

void TestTrendModel::rulerOffReturnsToLiveView()
{
    FakeHistory history;
    history.addRun(1, 2000, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    model.setRuler(true);
    model.olderPage();
    model.olderPage();
    history.addRun(2001, 5, kStart.addSecs(2000));
    const TrendCommandResult r = model.setRuler(false);
    QCOMPARE(r.tick, TickRequest::Restart);
    QVERIFY(r.pageLoaded);
    QCOMPARE(model.view().newestId, 2005);
    QCOMPARE(model.view().pageEndId, 2005);
    QCOMPARE(model.view().pageSize, kLivePageSize);
    QCOMPARE(model.nav().pagesBack, qint16(0));
    QVERIFY(!model.enabling().newer);
    QVERIFY(!model.enabling().slider);
    QCOMPARE(model.rulerLine().colour, QColor(0, 255, 0));
}

void TestTrendModel::yRangeEntries_data()
{
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("min");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("bottom");
    QTest::newRow("100 to 500") << "500"
                                << "100" << true << 400 << 100;
    QTest::newRow("history window: 800, hidden min 0") << "800"
                                                       << "0" << true << 800 << 0;
    QTest::newRow("max 12001") << "12001"
                               << "0" << false << 0 << 0;
    QTest::newRow("max 12000") << "12000"
                               << "11900" << true << 100 << 11900;
    QTest::newRow("min 11901") << "12000"
                               << "11901" << false << 0 << 0;
    QTest::newRow("min above max") << "100"
                                   << "200" << false << 0 << 0;
    QTest::newRow("lowest range") << "-2300"
                                  << "-2400" << true << 100 << -2400;
    QTest::newRow("equal: zero span") << "100"
                                      << "100" << true << 0 << 100;
    QTest::newRow("halves to even") << "100.5"
                                    << "0.5" << true << 100 << 0;
    QTest::newRow("numeric prefix") << "600abc"
                                    << " 1 00" << true << 500 << 100;
    QTest::newRow("unrepresentable") << "1e400"
                                     << "0" << false << 0 << 0;
}

void TestTrendModel::yRangeEntries()
{
    QFETCH(QString, max);
    QFETCH(QString, min);
    QFETCH(bool, accepted);
    QFETCH(int, span);
    QFETCH(int, bottom);
    const auto scale = trendScaleFromEntries(max, min);
    QCOMPARE(scale.has_value(), accepted);
    if (accepted) {
        QCOMPARE(int(scale->span), span);
        QCOMPARE(int(scale->bottom), bottom);
    }
}

void TestTrendModel::liveSamplesStartNewPage()
{
    FakeHistory history;
    history.addRun(1, 1000, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    const OleStamp now = OleTime::fromDateTime(kStart.addSecs(1000));
    for (int n = 1; n <= 19; ++n) {
        history.addRun(1000 + n, 1, kStart.addSecs(999 + n));
        QVERIFY(!model.appendLiveSample(1.0f, 2.0f, 3.0f, now));
        QCOMPARE(int(model.view().sampleCursor), 241 + n);
    }
    QCOMPARE(model.buffer().channelValue[TrendBuffer::SV][260], 3.0f);
    history.addRun(1020, 1, kStart.addSecs(1019));
    QVERIFY(model.appendLiveSample(42.0f, 5.0f, 43.0f, now)); // the twentieth
    QCOMPARE(history.pageCalls.last().pageEndId, 1020);
    QCOMPARE(model.view().sampleCursor, qint16(241));
    QCOMPARE(pvAt(model, 241), 42.0f);
    QCOMPARE(pvAt(model, 240), 1019.0f);
    QCOMPARE(model.buffer().sampleTime[241], now.time);
    QCOMPARE(pvAt(model, 242), 0.0f);
}

void TestTrendModel::zoomInWithFullRunOn()
{
    // Zoom 2 lets the run-on area take 40 samples; zooming in to 1 with 30
    // already there must still start a new page at the next sample.
    FakeHistory history;
    history.addRun(1, 1000, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    model.zoomOut();
    for (int n = 0; n < 30; ++n)
        QVERIFY(!model.appendLiveSample(1.0f, 1.0f, 1.0f, {}));
    QVERIFY(model.zoomIn());
    QVERIFY(model.appendLiveSample(7.0f, 1.0f, 1.0f, {}));
    QCOMPARE(model.view().sampleCursor, qint16(241));
    QCOMPARE(pvAt(model, 241), 7.0f);
}

void TestTrendModel::timeJump_data()
{
    QTest::addColumn<int>("firstId");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("pagesBack"); // 0: the live view
    // Full ring, newest id 1000.
    QTest::newRow("newest sample") << 1001 << kRingSize << 1000 << 0;
    QTest::newRow("60 before the newest") << 1001 << kRingSize << 940 << 0;
    QTest::newRow("61 before the newest") << 1001 << kRingSize << 939 << 1;
    QTest::newRow("on the page grid") << 1001 << kRingSize << 700 << 4;
    QTest::newRow("between grid pages") << 1001 << kRingSize << 650 << 5;
    QTest::newRow("below 321") << 1001 << kRingSize << 100 << 14;
    QTest::newRow("before the wrap") << 1001 << kRingSize << 65000 << 24;
    QTest::newRow("oldest of a full ring") << 1001 << kRingSize << 1001 << 1091;
    QTest::newRow("never wrapped, id 1") << 1 << 1000 << 1 << 16;
    QTest::newRow("never wrapped, id 10") << 1 << 1000 << 10 << 16;
}

void TestTrendModel::timeJump()
{
    // The chosen sample is on screen on every zoom level with the ruler on it.
    QFETCH(int, firstId);
    QFETCH(int, count);
    QFETCH(int, target);
    QFETCH(int, pagesBack);
    // Filling a full ring takes a while: rows share their history.
    static QMap<QPair<int, int>, std::shared_ptr<FakeHistory>> histories;
    auto& shared = histories[qMakePair(firstId, count)];
    if (!shared) {
        shared = std::make_shared<FakeHistory>();
        shared->addRun(firstId, count, kStart);
    }
    FakeHistory& history = *shared;
    for (int zoom = 1; zoom <= 4; ++zoom) {
        TrendModel model(HistoryRing::Short, &history);
        model.load();
        setZoom(model, zoom);
        const auto jump = model.jumpToId(target);
        QVERIFY(jump);
        QCOMPARE(jump->command.tick, TickRequest::Stop);
        QCOMPARE(int(model.nav().pagesBack), pagesBack);
        QCOMPARE(model.view().pageSize, pagesBack == 0 ? kLivePageSize : kPagedPageSize);
        QCOMPARE(int(pvAt(model, jump->slot)), target);
        QVERIFY(model.nav().rulerOn);
        QVERIFY(model.enabling().slider);
        QCOMPARE(model.rulerLine().x, jump->rulerPosition);
        QCOMPARE(TrendGeometry::rulerSlot(jump->rulerPosition, model.view().sampleStep, model.view().firstSlot),
                 jump->slot);
        for (int z = 1; z <= 4; ++z) {
            setZoom(model, z);
            QVERIFY2(idsOnScreen(model).contains(target), qPrintable(QStringLiteral("zoom %1").arg(z)));
        }
        // Paging goes on from there on the usual grid.
        QCOMPARE(model.enabling().newer, pagesBack > 0);
        if (pagesBack > 0) {
            QVERIFY(model.newerPage().pageLoaded);
            QCOMPARE(int(model.nav().pagesBack), pagesBack - 1);
        }
    }
    FakeHistory empty;
    TrendModel none(HistoryRing::Short, &empty);
    none.load();
    QVERIFY(!none.jumpToId(0));
    QVERIFY(!none.jumpToId(kRingSize + 1));
}

void TestTrendModel::unreadableHistory()
{
    TrendModel none(HistoryRing::Short, nullptr);
    none.load();
    QCOMPARE(filledSlots(none), 0);
    QCOMPARE(none.view().newestId, 0);

    FakeHistory history;
    history.addRun(1, 500, kStart);
    TrendModel model(HistoryRing::Short, &history);
    model.load();
    history.pagesFail = true;
    history.newest[0].reset(); // counter unreadable: the previous newest id stays
    model.olderPage();
    QCOMPARE(filledSlots(model), 0);
    for (int s = 0; s < kTrendSlots; ++s)
        QCOMPARE(int(model.buffer().gapMark[s]), 0);
    model.newerPage();
    QCOMPARE(model.view().newestId, 500);
    QCOMPARE(model.view().pageEndId, 500);
}

QTEST_GUILESS_MAIN(TestTrendModel)
#include "tst_trendmodel.moc"
