// The tuning window on a recording fake (requests inline): its step test
// writes and restores, a lost link ends the test, and a recorded period
// analysed off the GUI thread gives suggestions written through the bounds.

#include "ConfigWindow.h"
#include "FakeModbus485.h"
#include "Journal.h"
#include "JournalStore.h"
#include "LinkClient.h"
#include "PidRules.h"
#include "StationClock.h"
#include "TuningWindow.h"
#include "TuningWrites.h"
#include "WriteAudit.h"

#include <QLabel>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTabWidget>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace {

const PortSettings kPort{3, 1, 0, 7};

struct Rig {
    explicit Rig(const QString& db = QString())
        : fake(new FakeModbus485), link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline)
    {
        link.open(kPort);
        fake->setInputRegister(1, 100);
        fake->setInputRegister(2, 153);
        fake->setCoilWord(0b110); // automatic, manual permitted
        fake->setHoldingRegister(4126, 30);
        fake->setHoldingRegister(4128, 120);
        fake->setHoldingRegister(4129, 100);
        window = new TuningWindow(link, db);
        timer()->stop();
        fake->clearCalls();
    }
    ~Rig() { delete window.data(); }

    QTimer* timer() const { return window->findChild<QTimer*>(QStringLiteral("TuningPoll")); }
    void poll(int times = 1) const
    {
        for (int i = 0; i < times; ++i)
            QMetaObject::invokeMethod(timer(), "timeout");
    }
    template <typename T = QLabel> T* get(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }
    QStringList writes() const
    {
        QStringList w;
        for (const QString& c : fake->calls())
            if (c.startsWith(QLatin1String("Set_")) || c.startsWith(QLatin1String("Rst_")))
                w << c;
        return w;
    }

    FakeModbus485* fake;
    LinkClient link;
    QPointer<TuningWindow> window;
};

} // namespace

class TestTuningView : public QObject {
    Q_OBJECT
private slots:
    void stopRestoresAfterStepping_data();
    void stopRestoresAfterStepping();
    void historyPeriodSuggestsAndWrites();
    void configPidPageOpensTheAssistant();
    void writesAreJournaled();
    void lateRestoreJournaledOnce();
    void refusesWhatItCannotTrust();
};

void TestTuningView::stopRestoresAfterStepping_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("state");
    QTest::newRow("停止") << "stop"
                          << "操作员停止";
    QTest::newRow("link lost") << "link"
                               << "通讯中断";
    QTest::newRow("window closed") << "close"
                                   << "";
}

void TestTuningView::stopRestoresAfterStepping()
{
    QFETCH(QString, ending);
    Rig rig;
    rig.poll();
    QCOMPARE(rig.get("PresentBand")->text(), QStringLiteral("30"));
    QCOMPARE(rig.get("PresentIntegral")->text(), QStringLiteral("120 s"));
    QCOMPARE(rig.get("PresentDerivative")->text(), QStringLiteral("10.0 s"));

    QVERIFY(rig.get<QPushButton>("StartButton")->isEnabled());
    rig.get<QPushButton>("StartButton")->click();
    QCOMPARE(rig.writes(), (QStringList{"Rst_0X_Bit1(3,7,2)", "Set_4X_D1(3,7,2,153)"}));
    QVERIFY(!rig.get<QPushButton>("StartButton")->isEnabled());
    QVERIFY(!rig.get<QPushButton>("WriteButton")->isEnabled());
    rig.fake->clearCalls();

    if (ending == QLatin1String("stop")) {
        rig.get<QPushButton>("StopButton")->click();
    } else if (ending == QLatin1String("link")) {
        rig.fake->failNext(QStringLiteral("Get_3X_D8"), LinkOutcome::Timeout, TuningWindow::kLostAfterFailedPolls);
        rig.poll(TuningWindow::kLostAfterFailedPolls - 1);
        QCOMPARE(rig.writes(), QStringList());
        rig.poll();
    } else {
        rig.window->close();
    }
    QCOMPARE(rig.writes(), (QStringList{"Set_4X_D1(3,7,2,153)", "Set_0X_Bit1(3,7,2)"}));
    if (rig.window) {
        QFETCH(QString, state);
        QVERIFY2(rig.get("TestState")->text().contains(state), qPrintable(rig.get("TestState")->text()));
        QVERIFY(rig.get<QPushButton>("StartButton")->isEnabled());
    }
}

