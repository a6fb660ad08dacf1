#include "BackgroundColour.h"
#include "FakeHistory.h"
#include "StateColours.h"
#include "TrendChart.h"
#include "TrendOutput.h"
#include "TrendView.h"

#include <QDateTimeEdit>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {
const QDateTime kStart(QDate(2026, 3, 1), QTime(10, 0, 0));

struct Station {
    FakeHistory history;
    TrendScale scale;
    std::unique_ptr<TrendView> view;

    Station()
    {
        history.addRun(1, 1000, kStart);
        history.addRun(1, 1000, kStart, 10, HistoryRing::Long);
    }
    void open(const TrendStyle& style = TrendStyle::realTime(), bool withHistory = true)
    {
        view = std::make_unique<TrendView>(style, withHistory ? &history : nullptr, scale);
        view->resize(1100, 760);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->load();
    }
    // Every stored sample of both rings with these values.
    void setValues(float pv, float op, float sv)
    {
        for (auto& ring : history.rows)
            for (HistoryRow& row : ring) {
                row.pv = pv;
                row.op = op;
                row.sv = sv;
            }
    }
    template <typename T> T* find(const QString& name) const
    {
        T* child = view->findChild<T*>(name);
        if (!child)
            qWarning("no %s", qPrintable(name));
        return child;
    }
    QString text(const QString& label) const { return find<QLabel>(label)->text(); }
    QImage chartImage() const { return view->chart()->grab().toImage(); }
};

// Whether `colour` is painted within `radius` pixels of the chart point.
bool paintedNear(const QImage& image, const QPointF& chartPoint, const QColor& colour, int radius = 2)
{
    const QPoint c = TrendChart::toDevice(chartPoint, image.size()).toPoint();
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p = c + QPoint(dx, dy);
            if (image.rect().contains(p) && image.pixelColor(p) == colour)
                return true;
        }
    return false;
}

int pixelsInColumn(const QImage& image, double chartX, const QColor& colour)
{
    const int x = TrendChart::toDevice({chartX, 0.0}, image.size()).toPoint().x();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int dx = -1; dx <= 1; ++dx)
            n += image.pixelColor(qBound(0, x + dx, image.width() - 1), y) == colour;
    return n;
}
} // namespace

class TestTrendView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { StationClock::setSource({}); }
    void controlsAtLoad();
    void labelsSitUnderTheirGridLines();
    void rendering_data();
    void rendering();
    void gapMarkers_data();
    void gapMarkers();
    void keysAndEnabling();
    void ruler();
    void yEditor_data();
    void yEditor();
    void liveSamples();
    void clockTimer();
    void export_();
    void printAndSelectDialogs();
    void failedSaveIsSaid_data();
    void failedSaveIsSaid();
    void hostButtons();
    void noDatabase();
};

void TestTrendView::controlsAtLoad()
{
    Station s;
    s.open();
    QCOMPARE(s.view->chart()->objectName(), QStringLiteral("pt"));
    QCOMPARE(s.view->chart()->parentWidget()->objectName(), QStringLiteral("pt0"));
    const QStringList op{"0", "20", "40", "60", "80", "100", "120"};
    const QStringList scale{"0", "250", "500", "750", "1000", "1250", "1500"};
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(s.text(QStringLiteral("Label6_%1").arg(i)), op[i]);
        QCOMPARE(s.find<QLabel>(QStringLiteral("Label6_%1").arg(i))->palette().color(QPalette::WindowText),
                 QColor(0, 0, 255));
        QCOMPARE(s.text(QStringLiteral("Label5_%1").arg(i)), scale[i]);
    }
    QCOMPARE(s.text("Label8_0"), QStringLiteral("PV"));
    QCOMPARE(s.text("Label8_1"), QStringLiteral("OP"));
    QCOMPARE(s.text("Label8_2"), QStringLiteral("SV"));
    QCOMPARE(s.find<QGroupBox>("functionFrame")->title(), QStringLiteral("功能"));
    const QStringList names{"Command4", "Command3", "Command2", "Command5", "Command6", "Command7", "Command8"};
    const QStringList captions{"F1 缩小", "F2 放大", "F3 打印", "F4 标尺", "F5 选择", "F6 左移", "F7 右移"};
    const QList<bool> enabled{true, false, true, true, true, false, true};
    for (int i = 0; i < names.size(); ++i) {
        auto* b = s.find<QPushButton>(names[i]);
        QCOMPARE(b->text(), captions[i]);
        QCOMPARE(b->isEnabled(), enabled[i]);
    }
    auto* hc = s.find<QSlider>("hc");
    QCOMPARE(hc->minimum(), -1);
    QCOMPARE(hc->maximum(), 12001);
    QCOMPARE(hc->value(), 0);
    QVERIFY(!hc->isEnabled());
    for (const char* name : {"Label9", "YKD", "Label10", "YKD1", "Command26"})
        QVERIFY(!s.find<QWidget>(name)->isVisible());
    QCOMPARE(s.find<QLineEdit>("YKD1")->text(), QStringLiteral("0"));
    for (const char* name : {"Timer2", "Timer3"}) {
        QVERIFY(s.find<QTimer>(name)->isActive());
        QCOMPARE(s.find<QTimer>(name)->interval(), 1000);
    }
    // Ids 760..1000, one a second from 10:00:00: label 0 names slot 181 (id
    // 940), label 6 the newest,
    // labels 7 and 8 lie 10 and 20 s beyond it.
    QCOMPARE(s.text("Label4_0"), QStringLiteral("10:15:39"));
    QCOMPARE(s.text("Label4_6"), QStringLiteral("10:16:39"));
    QCOMPARE(s.text("Label4_7"), QStringLiteral("10:16:49"));
    QCOMPARE(s.text("Label4_8"), QStringLiteral("10:16:59"));
    QCOMPARE(s.text("Label7_8"), QStringLiteral("2026-03-01"));
}

