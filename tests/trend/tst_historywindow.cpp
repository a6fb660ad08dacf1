#include "BackgroundColour.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"
#include "LiveImage.h"
#include "NumberText.h"
#include "SampleFlags.h"
#include "StateColours.h"
#include "TrendGeometry.h"
#include "TrendCsvExport.h"
#include "TrendView.h"

#include <QFile>
#include <QLabel>
#include <QDateTimeEdit>
#include <QDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRadioButton>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {
const QDateTime kStart(QDate(2026, 3, 1), QTime(8, 0, 0));

// Long-period sample `id` of a run starting at `first`: ten seconds apart,
// PV = id / 10, OP = last two digits, SV = PV + 1.
HistoryRow longRow(qint32 id, qint32 first)
{
    const OleStamp t = OleTime::fromDateTime(kStart.addSecs(10 * qint64(id - first)));
    return {id, t.date, t.time, float(id) / 10.0f, float(id % 100), float(id) / 10.0f + 1.0f, 0.0f};
}

struct Station {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    LiveImage image;
    SampleFlags flags;
    TrendScale scale;
    std::unique_ptr<HistoryWindow> window;

    // Ids first..last into the long ring, through a connection of its own.
    void fill(qint32 first, qint32 last, const QString& afterwards = {})
    {
        HistoryStore store(QStringLiteral("fill"));
        QVERIFY(store.open(path));
        QList<HistoryRow> rows;
        for (qint32 id = first; id <= last; ++id)
            rows.append(longRow(id, first));
        QVERIFY(store.writeSamples(HistoryRing::Long, rows));
        if (!afterwards.isEmpty())
            QVERIFY(QSqlQuery(QSqlDatabase::database(QStringLiteral("fill"))).exec(afterwards));
    }
    void open(const QString& databasePath)
    {
        window = std::make_unique<HistoryWindow>(image, flags, scale, databasePath);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void open() { open(path); }
    TrendView* trendView() const { return window->findChild<TrendView*>(QStringLiteral("trendView")); }
    QTimer* displayTimer() const { return window->findChild<QTimer*>(QStringLiteral("Timer1")); }
    const TrendModel& model() const { return trendView()->model(); }
    float pv(int slot) const { return model().buffer().channelValue[TrendBuffer::PV][slot]; }
    template <typename T = QLabel> T* find(const QString& name) const { return window->findChild<T*>(name); }
    QTime timeAt(const QString& label) const
    {
        return QTime::fromString(find(label)->text(), QStringLiteral("HH:mm:ss"));
    }
};
} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { StationClock::setSource({}); }
    void loadsNewestLongPage();
    void timeLabels_data();
    void timeLabels();
    void newLivePage_data();
    void newLivePage();
    void closeAndReturn_data();
    void closeAndReturn();
    void yRange_data();
    void yRange();
    void newestIdZero_data();
    void newestIdZero();
    void noDatabase_data();
    void noDatabase();
    void unreadablePageIsSaid();
    void valuePanel_data();
    void valuePanel();
    void rulerReadout();
    void rulerOnEmptySlotNamesNoTime();
    void csvExportOfThePage_data();
    void csvExportOfThePage();
    void cancelledCsvExportLeavesNoFile();
};

void TestHistoryWindow::loadsNewestLongPage()
{
    Station s;
    s.fill(4500, 5000);
    s.flags.newLongSample = true; // left over from the main window
    s.open();
    QCOMPARE(s.window->objectName(), QStringLiteral("lsqx"));
    QCOMPARE(s.window->windowTitle(), QStringLiteral("过程控制仪表"));
    QVERIFY(s.flags.trendLinkEnabled);
    QVERIFY(!s.flags.newLongSample);
    QVERIFY(s.window->databaseOpen());
    QCOMPARE(s.displayTimer()->objectName(), QStringLiteral("Timer1"));
    QCOMPARE(s.displayTimer()->interval(), 200);
    QVERIFY(s.displayTimer()->isActive());

    const TrendViewState& v = s.model().view();
    QCOMPARE(v.newestId, 5000);
    QCOMPARE(v.sampleCursor, qint16(241));
    QCOMPARE(s.pv(1), 476.0f); // id 4760
    QCOMPARE(s.pv(241), 500.0f);
    TrendGeometry::TrendPlot plot;
    TrendGeometry::plotTrend(s.model().buffer(), v, s.scale, plot);
    const double newestY = double(TrendGeometry::valueY(500.0f, TrendGeometry::valueScale(s.scale)));
    QCOMPARE(plot.pv.last().p2(), QPointF(9000.0, newestY));
    QCOMPARE(s.timeAt("Label4_6"), kStart.time().addSecs(5000));

    // No auxiliary channel, alarm types or states in this window.
    for (const char* name : {"D_3W_3", "D_3W_6", "D_3W_7", "D_1RW_0", "D_2R_0"})
        QVERIFY2(!s.find(name), name);
}