void TestTuningView::historyPeriodSuggestsAndWrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    const QDateTime t0(QDate(2026, 5, 4), QTime(10, 0, 0));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table pv_data (w_id INTEGER, w_date REAL, w_time REAL, w_pv REAL, w_op "
                                      "REAL, w_sv REAL, w_aux REAL)")));
        db.transaction();
        QVERIFY(q.prepare(QStringLiteral("insert into pv_data values (?, ?, ?, ?, ?, 0, 0)")));
        // K = 4, τ = 80 s, θ = 5 s: a 10 % step at 30 s.
        double y = 60.0;
        for (int k = 0; k < 500; ++k) {
            const double u = k - 5 >= 30 ? 25.0 : 15.0;
            const OleStamp s = OleTime::fromDateTime(t0.addSecs(k));
            q.addBindValue(k + 1);
            q.addBindValue(s.date);
            q.addBindValue(s.time);
            q.addBindValue(std::round(y));
            q.addBindValue(k >= 30 ? 25.0 : 15.0);
            QVERIFY(q.exec());
            y += (4.0 * u - y) * (1.0 - std::exp(-1.0 / 80.0));
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));

    Rig rig(path);
    rig.poll();
    QVERIFY(!rig.get<QPushButton>("WriteButton")->isEnabled());
    rig.get<QDateTimeEdit>("PeriodFrom")->setDateTime(t0);
    rig.get<QDateTimeEdit>("PeriodTo")->setDateTime(t0.addSecs(499));
    rig.get<QPushButton>("AnalyseButton")->click();
    QTRY_VERIFY(rig.get<QPushButton>("WriteButton")->isEnabled());
    QVERIFY2(std::abs(rig.window->fit().model.gain - 4.0) < 0.2, qPrintable(rig.get("FitResult")->text()));

    // The default choice is the robust PID.
    const auto s = Simc::suggest(rig.window->fit().model, ControllerKind::PID, TuningSpeed::Robust);
    const InstrumentPid p = InstrumentPid::fromSettings(*s);
    QCOMPARE(rig.get("SuggestedBand")->text(), QString::number(p.band));
    rig.get<QPushButton>("WriteButton")->click();
    QCOMPARE(rig.writes(), (QStringList{QStringLiteral("Set_4X_D1(3,7,4126,%1)").arg(p.band),
                                        QStringLiteral("Set_4X_D1(3,7,4128,%1)").arg(p.integral),
                                        QStringLiteral("Set_4X_D1(3,7,4129,%1)").arg(p.derivativeTenths)}));
    QCOMPARE(rig.get("WriteState")->text(), QStringLiteral("已写入"));
    // A dead line: the writes are queued, none is answered.
    rig.fake->failNext(QStringLiteral("Set_4X_D1"), LinkOutcome::Timeout, 6);
    rig.get<QPushButton>("WriteButton")->click();
    QVERIFY2(rig.get("WriteState")->text().startsWith(QStringLiteral("写入失败：")),
             qPrintable(rig.get("WriteState")->text()));
    QVERIFY(rig.get("WriteState")->text().contains(QStringLiteral("timeout")));

    // A period outside the record: the reason is shown, nothing to write.
    rig.get<QDateTimeEdit>("PeriodFrom")->setDateTime(t0.addDays(1));
    rig.get<QDateTimeEdit>("PeriodTo")->setDateTime(t0.addDays(1).addSecs(600));
    rig.get<QPushButton>("AnalyseButton")->click();
    QTRY_VERIFY(rig.get<QPushButton>("AnalyseButton")->isEnabled());
    QVERIFY(!rig.get<QPushButton>("WriteButton")->isEnabled());
    QVERIFY(rig.get("FitResult")->text().contains(QStringLiteral("没有记录")));
}

// The button sits on the PID page below the parameter rows, which keep
// their places, and asks for the assistant.
void TestTuningView::configPidPageOpensTheAssistant()
{
    Rig rig;
    ParamRegs regs;
    ConfigWindow config(rig.link, regs);
    config.show();
    auto* tabs = config.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    auto* button = config.findChild<QPushButton*>(QStringLiteral("TuningButton"));
    QVERIFY(tabs && button);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("PID"));
    QVERIFY(tabs->currentWidget()->isAncestorOf(button));
    QVERIFY(button->isVisible());
    auto* page = tabs->currentWidget();
    int lowest = 0;
    for (int index : {29, 30, 31, 32}) {
        auto* value = page->findChild<QLabel*>(QStringLiteral("D_4WRW_%1").arg(index));
        QVERIFY(value);
        lowest = std::max(lowest, value->geometry().bottom());
    }
    QVERIFY(button->geometry().top() > lowest);
    QSignalSpy asked(&config, &ConfigWindow::tuningRequested);
    button->click();
    QCOMPARE(asked.count(), 1);
}

namespace {
// The journal's write rows, oldest first, as "source|old|new|result".
QStringList writeRows(Journal& journal)
{
    QStringList rows;
    if (!journal.sync())
        return {QStringLiteral("journal not synced")};
    JournalStore store(QStringLiteral("check"));
    if (!store.open(journal.path()))
        return {QStringLiteral("journal not opened")};
    JournalFilter writes;
    writes.kind = QStringLiteral("write");
    for (const JournalEvent& e : store.page(writes, 0, 50))
        rows.prepend(QStringList{e.source, e.oldValue, e.newValue, e.result}.join(u'|'));
    return rows;
}
} // namespace

