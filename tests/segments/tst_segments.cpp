#include "FakeModbus485.h"
#include "LinkClient.h"
#include "SegmentsWindow.h"
#include "RefusedEntry.h"
#include "BackgroundColour.h"
#include "StateColours.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

namespace {

// Port 3, 9600 bit/s, no parity, instrument address 7: every call must carry 3 and 7.
const PortSettings kPort{3, 1, 0, 7};

QString setCall(int reg, int value) { return QStringLiteral("Set_4X_D1(3,7,%1,%2)").arg(reg).arg(value); }

// The window on an inline link, shown and active so that focus moves for real.
struct Rig {
    FakeModbus485* fake = new FakeModbus485;
    LinkClient link{std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline};
    SegmentsWindow window{link};

    Rig()
    {
        link.open(kPort);
        timer()->stop(); // tests refresh by hand
        fake->clearCalls();
    }
    QTimer* timer() { return window.findChild<QTimer*>(QStringLiteral("Timer1")); }
    QTabWidget* tabs() { return window.findChild<QTabWidget*>(); }
    QLineEdit* box(const QString& name) { return window.findChild<QLineEdit*>(name); }
    QString label(const QString& name)
    {
        auto* l = window.findChild<QLabel*>(name);
        return l ? l->text() : QStringLiteral("<missing %1>").arg(name);
    }
    bool show()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
    void focus(QLineEdit* b)
    {
        tabs()->setCurrentWidget(b->parentWidget());
        b->setFocus(Qt::MouseFocusReason);
    }
    void leave() { tabs()->setFocus(Qt::MouseFocusReason); }
    void typeAndLeave(const QString& name, const QString& text)
    {
        QLineEdit* b = box(name);
        QVERIFY2(b, qPrintable(name));
        focus(b);
        QVERIFY(b->hasFocus());
        b->selectAll();
        if (text.isEmpty())
            QTest::keyClick(b, Qt::Key_Delete);
        else
            QTest::keyClicks(b, text);
        leave();
    }
    QStringList writes() const { return fake->callsOf(QStringLiteral("Set_4X_D1")); }
};

// Holds every 16-register read until the test lets it through, so that a
// refresh can be caught while it is still pending on the link thread.
class GatedBus final : public Modbus485 {
public:
    FakeModbus485 inner;
    QSemaphore gate;

    int OpenPort_Modbus(int p, int b, int y) override { return inner.OpenPort_Modbus(p, b, y); }
    int ClosePort_Modbus(int p) override { return inner.ClosePort_Modbus(p); }
    int Get_0X_B16(int p, int s, int a, std::span<qint32> b) override { return inner.Get_0X_B16(p, s, a, b); }
    int Get_1X_B16(int p, int s, int a, std::span<qint32> b) override { return inner.Get_1X_B16(p, s, a, b); }
    int Get_3X_D8(int p, int s, int a, std::span<qint32> b) override { return inner.Get_3X_D8(p, s, a, b); }
    int Get_4X_D8(int p, int s, int a, std::span<qint32> b) override { return inner.Get_4X_D8(p, s, a, b); }
    int Get_4X_D16(int p, int s, int a, std::span<qint32> b) override
    {
        gate.acquire();
        return inner.Get_4X_D16(p, s, a, b);
    }
    int Set_4X_D1(int p, int s, int r, int v) override { return inner.Set_4X_D1(p, s, r, v); }
    int Set_0X_Bit1(int p, int s, int c) override { return inner.Set_0X_Bit1(p, s, c); }
    int Rst_0X_Bit1(int p, int s, int c) override { return inner.Rst_0X_Bit1(p, s, c); }
    LinkOutcome lastOutcome() const override { return inner.lastOutcome(); }
};

} // namespace

