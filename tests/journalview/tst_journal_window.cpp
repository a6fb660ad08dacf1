#include "../journal/CsvReader.h"
#include "Journal.h"
#include "JournalModel.h"
#include "JournalWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

// The 事件记录 window over a real journal: paging, filters, acknowledgement
// and the CSV of what the filter shows.
namespace {
// What the window says under the table about the rows matching its filter.
QString shownCount(const JournalWindow& window)
{
    const auto* label = window.findChild<QLabel*>(QStringLiteral("JournalCount"));
    return label ? label->text() : QStringLiteral("<no JournalCount>");
}
QString countText(int rows) { return QStringLiteral("共 %1 条").arg(rows); }
} // namespace

class TestJournalWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void pagesOnDemandAndTakesNewEvents();
    void rangeFilters_data();
    void rangeFilters();
    void filterControlsNarrowTheTable();
    void acknowledgeSelectedAlarms();
    void clearedAlarmIsNotRed();
    void exportWritesWhatTheFilterShows();
    void escapeClosesAnOpenListFirst();
    void loopColumnAndFilterOnlyOnceALoopHasEvents();

private:
    QTemporaryDir dir_;
    int n_ = 0;
    std::unique_ptr<Journal> journal_;
};

void TestJournalWindow::init()
{
    journal_ = std::make_unique<Journal>(dir_.filePath(QStringLiteral("w%1.db").arg(++n_)));
    for (int i = 0; i < 450; ++i)
        journal_->append(QStringLiteral("state"), QStringLiteral("coil 2"), QStringLiteral("状态 %1").arg(i));
    journal_->append(QStringLiteral("alarm"), QStringLiteral("alarm 1"), QStringLiteral("报警1（PV 412）"));
    journal_->append(QStringLiteral("write"), QStringLiteral("SV"), QStringLiteral("修改SV"), QStringLiteral("300"),
                     QStringLiteral("320"), QStringLiteral("verified"));
    journal_->append(QStringLiteral("alarm"), QStringLiteral("sensor open"), QStringLiteral("传感器开路（PV 9999）"));
    QVERIFY(journal_->sync());
}

void TestJournalWindow::cleanup() { journal_.reset(); }

void TestJournalWindow::pagesOnDemandAndTakesNewEvents()
{
    JournalWindow window(*journal_);
    JournalModel* model = window.model();
    QTRY_COMPARE(model->rowCount(), JournalModel::kPageSize);
    QTRY_COMPARE(shownCount(window), countText(453));
    QCOMPARE(model->event(0).message, QStringLiteral("传感器开路（PV 9999）")); // newest first
    QCOMPARE(model->index(1, JournalModel::Values).data().toString(), QStringLiteral("300 → 320"));
    // Scrolling on: the next page is asked for once the previous one came.
    for (int polls = 0; model->rowCount() < 453 && polls < 2000; ++polls) {
        if (model->canFetchMore({}))
            model->fetchMore({});
        QTest::qWait(5);
    }
    QCOMPARE(model->rowCount(), 453);
    QVERIFY(!model->canFetchMore({})); // the short last page was the end
    QCOMPARE(model->event(452).message, QStringLiteral("状态 0"));

    journal_->append(QStringLiteral("link"), QStringLiteral("port 1"), QStringLiteral("通讯中断"));
    QTRY_COMPARE(model->rowCount(), 454);
    QCOMPARE(model->event(0).message, QStringLiteral("通讯中断"));
    QCOMPARE(model->event(453).message, QStringLiteral("状态 0")); // nothing fetched twice
}

void TestJournalWindow::rangeFilters_data()
{
    QTest::addColumn<int>("range");
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    const QDateTime now(QDate(2026, 12, 8), QTime(14, 30));
    QTest::newRow("all") << int(JournalWindow::Range::All) << QDateTime() << QDateTime();
    QTest::newRow("today") << int(JournalWindow::Range::Today) << QDateTime(QDate(2026, 12, 8), QTime(0, 0))
                           << QDateTime();
    QTest::newRow("24 h") << int(JournalWindow::Range::Day) << now.addSecs(-86400) << QDateTime();
    QTest::newRow("7 days") << int(JournalWindow::Range::Week) << now.addDays(-7) << QDateTime();
    QTest::newRow("chosen") << int(JournalWindow::Range::Chosen) << now.addDays(-3) << now.addDays(-2);
}

