// The line scheduler with a fake clock: each exchange costs a fixed time,
// and a function decides what each address answers.

#include "LineScheduler.h"
#include "PollingCycle.h"

#include <QTest>

#include <functional>
#include <map>
#include <set>

namespace {

using Kind = LineRequest::Kind;

struct Sent {
    LineRequest request;
    quint64 round = 0;
    qint64 doneAt = 0;
    LineOutcome outcome = LineOutcome::Answered;
};

bool sameRead(const ReadRequest& a, const ReadRequest& b) { return a.fn == b.fn && a.first == b.first; }

struct Line {
    LineScheduler s;
    qint64 now = 0;
    qint64 answerMs = 40;
    qint64 timeoutMs = 300;
    std::function<LineOutcome(const LineRequest&)> answer = [](const LineRequest&) { return LineOutcome::Answered; };
    QVector<Sent> log;

    explicit Line(std::initializer_list<int> addresses)
    {
        for (int a : addresses)
            s.addLoop(a);
    }
    // One exchange, or a wait until the scheduler has work; false when it never will.
    bool step()
    {
        const auto r = s.next(now);
        if (!r) {
            const auto idle = s.idleUntilMs();
            if (!idle)
                return false;
            now = std::max(*idle, now + 1);
            return true;
        }
        const LineOutcome o = answer(*r);
        now += o == LineOutcome::Timeout ? timeoutMs : answerMs;
        s.report(*r, o, now);
        log.append({*r, s.roundsStarted(), now, o});
        return true;
    }
    void runUntil(qint64 until)
    {
        while (now < until && step()) {}
    }
    LineRequest take()
    {
        const auto r = s.next(now);
        if (!r)
            return {};
        now += answerMs;
        return *r;
    }
};

} // namespace

class TestLineScheduler : public QObject {
    Q_OBJECT
private slots:
    void roundContents_data();
    void roundContents();
    void focusedLoopGetsFullCycle();
    void writesGoFirst();
    void refreshIsInterleaved();
    void offlineRetriesAndReturn();
    void deadLine();
    void shapeGuard();
    void refusals();
};

void TestLineScheduler::roundContents_data()
{
    QTest::addColumn<QList<int>>("addresses");
    QTest::newRow("one") << QList<int>{1};
    QTest::newRow("three") << QList<int>{2, 5, 9};
    QTest::newRow("five") << QList<int>{1, 2, 3, 4, 5};
    QTest::newRow("sixteen") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
}

void TestLineScheduler::roundContents()
{
    QFETCH(QList<int>, addresses);
    Line line({});
    for (int a : addresses)
        QVERIFY(line.s.addLoop(a));
    while (line.s.roundsStarted() < 14 && line.step()) {}

    const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    std::map<quint64, QVector<LineRequest>> rounds;
    for (const Sent& sent : line.log)
        rounds[sent.round].append(sent.request);
    int smallest = 1 << 30;
    int largest = 0;
    std::map<std::pair<int, int>, quint64> lastSeen; // (address, cycle index) -> round
    for (quint64 k = 1; k <= 12; ++k) {
        const QVector<LineRequest>& round = rounds[k];
        smallest = std::min(smallest, int(round.size()));
        largest = std::max(largest, int(round.size()));
        for (int a : addresses) {
            for (int i = 0; i < cycle.size(); ++i) {
                const int n = int(std::count_if(round.begin(), round.end(), [&](const LineRequest& r) {
                    return r.address == a && sameRead(r.read, cycle[i]);
                }));
                const bool fast = cycle[i].fn == ReadFn::Get_3X_D8 || cycle[i].fn == ReadFn::Get_1X_B16;
                if (fast)
                    QCOMPARE(n, 1); // PV block and bits, every round
                else
                    QVERIFY(n <= 1);
                const auto key = std::make_pair(a, i);
                if (n)
                    lastSeen[key] = k;
                else
                    QVERIFY2(k < 4 || k - lastSeen[key] < 4,
                             qPrintable(QStringLiteral("address %1 block %2 round %3").arg(a).arg(i).arg(k)));
            }
        }
    }
    QVERIFY2(largest - smallest <= 1, qPrintable(QStringLiteral("%1..%2").arg(smallest).arg(largest)));
    // Rounds of a short line keep their pace rather than running flat out.
    if (addresses.size() == 1)
        QVERIFY(line.now >= 13 * LineScheduler::kRoundMinMs);
}