class TestSegments : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entryWrites_data();
    void entryWrites();
    void scaledFieldsStopAtTheRegister_data();
    void scaledFieldsStopAtTheRegister();
    void writesOnlyWhatChanged();
    void writeRepeatsOnceOnFailure();
    void registerMapOfAllFields();
    void display_data();
    void display();
    void refreshReadsFiveBlocks();
    void failedReadKeepsWords();
    void refreshSkippedWhilePending();
    void groupingSwitch_data();
    void groupingSwitch();
    void returnAndCloseBox();
    void opensWithFocusOnTabs();
    void looks();
    void screenshots();
};

void TestSegments::entryWrites_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    const QStringList none;
    QTest::newRow("row 1 upper limit x10") << "Text1_2"
                                           << "75.5" << QStringList{setCall(4611, 755)};
    QTest::newRow("row 1 temperature, half to even down") << "Text1_1"
                                                          << "12.5" << QStringList{setCall(4610, 12)};
    QTest::newRow("half to even up") << "Text1_1"
                                     << "13.5" << QStringList{setCall(4610, 14)};
    QTest::newRow("scaled half rounds after scaling") << "Text1_3"
                                                      << "0.25" << QStringList{setCall(4612, 2)};
    QTest::newRow("group 2 derivative x10") << "Text1C_9"
                                            << "3.5" << QStringList{setCall(5130, 35)};
    QTest::newRow("numeric prefix") << "Text1_5"
                                    << "45abc" << QStringList{setCall(4614, 45)};
    QTest::newRow("lower bound inclusive") << "Text1_1"
                                           << "-1999" << QStringList{setCall(4610, -1999)};
    QTest::newRow("upper bound inclusive") << "Text1_40"
                                           << "9999" << QStringList{setCall(4649, 9999)};
    QTest::newRow("bounds before scaling, then the register's") << "Text1_39"
                                                                << "9999" << none;
    QTest::newRow("negative scaled") << "Text1C_27"
                                     << "-1999" << QStringList{setCall(5148, -19990)};
    QTest::newRow("10000 temperature") << "Text1_1"
                                       << "10000" << none;
    QTest::newRow("10000 proportional") << "Text1C_0"
                                        << "10000" << none;
    QTest::newRow("10000 derivative") << "Text1C_3"
                                      << "10000" << none;
    QTest::newRow("-2000") << "Text1_1"
                           << "-2000" << none;
    QTest::newRow("just above bound, before rounding") << "Text1_1"
                                                       << "9999.4" << none;
    QTest::newRow("just below bound, before rounding") << "Text1C_2"
                                                       << "-1999.5" << none;
    QTest::newRow("unrepresentable") << "Text1_1"
                                     << "1e400" << none;
}

void TestSegments::entryWrites()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    Rig rig;
    QVERIFY(rig.show());
    rig.typeAndLeave(box, text);
    QCOMPARE(rig.writes(), expected);
    QCOMPARE(rig.box(box)->text(), text); // the box keeps what was typed
}

// Every tenths field of both grids: 9999 would be 99990, which a 16-bit
// register cannot hold, so the field takes at most 3276.7 and says so.
void TestSegments::scaledFieldsStopAtTheRegister_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("reg");
    for (int row = 1; row <= 10; ++row)
        for (int f : {2, 3}) {
            const int i = 4 * (row - 1) + f;
            QTest::addRow("Text1_%d", i) << QStringLiteral("Text1_%1").arg(i) << 4609 + i;
        }
    for (int group = 1; group <= 5; ++group) {
        const int j = 6 * (group - 1) + 3;
        QTest::addRow("Text1C_%d", j) << QStringLiteral("Text1C_%1").arg(j) << 5121 + j;
    }
}

void TestSegments::scaledFieldsStopAtTheRegister()
{
    QFETCH(QString, box);
    QFETCH(int, reg);
    Rig rig;
    QVERIFY(rig.show());
    const QString reason = QStringLiteral("超出范围 -1999 ~ 3276.7");
    rig.typeAndLeave(box, QStringLiteral("9999"));
    QCOMPARE(rig.writes(), QStringList());
    QLineEdit* b = rig.box(box);
    QCOMPARE(RefusedEntry::reason(b), reason);
    QCOMPARE(b->toolTip(), reason);
    QVERIFY(RefusedEntry::isMarked(b));
    QCOMPARE(backgroundColour(b), StateColour::quiet()); // the frame only

    rig.typeAndLeave(box, QStringLiteral("3276.7"));
    QCOMPARE(rig.writes(), QStringList{setCall(reg, 32767)});
    QCOMPARE(RefusedEntry::reason(b), QString());
    QCOMPARE(b->toolTip(), QString());
    QVERIFY(!RefusedEntry::isMarked(b));
}

