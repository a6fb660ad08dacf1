// A trend read through a HistoryReader (a thread of its own, answers later)
// against the same file read at once: after the same keys pressed without
// waiting, both end in the same state, and no superseded page is ever shown.
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "TrendHistory.h"
#include "TrendView.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
const QDateTime kStart(QDate(2026, 3, 1), QTime(10, 0, 0));

// Samples 1..count one second apart, PV = id.
bool writeHistory(const QString& path, int count)
{
    HistoryStore store(QStringLiteral("writer"));
    if (!store.open(path))
        return false;
    QList<HistoryRow> rows;
    for (int i = 1; i <= count; ++i) {
        const OleStamp s = OleTime::fromDateTime(kStart.addSecs(i));
        rows << HistoryRow{i, s.date, s.time, float(i), float(i % 100), float(i) + 1.0f, 0.0f};
    }
    return store.writeSamples(HistoryRing::Short, rows);
}

struct Pair {
    QTemporaryDir dir;
    TrendScale scale;
    HistoryStore store{QStringLiteral("direct")};
    HistoryReader reader{QStringLiteral("async")};
    std::unique_ptr<TrendView> direct;
    std::unique_ptr<TrendView> async;

    explicit Pair(int samples)
    {
        const QString path = dir.filePath(QStringLiteral("h.db"));
        QVERIFY(writeHistory(path, samples));
        QVERIFY(store.open(path));
        reader.open(path);
        direct = std::make_unique<TrendView>(TrendStyle::realTime(), &store, scale);
        async = std::make_unique<TrendView>(TrendStyle::realTime(), TrendHistory::through(&reader), scale);
        direct->load();
        async->load();
    }
    const TrendModel& model() const { return async->model(); }
    bool settled() const { return !model().waiting(); }
};

bool same(const TrendModel& a, const TrendModel& b)
{
    const auto& v = a.view();
    const auto& w = b.view();
    return a.nav().pagesBack == b.nav().pagesBack && a.nav().olderBlocked == b.nav().olderBlocked
           && a.enabling().older == b.enabling().older && a.enabling().newer == b.enabling().newer
           && v.pageEndId == w.pageEndId && v.pageSize == w.pageSize && v.sampleCursor == w.sampleCursor
           && v.newestId == w.newestId && a.buffer().sampleDate == b.buffer().sampleDate
           && a.buffer().sampleTime == b.buffer().sampleTime && a.buffer().channelValue == b.buffer().channelValue
           && a.buffer().gapMark == b.buffer().gapMark;
}

// The newest sample's PV of a page: its id.
float newestPv(const TrendModel& m) { return m.buffer().channelValue[TrendBuffer::PV][m.view().pageSize]; }

} // namespace

class TestTrendAsync : public QObject {
    Q_OBJECT
private slots:
    void sameEndAsAtOnce_data();
    void sameEndAsAtOnce();
    void supersededPageNeverShown();
    void liveSamplesKeptOverLatePage();
};

void TestTrendAsync::sameEndAsAtOnce_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<QString>("keys"); // 7 = F7, 6 = F6, 4 = F4
    QTest::newRow("two older pages") << 2000 << "77";
    QTest::newRow("older pages up to the oldest sample") << 200 << "77777";
    QTest::newRow("older then newer: back to live") << 2000 << "76";
    QTest::newRow("older, older, newer") << 2000 << "776";
    QTest::newRow("older, newer, older") << 2000 << "767";
    QTest::newRow("blocked, then newer") << 200 << "7776";
    QTest::newRow("ruler on and off while paged") << 2000 << "7744";
}

void TestTrendAsync::sameEndAsAtOnce()
{
    QFETCH(int, samples);
    QFETCH(QString, keys);
    Pair p(samples);
    QTRY_VERIFY(p.settled());
    QVERIFY(same(p.model(), p.direct->model()));
    for (const QChar k : keys) {
        const int key = k == QLatin1Char('7') ? Qt::Key_F7 : k == QLatin1Char('6') ? Qt::Key_F6 : Qt::Key_F4;
        p.direct->handleKey(key);
        p.async->handleKey(key); // no waiting between keys
    }
    QTRY_VERIFY(p.settled());
    QVERIFY(same(p.model(), p.direct->model()));
}

void TestTrendAsync::supersededPageNeverShown()
{
    Pair p(2000);
    QTRY_VERIFY(p.settled());
    QCOMPARE(newestPv(p.model()), 2000.0f);
    QList<float> shown;
    // Every page that lands, as the view would show it.
    auto* model = const_cast<TrendModel*>(&p.model());
    model->setLateResultHandler([&](const TrendCommandResult&) { shown << newestPv(p.model()); });
    // Two pages back, then F6 and at once the ruler off: the page F6 asked
    // for is superseded by the live page.
    p.async->handleKey(Qt::Key_F7);
    p.async->handleKey(Qt::Key_F7);
    QTRY_VERIFY(p.settled());
    QCOMPARE(p.model().nav().pagesBack, qint16(2));
    shown.clear();
    p.async->handleKey(Qt::Key_F6);
    p.async->handleKey(Qt::Key_F4);
    p.async->handleKey(Qt::Key_F4);
    QTRY_VERIFY(p.settled());
    QCOMPARE(shown, QList<float>{2000.0f});
    QCOMPARE(p.model().nav().pagesBack, qint16(0));
}

void TestTrendAsync::liveSamplesKeptOverLatePage()
{
    Pair p(500);
    QTRY_VERIFY(p.settled());
    // Fill the run-on area: the next sample starts a new live page, whose
    // rows come later than the samples appended meanwhile.
    for (int i = 0; i < 19; ++i)
        p.async->appendLiveSample(1.0f, 2.0f, 3.0f);
    p.async->appendLiveSample(5.0f, 0.0f, 0.0f); // starts the page, written at 241
    p.async->appendLiveSample(7.0f, 0.0f, 0.0f); // 242, before the rows are there
    QVERIFY(p.model().waiting());
    QTRY_VERIFY(p.settled());
    const auto& pv = p.model().buffer().channelValue[TrendBuffer::PV];
    QCOMPARE(pv[241], 500.0f); // the stored newest sample
    QCOMPARE(pv[242], 7.0f);
    QCOMPARE(p.model().view().sampleCursor, qint16(242));
}

QTEST_MAIN(TestTrendAsync)
#include "tst_trendasync.moc"