void TestHistoryWindow::timeLabels_data()
{
    QTest::addColumn<int>("zoom");
    for (int z = 1; z <= 4; ++z)
        QTest::addRow("zoom %d", z) << z;
}

void TestHistoryWindow::timeLabels()
{
    QFETCH(int, zoom);
    Station s;
    s.fill(4500, 5000);
    s.open();
    for (int z = 1; z < zoom; ++z)
        QVERIFY(s.window->handleKey(Qt::Key_F1));
    QCOMPARE(s.model().view().zoomLevel, qint16(zoom));
    for (int j = 0; j < 8; ++j)
        QCOMPARE(s.timeAt(QStringLiteral("Label4_%1").arg(j)).secsTo(s.timeAt(QStringLiteral("Label4_%1").arg(j + 1))),
                 100 * zoom);
    QCOMPARE(s.timeAt("Label4_7"), kStart.time().addSecs(5000 + 100 * zoom));
}

void TestHistoryWindow::newLivePage_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addRow("zoom 1: twenty samples") << 1;
    QTest::addRow("zoom 2: forty samples") << 2;
}

void TestHistoryWindow::newLivePage()
{
    QFETCH(int, zoom);
    Station s;
    s.fill(4500, 5000);
    s.open();
    StationClock::setSource([] { return QDateTime(QDate(2026, 3, 2), QTime(9, 0, 0)); });
    if (zoom == 2)
        s.window->handleKey(Qt::Key_F1);
    s.window->tick(); // no announcement: nothing appended
    QCOMPARE(s.model().view().sampleCursor, qint16(241));

    // Meanwhile the recorder stores the samples it announces.
    s.fill(4500, 5000 + 20 * zoom);
    for (int n = 1; n <= 20 * zoom; ++n) {
        s.image.Values[0] = 1000.0f + n;
        s.flags.newLongSample = true;
        s.window->tick();
        QVERIFY(!s.flags.newLongSample);
        const int expected = n < 20 * zoom ? 241 + n : 241;
        QCOMPARE(s.model().view().sampleCursor, qint16(expected));
        QCOMPARE(s.pv(expected), 1000.0f + n);
    }
    QCOMPARE(s.model().view().newestId, 5000 + 20 * zoom);
    QCOMPARE(s.pv(240), float(5000 + 20 * zoom - 1) / 10.0f);
}

void TestHistoryWindow::closeAndReturn_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("close box refused") << "close";
    QTest::newRow("返回") << "button";
    QTest::newRow("Esc") << "esc";
}

void TestHistoryWindow::closeAndReturn()
{
    QFETCH(QString, action);
    Station s;
    s.fill(4500, 5000);
    s.open();
    QSignalSpy returned(s.window.get(), &HistoryWindow::returnRequested);
    auto* button = s.find<QPushButton>("Command1");
    QCOMPARE(button->text(), QStringLiteral("返回"));
    QCOMPARE(button->parentWidget()->objectName(), QStringLiteral("functionFrame"));

    if (action == "close")
        QVERIFY(!s.window->close());
    else if (action == "button")
        button->click();
    else {
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        QTest::keyClick(s.window->focusWidget() ? s.window->focusWidget() : s.window.get(), Qt::Key_Escape);
    }

    const bool stays = action == "close";
    QCOMPARE(s.window->isVisible(), stays);
    QCOMPARE(s.flags.trendLinkEnabled, stays);
    QCOMPARE(s.window->databaseOpen(), stays);
    QCOMPARE(s.displayTimer()->isActive(), stays);
    QCOMPARE(returned.size(), stays ? 0 : 1);
    button->click(); // a second "返回" after unloading does nothing more
    QCOMPARE(returned.size(), 1);

    // The connection name is free again for the next visit.
    s.window.reset();
    QVERIFY(!s.flags.trendLinkEnabled);
    s.open();
    QVERIFY(s.window->databaseOpen());
    QCOMPARE(s.model().view().newestId, 5000);
}