void TestSegments::writesOnlyWhatChanged()
{
    Rig rig;
    QVERIFY(rig.show());
    QLineEdit* box = rig.box(QStringLiteral("Text1_2"));

    // An empty box that is entered and left must not write 0 into the instrument.
    rig.focus(box);
    rig.leave();
    QCOMPARE(rig.writes(), QStringList());

    rig.typeAndLeave(QStringLiteral("Text1_2"), QStringLiteral("50"));
    QCOMPARE(rig.writes(), QStringList{setCall(4611, 500)});

    // Visiting it again, or typing the same text over it, writes nothing more.
    rig.focus(box);
    rig.leave();
    rig.typeAndLeave(QStringLiteral("Text1_2"), QStringLiteral("50"));
    QCOMPARE(rig.writes().size(), 1);

    // A context menu or a switch to another application does not end the edit.
    rig.focus(box);
    QTest::keyClicks(box, QStringLiteral("1"));
    QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(box, &popupOut);
    QFocusEvent popupIn(QEvent::FocusIn, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(box, &popupIn);
    QCOMPARE(rig.writes().size(), 1);
    rig.leave();
    QCOMPARE(rig.writes(), (QStringList{setCall(4611, 500), setCall(4611, 5010)}));

    // A refused entry is not retried on the next visit.
    rig.typeAndLeave(QStringLiteral("Text1_2"), QStringLiteral("12345"));
    rig.focus(box);
    rig.leave();
    QCOMPARE(rig.writes().size(), 2);
}

void TestSegments::writeRepeatsOnceOnFailure()
{
    Rig rig;
    QVERIFY(rig.show());
    rig.fake->queueWriteResults({-8888, -8888});
    rig.typeAndLeave(QStringLiteral("Text1C_3"), QStringLiteral("2"));
    QCOMPARE(rig.writes(), (QStringList{setCall(5124, 20), setCall(5124, 20)}));
}

// Every box writes where the instrument's register table says, computed here
// from the table's own formulas, and its value label sits just before it.
void TestSegments::registerMapOfAllFields()
{
    struct Expected {
        QString box, label;
        int reg;
        bool scaled;
    };
    QVector<Expected> fields;
    for (int k = 1; k <= 10; ++k) {
        for (int f = 1; f <= 4; ++f) {
            const int i = 4 * (k - 1) + f;
            fields.push_back({QStringLiteral("Text1_%1").arg(i), QStringLiteral("D_4WRW_%1").arg(i), 4605 + f + 4 * k,
                              f == 2 || f == 3});
        }
    }
    for (int g = 1; g <= 5; ++g) {
        const int j = 6 * (g - 1);
        fields.push_back(
            {QStringLiteral("Text1C_%1").arg(j), QStringLiteral("D_4WRWC_%1").arg(j), 5115 + 6 * g, false});
        fields.push_back(
            {QStringLiteral("Text1C_%1").arg(j + 2), QStringLiteral("D_4WRWC_%1").arg(j + 2), 5117 + 6 * g, false});
        fields.push_back(
            {QStringLiteral("Text1C_%1").arg(j + 3), QStringLiteral("D_4WRWC_%1").arg(j + 3), 5118 + 6 * g, true});
    }
    QCOMPARE(fields.size(), 55);
    QCOMPARE(fields[0].reg, 4610);
    QCOMPARE(fields[3].reg, 4613);
    QCOMPARE(fields[36].reg, 4646);
    QCOMPARE(fields[39].reg, 4649);
    QCOMPARE((QList<int>{fields[40].reg, fields[41].reg, fields[42].reg}), (QList<int>{5121, 5123, 5124}));
    QCOMPARE((QList<int>{fields[52].reg, fields[53].reg, fields[54].reg}), (QList<int>{5145, 5147, 5148}));

    Rig rig;
    QVERIFY(rig.show());
    QCOMPARE(rig.window.findChildren<QLineEdit*>().size(), 55 + 1); // and the hidden Text1_0
    QVERIFY(rig.box(QStringLiteral("Text1_0"))->isHidden());

    QStringList expected;
    for (const Expected& e : fields) {
        rig.typeAndLeave(e.box, QStringLiteral("1"));
        expected << setCall(e.reg, e.scaled ? 10 : 1);
        auto* label = rig.window.findChild<QLabel*>(e.label);
        QVERIFY2(label, qPrintable(e.label));
        QLineEdit* box = rig.box(e.box);
        QCOMPARE(label->parentWidget(), box->parentWidget());
        QVERIFY2(label->geometry().right() < box->geometry().left(), qPrintable(e.label));
        QCOMPARE(label->geometry().center().y(), box->geometry().center().y());
    }
    QCOMPARE(rig.writes(), expected);
}

void TestSegments::display_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expected");
    QTest::newRow("grouping on") << 4609 << 1 << "D_4WRW_0"
                                 << "打开分组";
    QTest::newRow("grouping, any non-zero") << 4609 << 7 << "D_4WRW_0"
                                            << "打开分组";
    QTest::newRow("grouping, negative") << 4609 << -3 << "D_4WRW_0"
                                        << "打开分组";
    QTest::newRow("grouping off") << 4609 << 0 << "D_4WRW_0"
                                  << "关闭分组";
    QTest::newRow("temperature plain") << 4610 << 1234 << "D_4WRW_1"
                                       << "1234";
    QTest::newRow("limit tenths") << 4611 << 455 << "D_4WRW_2"
                                  << "45.5";
    QTest::newRow("limit whole") << 4611 << 450 << "D_4WRW_2"
                                 << "45";
    QTest::newRow("lower limit negative") << 4612 << -15 << "D_4WRW_3"
                                          << "-1.5";
    QTest::newRow("second block, PID group") << 4625 << 2 << "D_4WRW_16"
                                             << "2";
    QTest::newRow("third block, row 10 lower limit") << 4648 << 455 << "D_4WRW_39"
                                                     << "45.5";
    QTest::newRow("last segment field") << 4649 << 5 << "D_4WRW_40"
                                        << "5";
    QTest::newRow("proportional plain") << 5121 << 120 << "D_4WRWC_0"
                                        << "120";
    QTest::newRow("derivative tenths") << 5124 << 455 << "D_4WRWC_3"
                                       << "45.5";
    QTest::newRow("second PID block") << 5139 << 80 << "D_4WRWC_18"
                                      << "80";
    QTest::newRow("group 5 derivative") << 5148 << 7 << "D_4WRWC_27"
                                        << "0.7";
}