void TestLineScheduler::focusedLoopGetsFullCycle()
{
    Line line({1, 2, 3});
    line.s.setFocused(2);
    line.runUntil(5000);

    const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    QVector<qint64> starts;
    int inCycle = 0;
    std::set<quint64> roundsWithPv1;
    for (const Sent& sent : line.log) {
        const LineRequest& r = sent.request;
        if (r.address == 1 && r.read.fn == ReadFn::Get_3X_D8)
            roundsWithPv1.insert(sent.round);
        if (r.address != 2)
            continue;
        QCOMPARE(r.kind, Kind::Focus); // nothing of the round for it
        QVERIFY(sameRead(r.read, cycle[inCycle]));
        if (inCycle == 0)
            starts.append(r.issuedAtMs);
        inCycle = (inCycle + 1) % 5;
    }
    QCOMPARE(starts.size(), 10);
    for (int i = 1; i < starts.size(); ++i)
        QVERIFY2(starts[i] - starts[i - 1] >= 460 && starts[i] - starts[i - 1] <= 540,
                 qPrintable(QString::number(starts[i] - starts[i - 1])));
    QVERIFY(roundsWithPv1.size() >= 5); // the others still get their rounds

    // A timeout ends the cycle; the next begins after the silent block.
    Line quiet({1});
    quiet.s.setFocused(1);
    quiet.answer = [](const LineRequest& r) {
        return r.read.fn == ReadFn::Get_4X_D8 && r.read.first == 257 ? LineOutcome::Timeout : LineOutcome::Answered;
    };
    quiet.runUntil(1100);
    QVector<ReadFn> fns;
    for (const Sent& sent : quiet.log)
        fns.append(sent.request.read.fn);
    // 4114 would come first but shares 257's reply shape, so the bits go ahead of it.
    QCOMPARE(fns.mid(0, 6), (QVector<ReadFn>{ReadFn::Get_3X_D8, ReadFn::Get_4X_D8, ReadFn::Get_1X_B16,
                                             ReadFn::Get_4X_D8, ReadFn::Get_0X_B16, ReadFn::Get_3X_D8}));
    QCOMPARE(quiet.log.at(3).request.read.first, 4114);
    QCOMPARE(quiet.log.at(2).request.issuedAtMs, LineScheduler::kFocusPeriodMs);
}

void TestLineScheduler::writesGoFirst()
{
    Line line({1, 2});
    line.take();
    WriteRequest sv{WriteFn::Set_4X_D1, 1, 250};
    WriteRequest manual{WriteFn::Rst_0X_Bit1, 2, 0};
    QVERIFY(line.s.queueWrite(2, sv, 7));
    QVERIFY(line.s.queueWrite(2, manual, 8));
    const LineRequest first = line.take();
    QCOMPARE(first.kind, Kind::Write);
    QCOMPARE(first.tag, quint64(7));
    QCOMPARE(first.write.value, 250);
    QCOMPARE(line.take().tag, quint64(8));
    QCOMPARE(line.take().kind, Kind::Round);
}

void TestLineScheduler::refreshIsInterleaved()
{
    Line line({1, 2});
    line.take(); // the round is under way
    const QVector<ReadRequest> block{
        {ReadFn::Get_4X_D16, 4609}, {ReadFn::Get_4X_D16, 4625}, {ReadFn::Get_4X_D16, 4641}};
    QVERIFY(line.s.requestRefresh(1, block, 42));
    QVector<Kind> kinds;
    for (int i = 0; i < 6; ++i) {
        const LineRequest r = line.take();
        kinds.append(r.kind);
        if (r.kind == Kind::Refresh)
            QCOMPARE(r.tag, quint64(42));
    }
    QCOMPARE(kinds,
             (QVector<Kind>{Kind::Refresh, Kind::Round, Kind::Refresh, Kind::Round, Kind::Refresh, Kind::Round}));

    // With no round left to interleave with, the refresh goes on by itself.
    Line idle({1});
    while (idle.s.next(idle.now)) {}
    QVERIFY(idle.s.requestRefresh(1, block));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(idle.take().kind, Kind::Refresh);
}

void TestLineScheduler::offlineRetriesAndReturn()
{
    Line line({1, 2});
    bool twoAnswers = false;
    int twoTimeouts = 0;
    line.answer = [&](const LineRequest& r) {
        if (r.address != 2 || twoAnswers)
            return LineOutcome::Answered;
        // One timeout between answers does not make it offline.
        return ++twoTimeouts == 1 ? LineOutcome::Timeout
               : twoTimeouts == 2 ? LineOutcome::Answered
                                  : LineOutcome::Timeout;
    };
    line.runUntil(2000);
    QVERIFY(line.s.isOffline(2));
    QVERIFY(!line.s.isOffline(1));
    QVERIFY(line.s.requestRefresh(1, {{ReadFn::Get_4X_D8, 4097}}));
    QVERIFY(!line.s.requestRefresh(2, {{ReadFn::Get_4X_D8, 4097}}));

    line.runUntil(120000);
    QVector<qint64> gaps;
    qint64 offlineAt = -1;
    qint64 lastFailure = -1;
    int timeouts = 0;
    for (const Sent& sent : line.log) {
        if (sent.request.address != 2)
            continue;
        if (sent.outcome == LineOutcome::Timeout)
            ++timeouts;
        if (offlineAt < 0 && timeouts == 3) { // the first, then two in a row
            offlineAt = sent.doneAt;
        } else if (offlineAt >= 0) {
            QCOMPARE(sent.request.kind, Kind::Retry);
            gaps.append(sent.request.issuedAtMs - lastFailure);
        }
        lastFailure = sent.doneAt;
    }
    QCOMPARE(line.s.counters(2).offlineSinceMs, std::optional<qint64>(offlineAt));
    QCOMPARE(line.s.counters(2).timeouts, quint64(timeouts));
    const qint64 delays[] = {5000, 10000, 20000, 30000, 30000};
    QVERIFY2(gaps.size() >= 5, qPrintable(QString::number(gaps.size())));
    for (int i = 0; i < 5; ++i)
        QVERIFY2(gaps[i] >= delays[i] && gaps[i] <= delays[i] + 600, qPrintable(QString::number(gaps[i])));

    // The first answer brings it back, into the very next round.
    twoAnswers = true;
    const qsizetype before = line.log.size();
    line.runUntil(line.now + 35000);
    QVERIFY(!line.s.isOffline(2));
    QVERIFY(!line.s.counters(2).offlineSinceMs);
    QVector<Kind> kinds;
    for (qsizetype i = before; i < line.log.size(); ++i)
        if (line.log[i].request.address == 2)
            kinds.append(line.log[i].request.kind);
    QCOMPARE(kinds.value(0), Kind::Retry);
    QCOMPARE(kinds.value(1), Kind::Round);
    QVERIFY(kinds.size() > 20);

    const LineLoopCounters one = line.s.counters(1);
    QCOMPARE(one.timeouts, quint64(0));
    QCOMPARE(one.responseP50Ms, 40);
    QCOMPARE(one.responseP95Ms, 40);
}

