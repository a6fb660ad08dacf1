// A line of four simulated instruments on a pseudo-terminal, polled by the
// whole station with --loops: each loop keeps its own values and history, a
// silenced instrument goes offline without slowing the others and comes
// back, and its link events name it.
#include "Journal.h"
#include "LineBus485.h"
#include "Loop.h"
#include "PollingCycle.h"
#include "SimServer.h"
#include "StationApp.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

class TestE2eLoops : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loopsKeepApartAndADeadOneCostsTheOthersNothing();
    void twoLinesEachWithItsOwnWorker();
};

namespace {

QList<QPair<int, double>> historySvs(const QString& path)
{
    QList<QPair<int, double>> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("select w_id, w_sv from pv_data where w_sv <> 0"), db);
            while (q.next())
                rows.append({q.value(0).toInt(), q.value(1).toDouble()});
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

} // namespace

void TestE2eLoops::loopsKeepApartAndADeadOneCostsTheOthersNothing()
{
    QTemporaryDir dir;
    SimOptions simOptions;
    simOptions.addresses = {1, 2, 3, 4};
    SimServer sim(simOptions);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));

    StationOptions options;
    options.ports.map(1, sim.devicePath());
    options.databasePath = dir.filePath(QStringLiteral("h.db"));
    options.station = QStringLiteral("px5800");
    options.connect = true;
    LineOptions line;
    for (int a = 1; a <= 4; ++a)
        line.loops.append({a, QString()});
    options.lines = {line};
    QString journalPath;
    {
        StationApp app(options, makeLineBus(options.ports), LinkClient::Mode::Threaded);
        journalPath = app.journal()->path();
        app.handOver();
        QCOMPARE(int(app.loops().size()), 4);
        // Loops start on the overview; a faceplate's Enter opens that loop's main window, 回路总览 returns.
        QVERIFY(app.overview() && !app.mainWindow());
        QMetaObject::invokeMethod(app.overview(), "loopChosen", Q_ARG(int, 3));
        QVERIFY(app.mainWindow());
        QVERIFY(app.mainWindow()->windowTitle().contains(QStringLiteral("3号仪表")));
        // The status line shows the line's response times for this loop.
        auto* response = app.mainWindow()->findChild<QLabel*>(QStringLiteral("LoopResponse"));
        QVERIFY(response);
        QTRY_VERIFY_WITH_TIMEOUT(response->text().contains(QRegularExpression(QStringLiteral("^响应 \\d+ / \\d+ ms$"))),
                                 5000);
        auto* back = app.mainWindow()->findChild<QPushButton*>(QStringLiteral("OverviewButton"));
        QVERIFY(back);
        back->click();
        QCOMPARE(app.activeWindow(), static_cast<QWidget*>(app.overview()));
        const auto sv = [&](int a) { return app.loopAt(a)->image().Values[2]; };
        QTRY_VERIFY_WITH_TIMEOUT(sv(1) != 0 && sv(2) != 0 && sv(3) != 0 && sv(4) != 0, 10000);
        // Each simulated instrument starts at a set value of its own and is
        // stepped to another: no loop may show another's.
        std::map<int, float> start;
        for (int a = 1; a <= 4; ++a)
            start[a] = sv(a);
        for (int a = 1; a <= 4; ++a)
            QVERIFY(!sim.command(QStringLiteral("@%1 setpoint-step %2").arg(a).arg(10 * a)).startsWith(u"error"));
        // The PV block's SV (input register 3) as each instrument has it.
        const auto simSv = [&](int a) { return sim.command(QStringLiteral("@%1 get ir 3").arg(a)).toFloat(); };
        QTRY_VERIFY_WITH_TIMEOUT(sv(1) != start[1] && sv(4) != start[4], 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sv(1) == simSv(1) && sv(2) == simSv(2) && sv(3) == simSv(3) && sv(4) == simSv(4),
                                 5000);
        QCOMPARE(QSet<float>({sv(1), sv(2), sv(3), sv(4)}).size(), 4);
        QTest::qWait(1500); // the histories take a few of these

        QVERIFY(!sim.command(QStringLiteral("@2 silent 3600")).startsWith(u"error"));
        QTRY_VERIFY_WITH_TIMEOUT(app.loopAt(2)->isOffline(), 4000);
        std::map<int, std::unique_ptr<QSignalSpy>> cycles;
        for (int a : {1, 3, 4})
            cycles[a] = std::make_unique<QSignalSpy>(&app.loopAt(a)->polling(), &PollingCycle::cycleCompleted);
        QTest::qWait(3000);
        for (int a : {1, 3, 4}) // about two a second while the other is dead
            QVERIFY2(cycles[a]->size() >= 4,
                     qPrintable(QStringLiteral("loop %1: %2 cycles in 3 s").arg(a).arg(cycles[a]->size())));
        QVERIFY(app.loopAt(2)->isOffline());

        sim.command(QStringLiteral("@2 silent 0"));
        QTRY_VERIFY_WITH_TIMEOUT(!app.loopAt(2)->isOffline(), 12000);
        for (int a = 1; a <= 4; ++a)
            QVERIFY(app.loopAt(a)->lineCounters().answered > 0);
        QCOMPARE(app.loopAt(2)->lineCounters().timeouts > 0, true);
        app.shutdown();
        for (int a = 1; a <= 4; ++a) {
            const auto rows = historySvs(dir.filePath(QStringLiteral("h_%1.db").arg(a)));
            QVERIFY2(!rows.isEmpty(), qPrintable(QStringLiteral("loop %1 recorded nothing").arg(a)));
            QVERIFY2(qAbs(rows.last().second - sv(a)) < 0.05, qPrintable(QStringLiteral("loop %1").arg(a)));
            for (const auto& [id, value] : rows)
                QVERIFY2(qAbs(value - start[a]) < 0.05 || qAbs(value - sv(a)) < 0.05,
                         qPrintable(QStringLiteral("loop %1 row %2 has SV %3").arg(a).arg(id).arg(value)));
        }
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("journal"));
    db.setDatabaseName(journalPath);
    QVERIFY(db.open());
    QSqlQuery q(QStringLiteral("select message from events where loop = 2 and message like '2号仪表通讯中断%'"), db);
    QVERIFY(q.next());
    QVERIFY(!q.next()); // once per transition
    q.finish();
    db.close();
}