void TestSegments::display()
{
    QFETCH(int, reg);
    QFETCH(int, word);
    QFETCH(QString, label);
    QFETCH(QString, expected);
    Rig rig;
    rig.fake->setHoldingRegister(reg, word);
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(label), expected);
}

void TestSegments::refreshReadsFiveBlocks()
{
    Rig rig;
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.fake->calls(),
             (QStringList{QStringLiteral("Get_4X_D16(3,7,4609)"), QStringLiteral("Get_4X_D16(3,7,4625)"),
                          QStringLiteral("Get_4X_D16(3,7,4641)"), QStringLiteral("Get_4X_D16(3,7,5121)"),
                          QStringLiteral("Get_4X_D16(3,7,5137)")}));
    // The timer drives the same refresh once a second.
    QCOMPARE(rig.timer()->interval(), 1000);
    rig.fake->clearCalls();
    rig.timer()->start(10);
    QTRY_VERIFY(rig.fake->calls().size() >= 5);
}

void TestSegments::failedReadKeepsWords()
{
    Rig rig;
    // A block that was never read shows nothing rather than zeros.
    rig.fake->failNext(QStringLiteral("Get_4X_D16"), LinkOutcome::Exception);
    rig.fake->setHoldingRegister(4626, 11);
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_0")), QString());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_1")), QString());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_17")), QStringLiteral("11"));
    QCOMPARE(rig.label(QStringLiteral("D_4WRWC_0")), QStringLiteral("0"));

    rig.fake->setHoldingRegister(4609, 1);
    rig.fake->setHoldingRegister(4611, 455);
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_2")), QStringLiteral("45.5"));

    // The first block fails: its labels keep the last good words, the others move on.
    rig.fake->setHoldingRegister(4609, 0);
    rig.fake->setHoldingRegister(4611, 300);
    rig.fake->setHoldingRegister(4626, 12);
    rig.fake->failNext(QStringLiteral("Get_4X_D16"), LinkOutcome::Exception);
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_0")), QStringLiteral("打开分组"));
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_2")), QStringLiteral("45.5"));
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_17")), QStringLiteral("12"));

    // A timeout gives up the rest of the batch: everything stays as it was.
    rig.fake->setHoldingRegister(4626, 13);
    rig.fake->failNext(QStringLiteral("Get_4X_D16"), LinkOutcome::Timeout);
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_17")), QStringLiteral("12"));
}