// The step test's coil and output writes, and the suggested settings, land
// in the journal like any operator write: old and new value, result,
// read-back; a suggestion out of bounds is a refusal with nothing sent.
void TestTuningView::writesAreJournaled()
{
    QTemporaryDir dir;
    Rig rig;
    Journal journal(dir.filePath(QStringLiteral("j.db")));
    WriteAudit audit(rig.link, journal);
    rig.window->setAudit(&audit);
    rig.poll();
    rig.get<QPushButton>("StartButton")->click();
    rig.fake->setCoilWord(0b100); // now in manual
    rig.poll();
    rig.fake->failNext(QStringLiteral("Set_0X_Bit1"), LinkOutcome::Timeout); // the mode restore is lost
    rig.get<QPushButton>("StopButton")->click();
    QCOMPARE(writeRows(journal),
             (QStringList{"coil 2|1|0|verified", "OP|15.3|15.3|verified", "OP|15.3|15.3|ok", "coil 2|0|1|failed"}));

    const QString band = QString::number(InstrumentPid::kBandRegister);
    const QString derivative = QString::number(InstrumentPid::kDerivativeRegister);
    QObject requester;
    TuningWrites writes(rig.link, &requester);
    writes.setAudit(&audit);
    rig.fake->clearCalls();
    QVERIFY(!writes.writePid({30, 120, 10000})); // 1000.0 s: past the derivative time's bound
    QCOMPARE(rig.writes(), QStringList());
    QCOMPARE(writeRows(journal).size(), 5);
    QCOMPARE(writeRows(journal).last(), derivative + QStringLiteral("|10.0|1000.0|refused: 超出范围 0 ~ 999.9"));

    QVERIFY(writes.writePid({45, 200, 125}));
    QCOMPARE(rig.writes().size(), 3);
    QCOMPARE(writeRows(journal).mid(5),
             (QStringList{band + "|30|45|ok", QString::number(InstrumentPid::kIntegralRegister) + "|120|200|ok",
                          derivative + "|10.0|12.5|ok"}));
}

// The line drops mid-test and the restore goes unanswered: the window says
// so, keeps the restore (and itself) until the line answers, then sends it
// once and says it is done.
void TestTuningView::lateRestoreJournaledOnce()
{
    QTemporaryDir dir;
    Rig rig;
    Journal journal(dir.filePath(QStringLiteral("j.db")));
    WriteAudit audit(rig.link, journal);
    rig.window->setAudit(&audit);
    rig.window->show();
    rig.poll();
    rig.get<QPushButton>("StartButton")->click();
    rig.fake->setCoilWord(0b100);
    rig.poll();
    rig.fake->failNext(QStringLiteral("Get_3X_D8"), LinkOutcome::Timeout, TuningWindow::kLostAfterFailedPolls);
    rig.fake->failNext(QStringLiteral("Set_4X_D1"), LinkOutcome::Timeout, 2); // the write and its one repeat
    rig.poll(TuningWindow::kLostAfterFailedPolls);
    QVERIFY2(rig.get("TestState")->text().contains(QStringLiteral("恢复未完成")),
             qPrintable(rig.get("TestState")->text()));
    QVERIFY(!rig.get<QPushButton>("StartButton")->isEnabled());
    rig.window->close();
    QVERIFY(rig.window && rig.window->isVisible());

    rig.fake->clearCalls();
    rig.poll(3);
    QCOMPARE(rig.writes(), (QStringList{"Set_4X_D1(3,7,2,153)", "Set_0X_Bit1(3,7,2)"}));
    QVERIFY2(rig.get("TestState")->text().contains(QStringLiteral("已中止并恢复")),
             qPrintable(rig.get("TestState")->text()));
    QVERIFY(rig.get<QPushButton>("StartButton")->isEnabled());
    const QStringList rows = writeRows(journal);
    QCOMPARE(rows.filter(QStringLiteral("OP|15.3|15.3|failed")).size(), 1);
    QCOMPARE(rows.mid(rows.size() - 2), (QStringList{"OP|15.3|15.3|verified", "coil 2|0|1|verified"}));
}

// Manual not permitted: no test. Grouping on: the three registers are not
// what the instrument computes with, so they are neither shown nor written.
void TestTuningView::refusesWhatItCannotTrust()
{
    Rig rig;
    rig.fake->setCoilWord(0b010); // automatic, manual not permitted
    rig.poll();
    rig.get<QPushButton>("StartButton")->click();
    QVERIFY(rig.get("TestState")->text().contains(QStringLiteral("不允许手动")));
    QCOMPARE(rig.writes(), QStringList());

    rig.fake->setHoldingRegister(TuningWindow::kGroupingRegister, 1);
    rig.poll();
    QVERIFY(rig.get("PresentBand")->text() != QStringLiteral("30"));
    QVERIFY(rig.get("WriteState")->text().contains(QStringLiteral("分组")));
    QVERIFY(!rig.get<QPushButton>("WriteButton")->isEnabled());
}

QTEST_MAIN(TestTuningView)
#include "tst_tuningview.moc"