// Loops 1 and 2 on one line, 3 on another (as a station file names them):
// each line has its own worker, so a dead line stops only its own loops.
void TestE2eLoops::twoLinesEachWithItsOwnWorker()
{
    QTemporaryDir dir;
    SimOptions a;
    a.addresses = {1, 2};
    SimServer lineA(a);
    SimOptions b;
    b.addresses = {3};
    SimServer lineB(b);
    QString error;
    QVERIFY2(lineA.start(&error), qPrintable(error));
    QVERIFY2(lineB.start(&error), qPrintable(error));

    StationOptions options;
    options.ports.map(1, lineA.devicePath());
    options.ports.map(2, lineB.devicePath());
    options.databasePath = dir.filePath(QStringLiteral("h.db"));
    options.journalPath = dir.filePath(QStringLiteral("j.db"));
    options.station = QStringLiteral("px5800");
    options.connect = true;
    LineOptions one;
    one.portNumber = 1;
    one.loops = {{1, QStringLiteral("1区上部")}, {2, QString()}};
    LineOptions two;
    two.portNumber = 2;
    two.loops = {{3, QString()}};
    options.lines = {one, two};

    StationApp app(options, makeLineBus(options.ports), LinkClient::Mode::Threaded);
    app.handOver();
    QCOMPARE(int(app.loops().size()), 3);
    QCOMPARE(app.loopAt(1)->title(), QStringLiteral("1号仪表 1区上部"));
    QVERIFY(!lineA.command(QStringLiteral("@2 setpoint-step 20")).startsWith(u"error"));
    QVERIFY(!lineB.command(QStringLiteral("@3 setpoint-step 40")).startsWith(u"error"));
    const auto sv = [&](int x) { return app.loopAt(x)->image().Values[2]; };
    const auto simSv = [](SimServer& sim, int x) {
        return sim.command(QStringLiteral("@%1 get ir 3").arg(x)).toFloat();
    };
    QTRY_VERIFY_WITH_TIMEOUT(QSet<float>({sv(1), sv(2), sv(3)}).size() == 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sv(1) == simSv(lineA, 1) && sv(2) == simSv(lineA, 2) && sv(3) == simSv(lineB, 3), 5000);

    // Line B goes dead: loop 3 offline, the other line's loops keep their pace.
    QVERIFY(!lineB.command(QStringLiteral("silent 3600")).startsWith(u"error"));
    QTRY_VERIFY_WITH_TIMEOUT(app.loopAt(3)->isOffline(), 4000);
    QSignalSpy cycles1(&app.loopAt(1)->polling(), &PollingCycle::cycleCompleted);
    QSignalSpy cycles2(&app.loopAt(2)->polling(), &PollingCycle::cycleCompleted);
    QTest::qWait(2000);
    QVERIFY(cycles1.size() >= 3);
    QVERIFY(cycles2.size() >= 3);
    QVERIFY(!app.loopAt(1)->isOffline() && !app.loopAt(2)->isOffline());
    QCOMPARE(app.loopAt(3)->link().portSettings().port, 2);
    app.shutdown();
}

QTEST_MAIN(TestE2eLoops)
#include "tst_e2e_loops.moc"