void TestHistoryWindow::yRange_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("span");
    QTest::newRow("800") << "800" << true << 800;
    QTest::newRow("negative max is below the hidden min 0") << "-100" << false << 500;
    QTest::newRow("above 12000") << "12001" << false << 500;
}

void TestHistoryWindow::yRange()
{
    QFETCH(QString, entry);
    QFETCH(bool, accepted);
    QFETCH(int, span);
    Station s;
    s.scale = {500, 100}; // set in the main window
    s.open();
    QTest::mouseDClick(s.find("Label5_3"), Qt::LeftButton);
    QVERIFY(s.find<QLineEdit>("YKD")->isVisible());
    QVERIFY(!s.find<QLineEdit>("YKD1")->isVisible());
    QVERIFY(!s.find("Label10")->isVisible());
    s.find<QLineEdit>("YKD")->setText(entry);
    s.find<QPushButton>("Command26")->click();
    QCOMPARE(s.scale.span, qint16(span));
    QCOMPARE(s.scale.bottom, qint16(accepted ? 0 : 100));
    QCOMPARE(s.find<QLineEdit>("YKD")->isVisible(), !accepted);
    s.window->tick();
    QCOMPARE(s.find("Label5_6")->text(), QString::number(s.scale.bottom + s.scale.span));
}

void TestHistoryWindow::newestIdZero_data()
{
    QTest::addColumn<QString>("counter");
    QTest::newRow("counter 0") << "update sl_void set lw_last = 0, lw_last2 = 0";
    QTest::newRow("counter row unreadable") << "delete from sl_void";
}

void TestHistoryWindow::newestIdZero()
{
    QFETCH(QString, counter);
    Station s;
    s.fill(65000, 65500, counter);
    s.open();
    const TrendViewState& v = s.model().view();
    QCOMPARE(v.pageEndId, 0);
    QVERIFY(HistoryStore::pageQuery(HistoryRing::Long, v.pageEndId, v.pageSize)
                .contains(QStringLiteral(" lw_id not between 1 and 65259 ")));
    QCOMPARE(s.pv(1), 6526.0f); // ids 65260..65500
    QCOMPARE(s.pv(241), 6550.0f);
}

void TestHistoryWindow::noDatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("folder cannot be made") << "under a file";
    QTest::newRow("no path") << "empty";
}