void TestSegments::refreshSkippedWhilePending()
{
    auto* bus = new GatedBus;
    LinkClient link(std::unique_ptr<Modbus485>(bus), LinkClient::Mode::Threaded);
    link.open(kPort);
    bus->inner.setHoldingRegister(5124, 455);
    {
        SegmentsWindow window(link);
        window.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        auto* derivative = window.findChild<QLabel*>(QStringLiteral("D_4WRWC_3"));

        QVERIFY(window.refreshNow());
        QVERIFY(!window.refreshNow());
        QVERIFY(!window.refreshNow());

        bus->gate.release(5);
        QTRY_COMPARE(derivative->text(), QStringLiteral("45.5"));
        QCOMPARE(bus->inner.callsOf(QStringLiteral("Get_4X_D16")).size(), 5); // nothing was queued behind it

        bus->inner.setHoldingRegister(5124, 460);
        QVERIFY(window.refreshNow());
        bus->gate.release(5);
        QTRY_COMPARE(derivative->text(), QStringLiteral("46"));
    }
    bus->gate.release(100); // never leave the link thread waiting
}

void TestSegments::groupingSwitch_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("on") << 1 << 1 << "打开分组";
    QTest::newRow("off") << 0 << 0 << "关闭分组";
}

void TestSegments::groupingSwitch()
{
    QFETCH(int, item);
    QFETCH(int, value);
    QFETCH(QString, shown);
    Rig rig;
    rig.fake->setHoldingRegister(4609, 1 - value);
    auto* combo = rig.window.findChild<QComboBox*>(QStringLiteral("Combo1"));
    QCOMPARE(combo->currentText(), QStringLiteral("0:关闭分组 ")); // never the instrument's state
    combo->setCurrentIndex(item);
    rig.window.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    QCOMPARE(rig.writes(), QStringList{setCall(4609, value)});
    QVERIFY(rig.window.refreshNow());
    QCOMPARE(rig.label(QStringLiteral("D_4WRW_0")), shown);
}

void TestSegments::returnAndCloseBox()
{
    Rig rig;
    QVERIFY(rig.show());
    QSignalSpy spy(&rig.window, &SegmentsWindow::returnRequested);

    rig.window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    QCOMPARE(spy.count(), 1);
    QVERIFY(rig.window.isVisible()); // the window never takes itself down

    // The close box: same signal, the window stays, and the edit in progress is kept.
    QLineEdit* box = rig.box(QStringLiteral("Text1_1"));
    rig.focus(box);
    QTest::keyClicks(box, QStringLiteral("250"));
    QVERIFY(!rig.window.close());
    QCOMPARE(spy.count(), 2);
    QVERIFY(rig.window.isVisible());
    QCOMPARE(rig.writes(), QStringList{setCall(4610, 250)});
    rig.leave();
    QCOMPARE(rig.writes().size(), 1);
}