void TestTrendView::labelsSitUnderTheirGridLines()
{
    Station s;
    s.open();
    TrendChart* chart = s.view->chart();
    for (int j = 0; j < 9; ++j) {
        auto* label = s.find<QLabel>(QStringLiteral("Label4_%1").arg(j));
        const QPointF device = TrendChart::toDevice({1500.0 * j, 0.0}, chart->size());
        const QPoint onParent = chart->mapTo(label->parentWidget(), device.toPoint());
        QVERIFY(qAbs(label->geometry().center().x() - onParent.x()) <= 1);
        QVERIFY(label->geometry().top() > onParent.y());
    }
    auto* top = s.find<QLabel>("Label5_6");
    auto* bottom = s.find<QLabel>("Label5_0");
    QVERIFY(top->geometry().center().y() < bottom->geometry().center().y());
}

void TestTrendView::rendering_data()
{
    QTest::addColumn<bool>("history");
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<float>("pv");
    QTest::addColumn<double>("pvY");
    QTest::addColumn<float>("sv");
    QTest::addColumn<double>("svY");
    QTest::newRow("bottom 100: PV 100 on the edge, SV 600 at the top")
        << false << 500 << 100 << 100.0f << 7508.0 << 600.0f << 8.0;
    QTest::newRow("zero span: everything on the bottom edge") << false << 0 << 0 << 500.0f << 7508.0 << 20.0f << 7508.0;
    QTest::newRow("history colours") << true << 1500 << 0 << 750.0f << 3758.0 << 300.0f << 6008.0;
}

void TestTrendView::rendering()
{
    QFETCH(bool, history);
    QFETCH(int, span);
    QFETCH(int, bottom);
    QFETCH(float, pv);
    QFETCH(double, pvY);
    QFETCH(float, sv);
    QFETCH(double, svY);
    const TrendStyle& style = history ? TrendStyle::history() : TrendStyle::realTime();
    Station s;
    s.scale = TrendScale{qint16(span), qint16(bottom)};
    s.setValues(pv, 60.0f, sv);
    s.open(style);
    const QImage image = s.chartImage();
    const double x = 4700.0; // between grid columns
    if (pvY != svY)
        QVERIFY(paintedNear(image, {x, svY}, style.sv));
    QVERIFY(paintedNear(image, {x, pvY}, style.pv));
    QVERIFY(paintedNear(image, {x, 3758.0}, style.op)); // OP 60 % half way up
    QCOMPARE(image.pixelColor(TrendChart::toDevice({4700.0, 5150.0}, image.size()).toPoint()), style.background);
    // The live page ends at x = 9000: nothing drawn in the run-on area yet.
    QVERIFY(!paintedNear(image, {10700.0, pvY}, style.pv));
}