void TestJournalWindow::rangeFilters()
{
    QFETCH(int, range);
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    const QDateTime now(QDate(2026, 12, 8), QTime(14, 30));
    const JournalFilter f =
        JournalWindow::rangeFilter(JournalWindow::Range(range), now, now.addDays(-3), now.addDays(-2));
    QCOMPARE(f.fromUtc, from.isValid() ? from.toUTC() : QDateTime());
    QCOMPARE(f.toUtc, to.isValid() ? to.toUTC() : QDateTime());
}

void TestJournalWindow::filterControlsNarrowTheTable()
{
    JournalWindow window(*journal_);
    JournalModel* model = window.model();
    auto* kind = window.findChild<QComboBox*>(QStringLiteral("JournalKind"));
    kind->setCurrentIndex(kind->findText(QStringLiteral("报警")));
    QTRY_COMPARE(shownCount(window), countText(2));
    QTRY_COMPARE(model->rowCount(), 2);
    QVERIFY(model->index(0, 0).data(Qt::BackgroundRole).isValid()); // not yet acknowledged

    window.findChild<QLineEdit*>(QStringLiteral("JournalSearch"))->setText(QStringLiteral("开路"));
    QTRY_COMPARE(shownCount(window), countText(1));
    QCOMPARE(model->event(0).source, QStringLiteral("sensor open"));

    // An event that does not match the filter does not appear: the matching
    // one after it shows that the window has taken both.
    journal_->append(QStringLiteral("link"), QStringLiteral("port 1"), QStringLiteral("开路无关"));
    journal_->append(QStringLiteral("alarm"), QStringLiteral("sensor open"), QStringLiteral("传感器又开路"));
    QVERIFY(journal_->sync());
    QTRY_COMPARE(shownCount(window), countText(2));
    QTRY_COMPARE(model->rowCount(), 2);
    QCOMPARE(model->event(0).message, QStringLiteral("传感器又开路"));
    QCOMPARE(model->event(1).source, QStringLiteral("sensor open"));
}

void TestJournalWindow::acknowledgeSelectedAlarms()
{
    QTRY_COMPARE(journal_->unacknowledgedAlarms(), 2);
    JournalWindow window(*journal_);
    JournalModel* model = window.model();
    QTRY_VERIFY(model->rowCount() > 3);
    auto* table = window.findChild<QTableView*>(QStringLiteral("JournalTable"));
    table->selectRow(0); // sensor open
    table->selectionModel()->select(model->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(window.acknowledgeSelected(), 1); // the write row needs none
    QVERIFY(!model->index(0, 0).data(Qt::BackgroundRole).isValid());
    QTRY_COMPARE(journal_->unacknowledgedAlarms(), 1);
    // The acknowledgement is an event of its own, by the operator.
    QTRY_COMPARE(model->event(0).source, QStringLiteral("确认"));
    QVERIFY(!model->event(0).operatorName.isEmpty());
    // And it holds when the journal is read again.
    JournalWindow again(*journal_);
    QTRY_VERIFY(again.model()->rowCount() > 3);
    QCOMPARE(again.model()->event(1).source, QStringLiteral("sensor open"));
    QVERIFY(!again.model()->needsAcknowledgement(1)); // both are raised alarms
    QVERIFY(again.model()->needsAcknowledgement(3));  // alarm 1 still waits
    // The loop overview's summary opens the window on what still waits.
    again.findChild<QLineEdit*>(QStringLiteral("JournalSearch"))->setText(QStringLiteral("sensor"));
    again.showUnacknowledgedAlarms();
    QTRY_COMPARE(shownCount(again), countText(1));
    QTRY_COMPARE(again.model()->rowCount(), 1);
    QCOMPARE(again.model()->event(0).message, QStringLiteral("报警1（PV 412）"));
    QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("JournalUnacknowledged"))->isChecked());
}

void TestJournalWindow::clearedAlarmIsNotRed()
{
    journal_->append(QStringLiteral("alarm"), QStringLiteral("alarm 1"), QStringLiteral("报警1解除（PV 380）"));
    QVERIFY(journal_->sync());
    JournalWindow window(*journal_);
    JournalModel* model = window.model();
    QTRY_VERIFY(model->rowCount() > 3);
    QCOMPARE(model->event(0).message, QStringLiteral("报警1解除（PV 380）"));
    // Red rows and the count agree: the two raised alarms only.
    QVERIFY(!model->index(0, 0).data(Qt::BackgroundRole).isValid());
    QVERIFY(model->index(1, 0).data(Qt::BackgroundRole).isValid());
    QTRY_COMPARE(journal_->unacknowledgedAlarms(), 2);
    window.findChild<QTableView*>(QStringLiteral("JournalTable"))->selectRow(0);
    QCOMPARE(window.acknowledgeSelected(), 0);
}