void TestSegments::opensWithFocusOnTabs()
{
    Rig rig;
    QVERIFY(rig.show());
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused == rig.tabs() || focused == rig.tabs()->tabBar());
    rig.leave();
    rig.window.findChild<QPushButton*>(QStringLiteral("Command2"))->setFocus(Qt::TabFocusReason);
    QCOMPARE(rig.writes(), QStringList());
}

void TestSegments::looks()
{
    Rig rig;
    QCOMPARE(rig.window.objectName(), QStringLiteral("PID1"));
    QCOMPARE(rig.window.windowTitle(), QStringLiteral("分段输出和分组PID"));
    QCOMPARE(rig.tabs()->tabText(0), QStringLiteral("分组输出"));
    QCOMPARE(rig.tabs()->tabText(1), QStringLiteral("分组PID"));
    QCOMPARE(backgroundColour(rig.box(QStringLiteral("Text1_7"))), StateColour::quiet());
    QCOMPARE(backgroundColour(rig.box(QStringLiteral("Text1C_27"))), StateColour::quiet());
    QCOMPARE(backgroundColour(rig.window.findChild<QLabel*>(QStringLiteral("D_4WRW_7"))), StateColour::white());
    QCOMPARE(backgroundColour(rig.window.findChild<QLabel*>(QStringLiteral("D_4WRWC_0"))), StateColour::white());
    // Everything fits, unclipped, in a 900 x 600 window.
    const QSize least = rig.window.minimumSizeHint();
    QVERIFY2(least.width() <= 900 && least.height() <= 600,
             qPrintable(QStringLiteral("%1 x %2").arg(least.width()).arg(least.height())));
}

// For a look by eye: PX_SCREENSHOT_DIR=dir renders both tabs there.
void TestSegments::screenshots()
{
    const QString dir = qEnvironmentVariable("PX_SCREENSHOT_DIR");
    if (dir.isEmpty())
        QSKIP("set PX_SCREENSHOT_DIR to render the window");
    Rig rig;
    // Set after the window exists: its field widths must follow the font.
    const QFont oldFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    const QSize least = rig.window.minimumSizeHint();
    for (int r = 1; r <= 10; ++r) {
        rig.fake->setHoldingRegister(4605 + 4 * r + 1, 100 + 50 * r);
        rig.fake->setHoldingRegister(4605 + 4 * r + 2, 1000 - 55 * r);
        rig.fake->setHoldingRegister(4605 + 4 * r + 3, 10 * r);
        rig.fake->setHoldingRegister(4605 + 4 * r + 4, (r + 1) / 2);
    }
    rig.fake->setHoldingRegister(4609, 1);
    for (int g = 1; g <= 5; ++g) {
        rig.fake->setHoldingRegister(5115 + 6 * g, 30 + 5 * g);
        rig.fake->setHoldingRegister(5117 + 6 * g, 240 - 20 * g);
        rig.fake->setHoldingRegister(5118 + 6 * g, 405 + g);
    }
    QVERIFY(rig.window.refreshNow());
    rig.box(QStringLiteral("Text1_6"))->setText(QStringLiteral("85.5"));
    rig.window.resize(900, 600);
    QVERIFY(rig.show());
    for (int tab = 0; tab < 2; ++tab) {
        rig.tabs()->setCurrentIndex(tab);
        QVERIFY(rig.window.grab().save(QStringLiteral("%1/segments-tab%2.png").arg(dir).arg(tab + 1)));
    }
    rig.tabs()->setCurrentIndex(0);
    rig.window.resize(least);
    QVERIFY(rig.window.grab().save(QStringLiteral("%1/segments-min.png").arg(dir)));
    QApplication::setFont(oldFont);
}

QTEST_MAIN(TestSegments)
#include "tst_segments.moc"