void TestHistoryWindow::noDatabase()
{
    QFETCH(QString, kind);
    Station s;
    QString path;
    if (kind != "empty") {
        QFile file(s.dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        path = kind == "garbage" ? file.fileName() : file.fileName() + QStringLiteral("/jet/Rdatabj.db");
    }
    s.open(path);
    QVERIFY(!s.window->databaseOpen());
    QVERIFY(s.find("databaseNote")->isVisible());
    QVERIFY(!s.model().source());
    QCOMPARE(s.pv(241), 0.0f);

    s.image.Values[0] = 321.5f;
    s.flags.newLongSample = true;
    s.window->tick();
    QCOMPARE(s.find("D_3W_0")->text(), QStringLiteral("321.5"));
    QCOMPARE(s.pv(242), 321.5f);
}

void TestHistoryWindow::unreadablePageIsSaid()
{
    Station s;
    s.fill(1, 600);
    s.open();
    QVERIFY(s.find("databaseNote")->isHidden());
    QCOMPARE(s.pv(241), 60.0f);
    {
        HistoryStore other(QStringLiteral("other"));
        QVERIFY(other.open(s.path));
        QVERIFY(QSqlQuery(QSqlDatabase::database(QStringLiteral("other"))).exec(QStringLiteral("drop table lpv_wdjl")));
    }
    QVERIFY(s.window->handleKey(Qt::Key_F7));
    QVERIFY(s.find("databaseNote")->isVisible());
    QVERIFY(!s.find("databaseNote")->toolTip().isEmpty());
}

void TestHistoryWindow::valuePanel_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("index");
    QTest::addColumn<float>("raw");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::newRow("PV") << "D_3W_0" << 0 << 1234.0f << "1234"
                        << "PV值";
    QTest::newRow("OP") << "D_3W_1" << 1 << 45.6f << "45.6"
                        << "OP值";
    QTest::newRow("SV") << "D_3W_2" << 2 << -25.0f << "-25"
                        << "SV值";
    const char* const captions[] = {"报警1值",   "报警1回差", "报警1延迟", "报警2值",
                                    "报警2回差", "报警2延迟", "断线报警值"};
    for (int i = 0; i < 7; ++i)
        QTest::addRow("D_4W_%d", 256 + i) << QStringLiteral("D_4W_%1").arg(256 + i) << 256 + i << -50.0f - i
                                          << QString::number(-50 - i) << QString::fromUtf8(captions[i]);
    QTest::newRow("break output in tenths") << "D_4W_263" << 263 << 456.0f << "45.6"
                                            << "断线输出值";
    QTest::newRow("break output 100 %") << "D_4W_263" << 263 << 1000.0f << "100"
                                        << "断线输出值";
}

void TestHistoryWindow::valuePanel()
{
    QFETCH(QString, label);
    QFETCH(int, index);
    QFETCH(float, raw);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    Station s;
    s.open();
    s.image.Values[std::size_t(index)] = raw;
    s.window->tick();
    QLabel* value = s.find(label);
    QVERIFY(value);
    QCOMPARE(value->text(), text);
    QStringList captions;
    for (QLabel* l : s.window->findChildren<QLabel*>())
        if (l->buddy() == value)
            captions << l->text();
    QCOMPARE(captions, QStringList{caption});
    if (index <= 2)
        QCOMPARE(backgroundColour(value), QColor(255, 192, 255));
}

void TestHistoryWindow::rulerReadout()
{
    Station s;
    s.fill(4500, 5000);
    s.open();
    s.image.Values[0] = 77.0f;
    s.window->handleKey(Qt::Key_F4);
    QVERIFY(!s.displayTimer()->isActive());
    s.find<QSlider>("hc")->setValue(1500);
    const qint16 slot = TrendGeometry::rulerSlot(1500, 150.0f, 180);
    for (int k = 0; k < 3; ++k) {
        QLabel* label = s.find(QStringLiteral("D_3W_%1").arg(k));
        QCOMPARE(label->text(), singleText(s.model().buffer().channelValue[k][slot]));
        QCOMPARE(backgroundColour(label), QColor(255, 255, 0));
    }
    s.window->handleKey(Qt::Key_F4); // the live values return at once
    QVERIFY(s.displayTimer()->isActive());
    QCOMPARE(s.find("D_3W_0")->text(), QStringLiteral("77"));
    QCOMPARE(backgroundColour(s.find("D_3W_0")), QColor(255, 192, 255));
    QCOMPARE(backgroundColour(s.find("Label2_10")), QColor(128, 255, 128));
}

void TestHistoryWindow::rulerOnEmptySlotNamesNoTime()
{
    Station s;
    s.fill(1, 10); // slots 232..241 of the live page
    s.open();
    s.window->handleKey(Qt::Key_F4);
    s.find<QSlider>("hc")->setValue(300);
    QVERIFY(s.model().buffer().sampleDate[TrendGeometry::rulerSlot(300, 150.0f, 180)] == 0.0);
    QCOMPARE(s.find("Label2_9")->text(), QString());
    QCOMPARE(s.find("Label2_10")->text(), QString());
    s.find<QSlider>("hc")->setValue(9000); // the newest sample
    QCOMPARE(s.timeAt("Label2_10"), kStart.time().addSecs(90));
}