void TestJournalWindow::exportWritesWhatTheFilterShows()
{
    JournalWindow window(*journal_);
    window.findChild<QLineEdit*>(QStringLiteral("JournalSearch"))->setText(QStringLiteral("PV"));
    QTRY_COMPARE(shownCount(window), countText(2));
    QSignalSpy done(&window, &JournalWindow::exportFinished);
    const QString path = dir_.filePath(QStringLiteral("导出.csv"));
    window.exportTo(path);
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.at(0).at(0).toInt(), 2);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    bool bom = false;
    const QList<QStringList> csv = parseCsv(file.readAll(), &bom);
    QVERIFY(bom);
    QCOMPARE(csv.size(), 3);
    QCOMPARE(csv[1][5], QStringLiteral("传感器开路（PV 9999）"));
    QCOMPARE(csv[2][5], QStringLiteral("报警1（PV 412）"));
    QCOMPARE(csv[2][3], QStringLiteral("报警"));

    // A file that cannot be written is reported, not pretended.
    window.exportTo(dir_.filePath(QStringLiteral("no/such/folder/x.csv")));
    QTRY_COMPARE(done.size(), 2);
    QCOMPARE(done.at(1).at(0).toInt(), -1);
}

void TestJournalWindow::escapeClosesAnOpenListFirst()
{
    JournalWindow window(*journal_);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy returns(&window, &JournalWindow::returnRequested);
    auto* kind = window.findChild<QComboBox*>(QStringLiteral("JournalKind"));
    kind->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup->focusWidget() ? popup->focusWidget() : popup, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QCOMPARE(returns.count(), 0);
    QTest::keyClick(kind, Qt::Key_Escape); // no list open: Esc returns
    QCOMPARE(returns.count(), 1);
}

void TestJournalWindow::loopColumnAndFilterOnlyOnceALoopHasEvents()
{
    auto loopEvent = [](int loop, const QString& message) {
        JournalEvent e;
        e.timeUtc = QDateTime::currentDateTimeUtc();
        e.kind = QStringLiteral("link");
        e.source = QStringLiteral("port 1");
        e.message = message;
        e.loop = loop;
        return e;
    };
    JournalWindow window(*journal_);
    window.show();
    JournalModel* model = window.model();
    auto* loop = window.findChild<QComboBox*>(QStringLiteral("JournalLoop"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("JournalTable"));
    QTRY_COMPARE(shownCount(window), countText(453));
    QTest::qWait(50);            // the loops' answer too
    QVERIFY(!loop->isVisible()); // a single instrument's journal: the window as it was
    QVERIFY(table->isColumnHidden(JournalModel::Loop));

    journal_->append(loopEvent(7, QStringLiteral("7号仪表通讯中断")));
    journal_->append(loopEvent(2, QStringLiteral("2号仪表通讯中断")));
    QTRY_VERIFY(loop->isVisible());
    QVERIFY(!table->isColumnHidden(JournalModel::Loop));
    QTRY_COMPARE(loop->count(), 4);
    QCOMPARE(loop->itemText(2), QStringLiteral("2号")); // in address order, whatever came first
    QCOMPARE(model->index(0, JournalModel::Loop).data().toString(), QStringLiteral("2"));

    loop->setCurrentIndex(loop->findData(7));
    QTRY_COMPARE(shownCount(window), countText(1));
    QCOMPARE(model->event(0).message, QStringLiteral("7号仪表通讯中断"));
    loop->setCurrentIndex(loop->findData(JournalFilter::kStationOnly));
    QTRY_COMPARE(shownCount(window), countText(453));

    // A window opened on that journal offers them at once.
    JournalWindow later(*journal_);
    auto* laterLoop = later.findChild<QComboBox*>(QStringLiteral("JournalLoop"));
    QTRY_COMPARE(laterLoop->count(), 4);
}

QTEST_MAIN(TestJournalWindow)
#include "tst_journal_window.moc"