void TestTrendView::gapMarkers_data()
{
    QTest::addColumn<int>("gapSeconds");
    QTest::addColumn<bool>("marked");
    QTest::newRow("5 min 1 s") << 301 << true;
    QTest::newRow("4 min 59 s") << 299 << false;
}

void TestTrendView::gapMarkers()
{
    QFETCH(int, gapSeconds);
    QFETCH(bool, marked);
    Station s;
    s.history.rows[0].clear();
    s.history.addRun(1, 958, kStart);
    s.history.addRun(959, 42, kStart.addSecs(957 + gapSeconds)); // id 959 lands in slot 200
    s.open();
    const QImage image = s.chartImage();
    const int yellow = pixelsInColumn(image, 2850.0, QColor(255, 255, 0));
    if (marked)
        QVERIFY2(yellow > image.height() / 4, qPrintable(QString::number(yellow)));
    else
        QCOMPARE(yellow, 0);
}

void TestTrendView::keysAndEnabling()
{
    Station s;
    s.open();
    QSignalSpy stop(s.view.get(), &TrendView::displayTickStopRequested);
    QSignalSpy restart(s.view.get(), &TrendView::displayTickRestartRequested);
    auto* zoomIn = s.find<QPushButton>("Command3");
    auto* zoomOut = s.find<QPushButton>("Command4");
    QVERIFY(s.view->handleKey(Qt::Key_F2)); // at level 1: nothing
    QCOMPARE(s.view->model().view().zoomLevel, qint16(1));
    for (int i = 0; i < 4; ++i)
        QVERIFY(s.view->handleKey(Qt::Key_F1));
    QCOMPARE(s.view->model().view().zoomLevel, qint16(4));
    QCOMPARE(s.view->model().view().firstSlot, qint16(0));
    QVERIFY(!zoomOut->isEnabled());
    QVERIFY(zoomIn->isEnabled());
    QCOMPARE(s.find<QSlider>("hc")->singleStep(), 38);
    QCOMPARE(s.text("Label4_1"), QStringLiteral("10:13:19")); // slot 41: 40 samples per label at zoom 4
    QVERIFY(!s.view->handleKey(Qt::Key_Escape));
    QVERIFY(!s.view->handleKey(Qt::Key_A));

    QVERIFY(s.view->handleKey(Qt::Key_F6)); // live view: nothing
    QCOMPARE(restart.count(), 0);
    QVERIFY(s.view->handleKey(Qt::Key_F7));
    QCOMPARE(stop.count(), 1);
    QVERIFY(s.find<QPushButton>("Command7")->isEnabled());
    QCOMPARE(s.text("Label4_8"), QStringLiteral("10:16:39")); // paged: slot 321 is id 1000
    QVERIFY(s.view->handleKey(Qt::Key_F6));
    QCOMPARE(restart.count(), 1);
    QVERIFY(!s.find<QPushButton>("Command7")->isEnabled());
}

void TestTrendView::ruler()
{
    Station s;
    s.open();
    QSignalSpy active(s.view.get(), &TrendView::rulerActiveChanged);
    QSignalSpy readout(s.view.get(), &TrendView::rulerReadout);
    QSignalSpy stop(s.view.get(), &TrendView::displayTickStopRequested);
    QSignalSpy restart(s.view.get(), &TrendView::displayTickRestartRequested);
    auto* hc = s.find<QSlider>("hc");
    auto* clockTime = s.find<QLabel>("Label2_10");

    QVERIFY(s.view->handleKey(Qt::Key_F4));
    QVERIFY(s.view->rulerOn());
    QCOMPARE(active.count(), 1);
    QCOMPARE(active.last().at(0).toBool(), true);
    QCOMPARE(stop.count(), 1);
    QCOMPARE(s.find<QPushButton>("Command5")->text(), QStringLiteral("F4 复原"));
    QVERIFY(hc->isEnabled());

    hc->setValue(1499); // slot 191 = id 950
    QCOMPARE(readout.count(), 1);
    QCOMPARE(readout.last().at(0).toFloat(), 950.0f);
    QCOMPARE(readout.last().at(1).toFloat(), 9.5f);
    QCOMPARE(readout.last().at(2).toFloat(), 951.0f);
    QCOMPARE(clockTime->text(), QStringLiteral("10:15:49"));
    QCOMPARE(backgroundColour(clockTime), StateColour::readout());
    s.view->restoreReadoutColours(); // kept while the ruler is on
    QCOMPARE(backgroundColour(clockTime), StateColour::readout());
    QVERIFY(paintedNear(s.chartImage(), {1499.0, 3000.0}, QColor(192, 0, 192)));

    hc->setValue(-1); // left end: one page older
    QCOMPARE(s.view->model().nav().pagesBack, qint16(1));

    QVERIFY(s.view->handleKey(Qt::Key_F4));
    QVERIFY(!s.view->rulerOn());
    QCOMPARE(active.last().at(0).toBool(), false);
    QCOMPARE(restart.count(), 1);
    QCOMPARE(s.find<QPushButton>("Command5")->text(), QStringLiteral("F4 标尺"));
    QVERIFY(!hc->isEnabled());
    QCOMPARE(hc->value(), 0);
    QCOMPARE(backgroundColour(clockTime), StateColour::clock());
    QCOMPARE(s.view->model().view().pageSize, 241);
}