void TestLineScheduler::deadLine()
{
    Line line({1, 2, 3, 4});
    line.answer = [](const LineRequest&) { return LineOutcome::Timeout; };
    line.runUntil(120000);
    for (int a : {1, 2, 3, 4})
        QVERIFY(line.s.isOffline(a));

    std::map<quint64, int> perRound;
    std::map<quint64, std::set<int>> addresses;
    for (const Sent& sent : line.log) {
        ++perRound[sent.round];
        addresses[sent.round].insert(sent.request.address);
    }
    for (const auto& [round, count] : perRound) {
        QCOMPARE(count, int(addresses[round].size())); // one timeout per address and round at most
        if (round > 2)
            QVERIFY2(count == 1, qPrintable(QStringLiteral("round %1: %2").arg(round).arg(count)));
    }
    // Two rounds to find them offline, then five probes each in two minutes.
    QVERIFY2(line.log.size() <= 4 * 2 + 4 * 5, qPrintable(QString::number(line.log.size())));
}

void TestLineScheduler::shapeGuard()
{
    // A garbled reply to one holding block: the next holding block of the
    // same address and size waits behind the bits.
    {
        Line line({1});
        line.s.setFocused(1);
        LineRequest r = line.take();
        line.s.report(r, LineOutcome::Answered, line.now);
        r = line.take();
        QCOMPARE(r.read.first, 257);
        line.s.report(r, LineOutcome::Crc, line.now);
        const LineRequest after = line.take();
        QVERIFY(!(LineScheduler::shapeOf(after) == LineScheduler::shapeOf(r)));
        QCOMPARE(after.read.fn, ReadFn::Get_1X_B16);
        QCOMPARE(line.take().read.first, 4114);
    }
    // A write that timed out: a late echo must not confirm the next write to
    // that address, so another address's request goes between.
    {
        Line line({1, 2});
        line.s.queueWrite(2, {WriteFn::Set_4X_D1, 1, 300});
        line.s.queueWrite(2, {WriteFn::Set_4X_D1, 1, 310});
        const LineRequest w = line.take();
        line.s.report(w, LineOutcome::Timeout, line.now);
        const LineRequest between = line.take();
        QCOMPARE(between.address, 1);
        const LineRequest second = line.take();
        QCOMPARE(second.kind, Kind::Write);
        QCOMPARE(second.write.value, 310);
    }
    // Nothing else to send: the line waits out the guard.
    {
        Line line({1});
        while (line.s.next(line.now)) {}
        line.s.queueWrite(1, {WriteFn::Set_4X_D1, 1, 300});
        line.s.queueWrite(1, {WriteFn::Set_4X_D1, 1, 310});
        const LineRequest w = line.take();
        line.s.report(w, LineOutcome::Timeout, line.now);
        const qint64 failed = line.now;
        QVERIFY(!line.s.next(line.now));
        QCOMPARE(line.s.idleUntilMs(), std::optional<qint64>(failed + LineScheduler::kShapeGuardMs));
        const auto second = line.s.next(failed + LineScheduler::kShapeGuardMs);
        QVERIFY(second);
        QCOMPARE(second->write.value, 310);
    }
}

void TestLineScheduler::refusals()
{
    LineScheduler s;
    QVERIFY(!s.addLoop(0));
    QVERIFY(!s.addLoop(17));
    QVERIFY(s.addLoop(3));
    QVERIFY(!s.addLoop(3));
    QVERIFY(!s.queueWrite(4, {}));
    QVERIFY(!s.requestRefresh(3, {}));
    QCOMPARE(s.next(0).value_or(LineRequest{}).address, 3);
}

QTEST_GUILESS_MAIN(TestLineScheduler)
#include "tst_line_scheduler.moc"