namespace {
// F3, then "导出CSV" and the choice dialog's OK; the export is under way.
void exportThroughF3(Station& s, const QString& path, bool chooseRange = false, QDateTime from = {}, QDateTime to = {})
{
    TrendCsvExport* csv = s.trendView()->findChild<TrendCsvExport*>();
    csv->setPathForTest(path);
    QVERIFY(s.window->handleKey(Qt::Key_F3));
    auto* toCsv = s.window->findChild<QPushButton*>(QStringLiteral("printToCsv"));
    QVERIFY(toCsv);
    QCOMPARE(toCsv->text(), QStringLiteral("导出CSV"));
    toCsv->click();
    auto* dialog = s.window->findChild<QDialog*>(QStringLiteral("csvDialog"));
    QVERIFY(dialog);
    if (chooseRange) {
        dialog->findChild<QRadioButton*>(QStringLiteral("csvRange"))->setChecked(true);
        dialog->findChild<QDateTimeEdit*>(QStringLiteral("csvFrom"))->setDateTime(from);
        dialog->findChild<QDateTimeEdit*>(QStringLiteral("csvTo"))->setDateTime(to);
    }
    dialog->findChild<QPushButton*>(QStringLiteral("csvOk"))->click();
    QVERIFY(csv->running());
}
} // namespace

// The page on screen, as the rows of the long ring it shows, in time order.
void TestHistoryWindow::csvExportOfThePage_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("firstId");
    QTest::newRow("zoom 1: the newest 61 samples") << 1 << 4940;
    QTest::newRow("zoom 4: the whole live page") << 4 << 4760;
}

void TestHistoryWindow::csvExportOfThePage()
{
    QFETCH(int, zoom);
    QFETCH(int, firstId);
    Station s;
    s.fill(4500, 5000);
    s.open();
    for (int z = 1; z < zoom; ++z)
        QVERIFY(s.window->handleKey(Qt::Key_F1));
    const QString path = s.dir.filePath(QStringLiteral("page.csv"));
    TrendCsvExport* csv = s.trendView()->findChild<TrendCsvExport*>();
    QSignalSpy finished(csv, &TrendCsvExport::finished);
    exportThroughF3(s, path);
    QVERIFY(finished.wait(10000));
    QVERIFY(!s.window->findChild<QMessageBox*>(QStringLiteral("csvError")));

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("time,pv,op,sv,aux"));
    QCOMPARE(lines.size() - 1, 5000 - firstId + 1);
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(u',');
        const int id = firstId + i - 1;
        QCOMPARE(f.value(0), kStart.addSecs(10 * qint64(id - 4500)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        QCOMPARE(float(f.value(1).toDouble()), float(id) / 10.0f);
        QCOMPARE(f.value(2).toInt(), id % 100);
    }
}

// Cancel while the whole ring is being written: no file, not even a partial
// one, and an earlier file at the path is left as it was.
void TestHistoryWindow::cancelledCsvExportLeavesNoFile()
{
    Station s;
    s.fill(1, kRingSize);
    s.open();
    const QString path = s.dir.filePath(QStringLiteral("ring.csv"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier\n");
    }
    TrendCsvExport* csv = s.trendView()->findChild<TrendCsvExport*>();
    QSignalSpy finished(csv, &TrendCsvExport::finished);
    exportThroughF3(s, path, true, kStart, kStart.addDays(10));
    QPointer<QProgressDialog> progress = s.window->findChild<QProgressDialog*>(QStringLiteral("csvProgress"));
    QVERIFY(progress && progress->isVisible());
    auto* cancel = progress->findChild<QPushButton*>();
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    cancel->click();
    QVERIFY(finished.wait(10000));
    QVERIFY(!s.window->findChild<QMessageBox*>(QStringLiteral("csvError"))); // cancelled, not failed
    QVERIFY(!progress || !progress->isVisible());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("earlier\n"));
    QStringList files = QDir(s.dir.path()).entryList(QDir::Files);
    files.removeIf([](const QString& name) { return name.startsWith(QStringLiteral("Rdatabj.db")); });
    QCOMPARE(files, QStringList{QStringLiteral("ring.csv")});
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