void TestTrendView::yEditor_data()
{
    QTest::addColumn<bool>("history");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("min");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("topLabel");
    QTest::addColumn<QString>("label1");
    QTest::newRow("100 to 500") << false << "500"
                                << "100" << true << "500"
                                << "167";
    QTest::newRow("max 12001 refused") << false << "12001"
                                       << "0" << false << "1500"
                                       << "250";
    QTest::newRow("history: 800 from bottom 0") << true << "800"
                                                << "" << true << "800"
                                                << "133";
    QTest::newRow("history: negative max refused") << true << "-100"
                                                   << "" << false << "1500"
                                                   << "333";
}

void TestTrendView::yEditor()
{
    QFETCH(bool, history);
    QFETCH(QString, max);
    QFETCH(QString, min);
    QFETCH(bool, accepted);
    QFETCH(QString, topLabel);
    QFETCH(QString, label1);
    Station s;
    s.open(history ? TrendStyle::history() : TrendStyle::realTime());
    s.scale.bottom = history ? 100 : 0; // a bottom set in the other window
    s.scale.span = history ? 1400 : 1500;
    s.view->updateYAxisLabels();

    QTest::mouseDClick(s.find<QLabel>("Label5_3"), Qt::LeftButton);
    QVERIFY(s.find<QWidget>("YKD")->isVisible());
    QVERIFY(s.find<QWidget>("Command26")->isVisible());
    QCOMPARE(s.find<QWidget>("YKD1")->isVisible(), !history);
    QCOMPARE(s.find<QWidget>("Label10")->isVisible(), !history);

    s.find<QLineEdit>("YKD")->setText(max);
    if (!history)
        s.find<QLineEdit>("YKD1")->setText(min);
    QTest::mouseClick(s.find<QPushButton>("Command26"), Qt::LeftButton);
    QCOMPARE(s.find<QWidget>("Command26")->isVisible(), !accepted);
    QCOMPARE(s.text("Label5_6"), topLabel);
    QCOMPARE(s.text("Label5_1"), label1);
}

void TestTrendView::liveSamples()
{
    Station s;
    s.open();
    StationClock::setSource([] { return QDateTime(QDate(2026, 3, 1), QTime(11, 0, 0)); });
    for (int n = 1; n <= 20; ++n) {
        s.history.addRun(1000 + n, 1, kStart.addSecs(999 + n));
        s.view->appendLiveSample(float(n), 1.0f, 2.0f);
    }
    // The twentieth started a new live page and sits in its slot 241.
    QCOMPARE(s.view->model().view().sampleCursor, qint16(241));
    QCOMPARE(s.view->model().view().pageEndId, 1020);
    QCOMPARE(s.text("Label4_6"), QStringLiteral("11:00:00"));
    QCOMPARE(s.text("Label4_7"), QStringLiteral("11:00:10"));
}

void TestTrendView::clockTimer()
{
    Station s;
    StationClock::setSource([] { return QDateTime(QDate(2027, 1, 2), QTime(8, 30, 15)); });
    s.open();
    QTRY_COMPARE_WITH_TIMEOUT(s.text("Label2_10"), QStringLiteral("08:30:15"), 2500);
    QCOMPARE(s.text("Label2_9"), QStringLiteral("2027-01-02"));
}

void TestTrendView::export_()
{
    Station s;
    s.open();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath("trend.png");
    QVERIFY(TrendOutput::writeFile(s.view->renderToImage(), png));
    const QImage image(png);
    QCOMPARE(image.size(), s.view->size());
    const QString pdf = dir.filePath("trend.pdf");
    QVERIFY(TrendOutput::writeFile(s.view->renderToImage(), pdf));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5).startsWith("%PDF"));
    QVERIFY(!TrendOutput::writeFile(s.view->renderToImage(), dir.filePath("missing/folder/trend.png")));
}

void TestTrendView::printAndSelectDialogs()
{
    Station s;
    s.open();
    QSignalSpy stop(s.view.get(), &TrendView::displayTickStopRequested);
    QVERIFY(s.view->handleKey(Qt::Key_F3));
    auto* print = s.find<QDialog>("printDialog");
    QVERIFY(print && print->isVisible() && !print->isModal());
    print->reject();

    QVERIFY(s.view->handleKey(Qt::Key_F5));
    auto* select = s.find<QDialog>("selectDialog");
    QVERIFY(select && select->isVisible() && !select->isModal());
    s.find<QDateTimeEdit>("selectTime")->setDateTime(kStart.addSecs(700)); // id 701
    QTest::mouseClick(s.find<QPushButton>("selectOk"), Qt::LeftButton);
    QCOMPARE(stop.count(), 1);
    // The grid page with id 701 in zoom level 1's data area, the ruler on it.
    QCOMPARE(s.view->model().view().pageEndId, 820);
    QVERIFY(s.view->rulerOn());
    QCOMPARE(s.find<QPushButton>("Command5")->text(), QStringLiteral("F4 复原"));
    QCOMPARE(s.text("Label2_10"), QStringLiteral("10:11:40"));
    QCOMPARE(backgroundColour(s.find<QLabel>("Label2_10")), StateColour::readout());
    QVERIFY(s.find<QPushButton>("Command7")->isEnabled());
    QVERIFY(s.view->handleKey(Qt::Key_F6));
    QCOMPARE(s.view->model().view().pageEndId, 880);
}

void TestTrendView::failedSaveIsSaid_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("file");
    QTest::newRow("PNG") << "printToPng"
                         << "trend.png";
    QTest::newRow("PDF") << "printToPdf"
                         << "trend.pdf";
}

// A folder that cannot be written: the operator is told, and no file appears.
void TestTrendView::failedSaveIsSaid()
{
    QFETCH(QString, button);
    QFETCH(QString, file);
    Station s;
    s.open();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/") + file);
    QVERIFY(s.view->handleKey(Qt::Key_F3));
    s.find<QPushButton>(button)->click();
    auto* files = s.find<QFileDialog>("printSaveDialog");
    QVERIFY(files);
    emit files->fileSelected(path);
    auto* box = s.find<QMessageBox>("printError");
    QVERIFY(box && box->isVisible());
    QVERIFY2(box->text().contains(path), qPrintable(box->text()));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TestTrendView::hostButtons()
{
    Station s;
    s.open();
    auto* exit = new QPushButton(QStringLiteral("退出"));
    exit->setObjectName(QStringLiteral("Command1"));
    auto* history = new QPushButton(QStringLiteral("历史曲线"));
    history->setObjectName(QStringLiteral("Command29"));
    s.view->addFunctionButton(exit);
    s.view->addFunctionButton(history);
    auto* frame = s.find<QGroupBox>("functionFrame");
    QCOMPARE(exit->parentWidget(), frame);
    const int older = frame->layout()->indexOf(s.find<QWidget>("Command8"));
    QCOMPARE(frame->layout()->indexOf(exit), older + 1);
    QCOMPARE(frame->layout()->indexOf(history), older + 2);
    QVERIFY(frame->layout()->indexOf(s.find<QWidget>("Label9")) > older + 2);
}

void TestTrendView::noDatabase()
{
    Station s;
    s.open(TrendStyle::realTime(), false);
    // Slots that hold no sample name no time.
    for (int j = 0; j < 9; ++j) {
        QCOMPARE(s.text(QStringLiteral("Label4_%1").arg(j)), QString());
        QCOMPARE(s.text(QStringLiteral("Label7_%1").arg(j)), QString());
    }
    const QImage image = s.chartImage();
    QVERIFY(paintedNear(image, {4700.0, 7508.0}, QColor(255, 0, 0)));
    QVERIFY(!s.view->jumpToTime(kStart));
}

QTEST_MAIN(TestTrendView)
#include "tst_trendview.moc"
