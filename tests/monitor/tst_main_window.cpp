#include "BackgroundColour.h"
#include "DisplayTick.h"
#include "MonitorRig.h"
#include "MonitorTables.h"
#include "OperatorCommands.h"
#include "StatusLine.h"
#include "PanelWidgets.h"
#include "PortPanel.h"
#include "RefusedEntry.h"
#include "StateColours.h"
#include "TrendView.h"

#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

namespace {
// Port 3, 19200 bit/s, even parity, instrument address 7.
const PortSettings kPort{3, 2, 2, 7};

QString setCall(int reg, int value) { return QStringLiteral("Set_4X_D1(3,7,%1,%2)").arg(reg).arg(value); }

// The rig with the port open on kPort, the window shown and active (so that
// focus moves for real) and the display tick driven by hand.
struct OpenRig : MonitorRig {
    bool ready = false;
    OpenRig()
    {
        link.open(kPort);
        tick()->stop();
        window->show();
        window->activateWindow();
        ready = QTest::qWaitForWindowActive(window.get());
        fake->clearCalls();
    }
    DisplayTick* tick() const { return window->findChild<DisplayTick*>(); }
    QLabel* label(const QString& name) const { return find<QLabel>(name); }
    QString text(const QString& name) const
    {
        QLabel* l = label(name);
        return l ? l->text() : QStringLiteral("<missing %1>").arg(name);
    }
    QLineEdit* box(int i) const { return find<QLineEdit>(QStringLiteral("T_3RW_%1").arg(i)); }
    QPushButton* button(const QString& name) const { return find<QPushButton>(name); }
    void type(QLineEdit* b, const QString& text)
    {
        b->setFocus(Qt::MouseFocusReason);
        b->selectAll();
        QTest::keyClick(b, Qt::Key_Delete);
        if (text.toLatin1() == text.toUtf8()) {
            QTest::keyClicks(b, text);
            return;
        }
        QInputMethodEvent commit; // what an input method sends (full-width digits)
        commit.setCommitString(text);
        QCoreApplication::sendEvent(b, &commit);
    }
    QStringList writes() const { return fake->callsOf(QStringLiteral("Set_4X_D1")); }
};
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initialState();
    void fitsSmallScreen();
    void alarmTypes_data();
    void alarmTypes();
    void states_data();
    void states();
    void sensorOpenShowsAndHides();
    void manualModeShowsManualEntry();
    void numberFormat_data();
    void numberFormat();
    void send_data();
    void send();
    void refusalShowsWhy_data();
    void refusalShowsWhy();
    void minus8888RepeatedOnceByTheLink();
    void focusColoursAndReveal();
    void manualBoxFocusOnlyColours();
    void toggle_data();
    void toggle();
    void oneRevealOneToggle();
    void staleValuesWhileNoAnswer();
    void oneSilentBlockGreysOnlyItsValues();
    void historyUnloads_data();
    void historyUnloads();
    void closeBoxRefused();
    void parameterWindowsHideAndKeepUpdating_data();
    void parameterWindowsHideAndKeepUpdating();
    void overviewButtonOnlyWithLoops();
    void escapeExits();
    void escapeClosesPopupOnly();
    void escapeClosesRefusalTipOnly();
    void portOpenAndClose();
    void portDefaults();
    void twentiethSampleStartsNewLivePage();
    void rulerStopsTickAndShowsReadout();
    void liveViewWithRulerOnStaysFrozen();
};

void TestMainWindow::initialState()
{
    MonitorRig rig;
    MainWindow& w = *rig.window;
    QCOMPARE(w.objectName(), QStringLiteral("ssqx"));
    QCOMPARE(w.windowTitle(), QStringLiteral("过程控制仪表 PX5800"));
    QVERIFY(!w.close()); // refused while loaded
    QVERIFY(rig.flags.trendLinkEnabled);
    auto* timer = rig.find<QTimer>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 200);

    const QList<std::pair<const char*, const char*>> texts{
        {"D_1RW_0", "手自动"},   {"D_1RW_1", "整定关"},     {"D_1RW_2", "手动禁止"},
        {"D_2R_0", "报警一OFF"}, {"D_2R_1", "报警二OFF"},   {"D_2R_2", "报警二OFF"},
        {"D_2R_3", "报警二OFF"}, {"D_3W_6", "报警1无报警"}, {"D_3W_7", "报警2无报警"}};
    for (const auto& [name, text] : texts) {
        QLabel* l = rig.find<QLabel>(QString::fromLatin1(name));
        QVERIFY2(l, name);
        QCOMPARE(l->text(), QString::fromUtf8(text));
        QCOMPARE(backgroundColour(l), StateColour::quiet());
    }
    QVERIFY(rig.find<QLabel>(QStringLiteral("D_2R_2"))->isHidden());
    QVERIFY(rig.find<QLabel>(QStringLiteral("D_2R_3"))->isHidden());
    QVERIFY(rig.find<QLineEdit>(QStringLiteral("T_3RW_1"))->isHidden());
    for (const char* name :
         {"Command11", "Command12", "Command13", "Command14", "Command15", "Command16", "Command17", "Command18",
          "Command25", "Command27", "Command19", "Command20", "Command28", "Command23", "Command24"})
        QVERIFY2(rig.find<QPushButton>(QString::fromLatin1(name))->isHidden(), name);
    for (const char* name : {"Command21", "Command22", "Command1", "Command29"})
        QVERIFY2(!rig.find<QPushButton>(QString::fromLatin1(name))->isHidden(), name);
    // "历史曲线" sits with the trend's function keys.
    QCOMPARE(rig.find<QPushButton>(QStringLiteral("Command29"))->parentWidget()->objectName(),
             QStringLiteral("functionFrame"));
    QVERIFY(!rig.find<QPushButton>(QStringLiteral("Command21"))->isEnabled());
    // The tuning assistant analyses recorded periods with no line open.
    QSignalSpy tuning(rig.window.get(), &MainWindow::tuningRequested);
    QVERIFY(rig.find<QPushButton>(QStringLiteral("TuningButton"))->isEnabled());
    rig.find<QPushButton>(QStringLiteral("TuningButton"))->click();
    QCOMPARE(tuning.count(), 1);
    QCOMPARE(rig.find<QLabel>(QStringLiteral("D_3W_0"))->text(), QStringLiteral("0"));
    QCOMPARE(backgroundColour(rig.find<QLabel>(QStringLiteral("D_3W_0"))), StateColour::value());
}

void TestMainWindow::fitsSmallScreen()
{
    // 1280 x 800 less a title bar.
    MonitorRig rig;
    const QSize minimum = rig.window->minimumSizeHint();
    QVERIFY2(minimum.width() <= 1280 && minimum.height() <= 760,
             qPrintable(QStringLiteral("%1 x %2").arg(minimum.width()).arg(minimum.height())));

    // The break output's box and button sit under its caption, in the second row.
    rig.window->resize(1280, 760);
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    auto* value = rig.window->findChild<QLabel*>("D_4W_263");
    auto* box = rig.window->findChild<QLineEdit*>("T_3RW_263");
    auto* breakAlarm = rig.window->findChild<QLabel*>("D_4W_262");
    QVERIFY(value && box && breakAlarm);
    QVERIFY(box->geometry().top() > value->geometry().bottom());
    QCOMPARE(box->geometry().center().y(), breakAlarm->geometry().center().y());
}

void TestMainWindow::alarmTypes_data()
{
    QTest::addColumn<int>("type1");
    QTest::addColumn<int>("type2");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<bool>("active");
    // Each row starts from types 1 and 2 shown.
    QTest::newRow("none") << 0 << 0 << "无报警"
                          << "无报警" << false;
    QTest::newRow("deviation") << 3 << 4 << "报警1上偏差报警"
                               << "报警2下偏差报警" << true;
    QTest::newRow("band and break") << 5 << 6 << "报警1偏差带报警"
                                    << "报警2断线报警" << true;
    QTest::newRow("7 and 100 leave the labels") << 7 << 100 << "报警1上限报警"
                                                << "报警2下限报警" << true;
}

void TestMainWindow::alarmTypes()
{
    QFETCH(int, type1);
    QFETCH(int, type2);
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    QFETCH(bool, active);
    OpenRig rig;
    rig.image.HoldingRegs[13] = 1;
    rig.image.HoldingRegs[14] = 2;
    rig.tick()->tick();
    rig.image.HoldingRegs[13] = type1;
    rig.image.HoldingRegs[14] = type2;
    rig.tick()->tick();
    QCOMPARE(rig.text(QStringLiteral("D_3W_6")), text1);
    QCOMPARE(rig.text(QStringLiteral("D_3W_7")), text2);
    const QColor colour = active ? StateColour::active() : StateColour::quiet();
    QCOMPARE(backgroundColour(rig.label(QStringLiteral("D_3W_6"))), colour);
    QCOMPARE(backgroundColour(rig.label(QStringLiteral("D_3W_7"))), colour);
}

void TestMainWindow::states_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("coil"); // else discrete input
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("active");

    QTest::newRow("tuning off") << "D_1RW_1" << true << 0 << 0 << "整定关" << false;
    QTest::newRow("tuning on") << "D_1RW_1" << true << 0 << 1 << "自整定开" << true;
    QTest::newRow("manual forbidden") << "D_1RW_2" << true << 2 << 0 << "禁止手动" << false;
    QTest::newRow("manual permitted") << "D_1RW_2" << true << 2 << 1 << "允许手动" << true;
    QTest::newRow("alarm 1 off") << "D_2R_0" << false << 0 << 0 << "报警一OFF" << false;
    QTest::newRow("alarm 1 on") << "D_2R_0" << false << 0 << 1 << "报警一ON" << true;
    QTest::newRow("alarm 2 on") << "D_2R_1" << false << 1 << 1 << "报警二ON" << true;
    QTest::newRow("sensor short") << "D_2R_3" << false << 3 << 1 << "传感器短路" << true;
}

void TestMainWindow::states()
{
    QFETCH(QString, label);
    QFETCH(bool, coil);
    QFETCH(int, bit);
    QFETCH(int, value);
    QFETCH(QString, text);
    QFETCH(bool, active);
    OpenRig rig;
    // Start from the opposite state so that the colour really changes.
    auto& table = coil ? rig.image.CoilBits : rig.image.InputBits;
    table[std::size_t(bit)] = value ? 0 : 1;
    rig.tick()->tick();
    table[std::size_t(bit)] = value;
    rig.tick()->tick();
    QCOMPARE(rig.text(label), text);
    QCOMPARE(backgroundColour(rig.label(label)), active ? StateColour::active() : StateColour::quiet());
}

void TestMainWindow::sensorOpenShowsAndHides()
{
    OpenRig rig;
    QLabel* open = rig.label(QStringLiteral("D_2R_2"));
    rig.image.InputBits[2] = 1;
    rig.tick()->tick();
    QVERIFY(!open->isHidden());
    QCOMPARE(open->text(), QStringLiteral("传感器开路"));
    QCOMPARE(backgroundColour(open), StateColour::active());
    rig.image.InputBits[2] = 0;
    rig.tick()->tick();
    QVERIFY(open->isHidden());
    QCOMPARE(open->text(), QStringLiteral("传感器开路")); // text and colour stay for the next time
    rig.image.InputBits[2] = 2;                           // only exactly 1 is a fault
    rig.tick()->tick();
    QVERIFY(open->isHidden());
}

void TestMainWindow::manualModeShowsManualEntry()
{
    OpenRig rig;
    QLineEdit* box = rig.box(1);
    QPushButton* send = rig.button(QStringLiteral("Command25"));
    rig.image.CoilBits[1] = 0;
    rig.tick()->tick();
    QCOMPARE(rig.text(QStringLiteral("D_1RW_0")), QStringLiteral("手动"));
    QVERIFY(!box->isHidden());
    QVERIFY(!send->isHidden());
    rig.image.CoilBits[1] = 1;
    rig.tick()->tick();
    QCOMPARE(rig.text(QStringLiteral("D_1RW_0")), QStringLiteral("自动"));
    QVERIFY(box->isHidden());
    QVERIFY(send->isHidden());
    // The real timer does the same within one interval.
    rig.image.CoilBits[1] = 0;
    rig.tick()->start();
    QTRY_VERIFY_WITH_TIMEOUT(!box->isHidden(), 1000);
}

void TestMainWindow::numberFormat_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("break output 1000 tenths") << 263 << 1000.0f << "D_4W_263"
                                              << "100";
    QTest::newRow("break output 456 tenths") << 263 << 456.0f << "D_4W_263"
                                             << "45.6";
    QTest::newRow("alarm 1 value -50") << 256 << -50.0f << "D_4W_256"
                                       << "-50";
    QTest::newRow("PV 1234") << 0 << 1234.0f << "D_3W_0"
                             << "1234";
    QTest::newRow("OP 45.6") << 1 << 45.6f << "D_3W_1"
                             << "45.6";
    QTest::newRow("SV") << 2 << 300.0f << "D_3W_2"
                        << "300";
    QTest::newRow("aux") << 3 << -7.5f << "D_3W_3"
                         << "-7.5";
    QTest::newRow("break alarm value") << 262 << 9999.0f << "D_4W_262"
                                       << "9999";
}

void TestMainWindow::numberFormat()
{
    QFETCH(int, index);
    QFETCH(float, value);
    QFETCH(QString, label);
    QFETCH(QString, text);
    OpenRig rig;
    rig.image.Values[std::size_t(index)] = value;
    rig.tick()->tick();
    QCOMPARE(rig.text(label), text);
}

void TestMainWindow::send_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("buttonShownAfter");

    QTest::newRow("SV 9999") << 0 << "Command11"
                             << "9999" << QStringList{setCall(1, 9999)} << false;
    QTest::newRow("SV 10000 refused") << 0 << "Command11"
                                      << "10000" << QStringList{} << true;
    QTest::newRow("SV empty refused") << 0 << "Command11"
                                      << "" << QStringList{} << true;
    QTest::newRow("SV full-width digits") << 0 << "Command11"
                                          << "１２" << QStringList{setCall(1, 12)} << false;
    QTest::newRow("alarm 1 value") << 256 << "Command12"
                                   << "-50" << QStringList{setCall(257, -50)} << false;
    QTest::newRow("alarm 1 hysteresis") << 257 << "Command13"
                                        << "10" << QStringList{setCall(258, 10)} << false;
    QTest::newRow("alarm 1 delay 599.6") << 258 << "Command14"
                                         << "599.6" << QStringList{setCall(259, 600)} << false;
    QTest::newRow("alarm 1 delay 600.4 refused") << 258 << "Command14"
                                                 << "600.4" << QStringList{} << true;
    QTest::newRow("alarm 2 value") << 259 << "Command15"
                                   << "120" << QStringList{setCall(260, 120)} << false;
    QTest::newRow("alarm 2 hysteresis") << 260 << "Command16"
                                        << "3" << QStringList{setCall(261, 3)} << false;
    QTest::newRow("alarm 2 delay") << 261 << "Command17"
                                   << "60" << QStringList{setCall(262, 60)} << false;
    QTest::newRow("break alarm value") << 262 << "Command18"
                                       << "12abc" << QStringList{setCall(263, 12)} << false;
    QTest::newRow("break output 45.25") << 263 << "Command27"
                                        << "45.25" << QStringList{setCall(264, 452)} << false;
    QTest::newRow("break output 100") << 263 << "Command27"
                                      << "100" << QStringList{setCall(264, 1000)} << false;
    QTest::newRow("break output -0.1 refused") << 263 << "Command27"
                                               << "-0.1" << QStringList{} << true;
    QTest::newRow("manual output 0 keeps its button") << 1 << "Command25"
                                                      << "0" << QStringList{setCall(2, 0)} << true;
    QTest::newRow("manual output 45.6") << 1 << "Command25"
                                        << "45.6" << QStringList{setCall(2, 456)} << true;
}

void TestMainWindow::send()
{
    QFETCH(int, box);
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(QStringList, calls);
    QFETCH(bool, buttonShownAfter);
    OpenRig rig;
    QVERIFY(rig.ready);
    rig.image.CoilBits[1] = 0; // manual mode: the manual output is offered
    rig.tick()->tick();
    QLineEdit* b = rig.box(box);
    QPushButton* send = rig.button(button);
    QVERIFY(b && send);
    rig.type(b, text);
    QVERIFY(!send->isHidden());
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(rig.writes(), calls);
    QCOMPARE(!send->isHidden(), buttonShownAfter);
    // Sending hands the focus to no other box (which would reveal its button).
    for (int other : {0, 256, 257, 258, 259, 260, 261, 262, 263})
        if (other != box)
            QVERIFY(!rig.box(other)->hasFocus());
}

// The two percent rows (held in tenths) and the set value: a refused entry
// writes nothing but marks the box with the bounds; the largest entry goes out.
void TestMainWindow::refusalShowsWhy_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("largest");
    QTest::addColumn<QString>("call");
    QTest::newRow("break output") << 263 << "Command27"
                                  << "100.01"
                                  << "超出范围 0 ~ 100"
                                  << "100" << setCall(264, 1000);
    QTest::newRow("manual output") << 1 << "Command25"
                                   << "1e400"
                                   << "超出范围 0 ~ 100"
                                   << "100" << setCall(2, 1000);
    QTest::newRow("set value") << 0 << "Command11"
                               << "10000"
                               << "超出范围 -1999 ~ 9999"
                               << "9999" << setCall(1, 9999);
    QTest::newRow("set value, no number") << 0 << "Command11"
                                          << "abc"
                                          << "不是数值"
                                          << "9999" << setCall(1, 9999);
}

void TestMainWindow::refusalShowsWhy()
{
    QFETCH(int, box);
    QFETCH(QString, button);
    QFETCH(QString, refused);
    QFETCH(QString, reason);
    QFETCH(QString, largest);
    QFETCH(QString, call);
    OpenRig rig;
    QVERIFY(rig.ready);
    rig.image.CoilBits[1] = 0; // manual mode: the manual output is offered
    rig.tick()->tick();
    QLineEdit* b = rig.box(box);
    QPushButton* send = rig.button(button);
    QVERIFY(b && send);
    const QString usualTip = b->toolTip();
    rig.type(b, refused);
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(rig.writes(), QStringList());
    QVERIFY(!send->isHidden());
    QCOMPARE(RefusedEntry::reason(b), reason);
    QCOMPARE(b->toolTip(), reason);
    QVERIFY(RefusedEntry::isMarked(b));
    // The tip closes with the pointer or the focus: the status line keeps the reason.
    QLabel* line = rig.label(QStringLiteral("RefusalReason"));
    QVERIFY(line && line->isVisible());
    QVERIFY2(line->text().endsWith(reason), qPrintable(line->text()));

    rig.type(b, largest);
    QCOMPARE(b->toolTip(), usualTip);
    QVERIFY(!RefusedEntry::isMarked(b));
    QVERIFY(line->isHidden());
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(rig.writes(), QStringList{call});
}

void TestMainWindow::minus8888RepeatedOnceByTheLink()
{
    OpenRig rig;
    rig.fake->queueWriteResults({-8888, -8888, -8888});
    rig.type(rig.box(0), QStringLiteral("150"));
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { logged << m; });
    QTest::mouseClick(rig.button(QStringLiteral("Command11")), Qt::LeftButton);
    qInstallMessageHandler(previous);
    QCOMPARE(rig.writes(), QStringList({setCall(1, 150), setCall(1, 150)}));
    // The log tells the failure, never "written".
    QVERIFY2(logged.filter(QStringLiteral("written with")).size() == 1
                 && !logged.filter(QStringLiteral("not written with 150")).isEmpty(),
             qPrintable(logged.join(u'\n')));
}

void TestMainWindow::focusColoursAndReveal()
{
    OpenRig rig;
    QVERIFY(rig.ready);
    QLineEdit* box = rig.box(258);
    QPushButton* send = rig.button(QStringLiteral("Command14"));
    QCOMPARE(backgroundColour(box), StateColour::white());
    box->setFocus(Qt::MouseFocusReason);
    QVERIFY(box->hasFocus());
    QCOMPARE(backgroundColour(box), StateColour::focus());
    QVERIFY(!send->isHidden());
    QVERIFY(rig.button(QStringLiteral("Command13"))->isHidden()); // only its own button
    QTest::keyClick(box, Qt::Key_Tab);
    QVERIFY(!box->hasFocus());
    QCOMPARE(backgroundColour(box), StateColour::white());
    QVERIFY(!send->isHidden());
}

void TestMainWindow::manualBoxFocusOnlyColours()
{
    OpenRig rig;
    QVERIFY(rig.ready);
    rig.image.CoilBits[1] = 0;
    rig.tick()->tick();
    QPushButton* send = rig.button(QStringLiteral("Command25"));
    send->hide(); // as if hidden a moment ago: focusing the box must not bring it back
    rig.box(1)->setFocus(Qt::MouseFocusReason);
    QCOMPARE(backgroundColour(rig.box(1)), StateColour::focus());
    QVERIFY(send->isHidden());
}

void TestMainWindow::toggle_data()
{
    QTest::addColumn<int>("label");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("coil");
    QTest::addColumn<int>("polled");
    QTest::addColumn<QString>("call");
    QTest::newRow("automatic -> reset coil 2") << 0 << "Command19" << 2 << 1 << "Rst_0X_Bit1(3,7,2)";
    QTest::newRow("manual -> set coil 2") << 0 << "Command19" << 2 << 0 << "Set_0X_Bit1(3,7,2)";
    QTest::newRow("tuning off -> set coil 1") << 1 << "Command20" << 1 << 0 << "Set_0X_Bit1(3,7,1)";
    QTest::newRow("tuning on -> reset coil 1") << 1 << "Command20" << 1 << 1 << "Rst_0X_Bit1(3,7,1)";
    QTest::newRow("permitted -> reset coil 3") << 2 << "Command28" << 3 << 1 << "Rst_0X_Bit1(3,7,3)";
    QTest::newRow("any non-zero counts as set") << 2 << "Command28" << 3 << 5 << "Rst_0X_Bit1(3,7,3)";
}

void TestMainWindow::toggle()
{
    QFETCH(int, label);
    QFETCH(QString, button);
    QFETCH(int, coil);
    QFETCH(int, polled);
    QFETCH(QString, call);
    OpenRig rig;
    rig.image.CoilBits[std::size_t(coil - 1)] = polled;
    QPushButton* b = rig.button(button);
    QVERIFY(b->isHidden());
    QTest::mouseDClick(rig.label(QStringLiteral("D_1RW_%1").arg(label)), Qt::LeftButton);
    QVERIFY(!b->isHidden());
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList{call});
    QVERIFY(b->isHidden());
}

void TestMainWindow::oneRevealOneToggle()
{
    OpenRig rig;
    QLabel* mode = rig.label(QStringLiteral("D_1RW_0"));
    QPushButton* b = rig.button(QStringLiteral("Command19"));
    rig.image.CoilBits[1] = 1;
    QTest::mouseDClick(mode, Qt::LeftButton);
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->isHidden());
    QTest::mouseClick(b, Qt::LeftButton); // a hidden button takes no click
    QCOMPARE(rig.fake->calls().size(), 1);
    // No poll in between: the second reveal writes the same direction again.
    QTest::mouseDClick(mode, Qt::LeftButton);
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList({"Rst_0X_Bit1(3,7,2)", "Rst_0X_Bit1(3,7,2)"}));
}

void TestMainWindow::staleValuesWhileNoAnswer()
{
    OpenRig rig;
    QLabel* pv = rig.label(QStringLiteral("D_3W_0"));
    QLabel* setting = rig.label(QStringLiteral("D_4W_256"));
    QLabel* mode = rig.label(QStringLiteral("D_1RW_1"));
    rig.image.Values[0] = 250.0f;
    rig.image.CoilBits[0] = 1;
    rig.health.onPortOpened();
    rig.health.onPortState(PortState::CannotOpen);
    rig.tick()->tick();
    QCOMPARE(pv->text(), QStringLiteral("250")); // the last values stay on screen
    QCOMPARE(backgroundColour(pv), StateColour::stale());
    QCOMPARE(backgroundColour(setting), StateColour::stale());
    QCOMPARE(backgroundColour(mode), StateColour::active()); // the state colour still tells the state
    QVERIFY(pv->palette().color(QPalette::WindowText) != QColor(Qt::black));
    QVERIFY2(pv->toolTip().contains(QStringLiteral("端口无法打开")), qPrintable(pv->toolTip()));
    QVERIFY(pv->toolTip().contains(QStringLiteral("尚无有效数据")));
    QVERIFY(mode->toolTip().contains(QStringLiteral("端口无法打开")));

    // Answers again: normal at the next tick.
    rig.health.onPortState(PortState::Open);
    rig.health.onCycle(true);
    QCOMPARE(rig.health.state(), LinkHealth::State::Answering);
    rig.tick()->tick();
    QCOMPARE(backgroundColour(pv), StateColour::value());
    QCOMPARE(backgroundColour(setting), PanelWidgets::readOnlyValue());
    QCOMPARE(pv->palette().color(QPalette::WindowText), QColor(Qt::black));
    QVERIFY(pv->toolTip().isEmpty());
    QCOMPARE(mode->toolTip(), QStringLiteral("双击以切换"));
}

void TestMainWindow::oneSilentBlockGreysOnlyItsValues()
{
    OpenRig rig;
    rig.health.setNoAnswerMs(60);
    rig.health.onPortState(PortState::Open);
    rig.health.onPortOpened();
    rig.health.onCycle(true);
    QLabel* pv = rig.label(QStringLiteral("D_3W_0"));
    QLabel* type = rig.label(QString::fromLatin1(MonitorTables::alarmTypeRows()[0].label));
    QVERIFY(pv && type);
    QTest::qWait(100);
    rig.health.onBlocks(0b11011); // all but the alarm types (4114..)
    rig.tick()->tick();
    QCOMPARE(rig.health.state(), LinkHealth::State::Answering);
    QCOMPARE(rig.health.text(), QStringLiteral("报警类型读取失败"));
    QCOMPARE(backgroundColour(pv), StateColour::value()); // read every cycle: not grey
    QCOMPARE(pv->palette().color(QPalette::WindowText), QColor(Qt::black));
    QVERIFY(pv->toolTip().isEmpty());
    QVERIFY(type->palette().color(QPalette::WindowText) != QColor(Qt::black));
    QVERIFY2(type->toolTip().contains(QStringLiteral("报警类型读取失败")), qPrintable(type->toolTip()));
    auto* status = rig.find<StatusLine>(QStringLiteral("StatusLine"));
    QVERIFY(status);
    status->refresh();
    QCOMPARE(rig.label(QStringLiteral("LinkState"))->text(), QStringLiteral("报警类型读取失败"));
    QVERIFY(rig.label(QStringLiteral("LinkAge"))->text() != QStringLiteral("尚无有效数据"));

    rig.health.onBlocks(0b11111);
    rig.tick()->tick();
    QCOMPARE(type->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(rig.health.text(), QStringLiteral("通讯正常"));
}

void TestMainWindow::historyUnloads_data()
{
    QTest::addColumn<bool>("databaseOpen");
    QTest::newRow("connection open") << true;
    QTest::newRow("connection already closed") << false;
}

void TestMainWindow::historyUnloads()
{
    QFETCH(bool, databaseOpen);
    MonitorRig rig;
    if (!databaseOpen) {
        // A database the window could not open: no connection to release.
        rig.station.databasePath = rig.dir.path(); // a folder, not a file
        rig.window.reset();
        rig.window = std::make_unique<MainWindow>(rig.station);
    }
    QCOMPARE(QSqlDatabase::contains(QStringLiteral("ssqx")), databaseOpen);
    rig.window->show();
    QSignalSpy history(rig.window.get(), &MainWindow::historyRequested);
    QSignalSpy exit(rig.window.get(), &MainWindow::exitRequested);
    QTest::mouseClick(rig.find<QPushButton>(QStringLiteral("Command29")), Qt::LeftButton);
    QCOMPARE(history.count(), 1);
    QCOMPARE(exit.count(), 0);
    QVERIFY(!rig.window->isVisible());
    QVERIFY(rig.window->close()); // unloaded: a close is no longer refused
    QVERIFY(!rig.flags.trendLinkEnabled);
    QVERIFY(!rig.find<QTimer>(QStringLiteral("Timer1"))->isActive());
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("ssqx")));
}

void TestMainWindow::closeBoxRefused()
{
    MonitorRig rig;
    rig.window->show();
    QSignalSpy exit(rig.window.get(), &MainWindow::exitRequested);
    QVERIFY(!rig.window->close());
    QVERIFY(rig.window->isVisible());
    QVERIFY(!rig.window->close());
    QVERIFY(rig.flags.trendLinkEnabled);
    QVERIFY(rig.find<QTimer>(QStringLiteral("Timer1"))->isActive());
    QCOMPARE(exit.count(), 0);
}

void TestMainWindow::parameterWindowsHideAndKeepUpdating_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("config");
    QTest::newRow("参数设置") << "Command21" << true;
    QTest::newRow("输出分组") << "Command22" << false;
}

void TestMainWindow::overviewButtonOnlyWithLoops()
{
    MonitorRig rig;
    rig.window->show();
    auto* button = rig.find<QPushButton>(QStringLiteral("OverviewButton"));
    QVERIFY(button && !button->isVisible());
    QCOMPARE(button->parentWidget()->objectName(), QStringLiteral("NavFrame"));
    rig.window->setOverviewAvailable(true);
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("回路总览"));
    QSignalSpy requested(rig.window.get(), &MainWindow::overviewRequested);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(requested.count(), 1);
    QVERIFY(!rig.window->close()); // the station goes on; only the opener switches windows
}

void TestMainWindow::parameterWindowsHideAndKeepUpdating()
{
    QFETCH(QString, button);
    QFETCH(bool, config);
    MonitorRig rig;
    rig.window->openPort(); // enables "参数设置"
    rig.window->show();
    QSignalSpy configSpy(rig.window.get(), &MainWindow::configRequested);
    QSignalSpy segmentsSpy(rig.window.get(), &MainWindow::segmentsRequested);
    QTest::mouseClick(rig.find<QPushButton>(button), Qt::LeftButton);
    QCOMPARE(configSpy.count(), config ? 1 : 0);
    QCOMPARE(segmentsSpy.count(), config ? 0 : 1);
    QVERIFY(!rig.window->isVisible());
    QVERIFY(!rig.window->close());
    // Hidden, not unloaded: the display goes on so that returning shows
    // current values at once.
    rig.image.Values[2] = 321.0f;
    QTRY_COMPARE_WITH_TIMEOUT(rig.find<QLabel>(QStringLiteral("D_3W_2"))->text(), QStringLiteral("321"), 1000);
}

void TestMainWindow::escapeExits()
{
    OpenRig rig;
    QVERIFY(rig.ready);
    QSignalSpy exit(rig.window.get(), &MainWindow::exitRequested);
    rig.box(0)->setFocus(Qt::MouseFocusReason); // also from an entry box
    QTest::keyClick(rig.box(0), Qt::Key_Escape);
    QCOMPARE(exit.count(), 1);
    QVERIFY(!rig.window->isVisible());
}

void TestMainWindow::escapeClosesPopupOnly()
{
    // Esc meant for the dropped port list closes the list, not the station.
    OpenRig rig;
    QVERIFY(rig.ready);
    QSignalSpy exit(rig.window.get(), &MainWindow::exitRequested);
    auto* ports = rig.find<QComboBox>(QStringLiteral("Combo1"));
    ports->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup->focusWidget() ? popup->focusWidget() : popup, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QCOMPARE(exit.count(), 0);
    QVERIFY(rig.window->isVisible());
    // With the list closed Esc is the exit key again.
    QTest::keyClick(ports, Qt::Key_Escape);
    QCOMPARE(exit.count(), 1);
}

// Esc pressed to dismiss a refusal's tip closes the tip, not the station.
void TestMainWindow::escapeClosesRefusalTipOnly()
{
    OpenRig rig;
    QVERIFY(rig.ready);
    QSignalSpy exit(rig.window.get(), &MainWindow::exitRequested);
    QLineEdit* sv = rig.box(0);
    rig.type(sv, QStringLiteral("10000"));
    QTest::mouseClick(rig.button(QStringLiteral("Command11")), Qt::LeftButton);
    QVERIFY(RefusedEntry::isMarked(sv));
    QTRY_VERIFY(QToolTip::isVisible());
    QTest::keyClick(sv, Qt::Key_Escape);
    QCOMPARE(exit.count(), 0);
    QVERIFY(rig.window->isVisible());
    QTRY_VERIFY(!QToolTip::isVisible());
    QVERIFY(RefusedEntry::isMarked(sv)); // the reason stays on the box and the status line
    QVERIFY(rig.label(QStringLiteral("RefusalReason"))->isVisible());
    QTest::keyClick(sv, Qt::Key_Escape);
    QCOMPARE(exit.count(), 1);
}

void TestMainWindow::portOpenAndClose()
{
    MonitorRig rig;
    auto* ports = rig.find<QComboBox>(QStringLiteral("Combo1"));
    auto* addresses = rig.find<QComboBox>(QStringLiteral("Combo2"));
    QStringList portTexts, addressTexts;
    for (int i = 0; i < ports->count(); ++i)
        portTexts << ports->itemText(i);
    for (int i = 0; i < addresses->count(); ++i)
        addressTexts << addresses->itemText(i);
    QStringList expectedPorts, expectedAddresses;
    for (int n = 1; n <= 20; ++n)
        expectedPorts << QStringLiteral("%1 ").arg(n);
    for (int n = 1; n <= 16; ++n)
        expectedAddresses << QStringLiteral("%1 ").arg(n);
    QCOMPARE(portTexts, expectedPorts);
    QCOMPARE(addressTexts, expectedAddresses);

    ports->setCurrentIndex(ports->findText(QStringLiteral("3 ")));
    addresses->setCurrentIndex(addresses->findText(QStringLiteral("7 ")));
    rig.find<QRadioButton>(QStringLiteral("Option1_2"))->setChecked(true); // 19200
    rig.find<QRadioButton>(QStringLiteral("Option2_2"))->setChecked(true); // 偶校验
    QCOMPARE(rig.find<QRadioButton>(QStringLiteral("Option2_2"))->text(), QStringLiteral("偶校验"));
    rig.find<QPushButton>(QStringLiteral("Command9"))->click();
    QCOMPARE(rig.fake->callsOf(QStringLiteral("OpenPort_Modbus")), QStringList{"OpenPort_Modbus(3,2,2)"});
    const QStringList frames{"Frame2_1", "Frame5_0", "Frame5_1", "Frame6"};
    for (const QString& f : frames)
        QVERIFY2(rig.find<QGroupBox>(f)->isHidden(), qPrintable(f));
    QVERIFY(rig.find<QPushButton>(QStringLiteral("Command21"))->isEnabled());
    QVERIFY(rig.find<QPushButton>(QStringLiteral("Command23"))->isEnabled());
    QVERIFY(rig.polling.isRunning());

    // Later calls use port 3 and address 7: a send and a coil toggle.
    rig.fake->clearCalls();
    rig.find<QLineEdit>(QStringLiteral("T_3RW_0"))->setText(QStringLiteral("200"));
    rig.commands()->send(*MonitorTables::editRowForBox(0));
    rig.commands()->toggle(MonitorTables::modeRows()[1]);
    QCOMPARE(rig.fake->calls(), QStringList({setCall(1, 200), "Set_0X_Bit1(3,7,1)"}));

    rig.find<QPushButton>(QStringLiteral("Command10"))->click();
    QCOMPARE(rig.fake->callsOf(QStringLiteral("ClosePort_Modbus")), QStringList{"ClosePort_Modbus(3)"});
    for (const QString& f : frames)
        QVERIFY2(!rig.find<QGroupBox>(f)->isHidden(), qPrintable(f));
    QVERIFY(!rig.find<QPushButton>(QStringLiteral("Command21"))->isEnabled());
    QVERIFY(!rig.find<QPushButton>(QStringLiteral("Command23"))->isEnabled());
    QVERIFY(!rig.polling.isRunning());
}

void TestMainWindow::portDefaults()
{
    MonitorRig rig;
    QCOMPARE(rig.find<QComboBox>(QStringLiteral("Combo1"))->currentText(), QStringLiteral("1 "));
    QCOMPARE(rig.find<QComboBox>(QStringLiteral("Combo2"))->currentText(), QStringLiteral("1 "));
    rig.find<QPushButton>(QStringLiteral("Command9"))->click();
    QCOMPARE(rig.fake->callsOf(QStringLiteral("OpenPort_Modbus")), QStringList{"OpenPort_Modbus(1,1,0)"});
    QCOMPARE(rig.link.portSettings().address, 1);
}

void TestMainWindow::twentiethSampleStartsNewLivePage()
{
    OpenRig rig;
    const TrendModel& model = rig.trendView()->model();
    QCOMPARE(model.view().zoomLevel, 1);
    QCOMPARE(model.view().sampleCursor, 241);
    for (int n = 1; n <= 20; ++n) {
        rig.image.Values[0] = float(100 + n);
        rig.image.Values[1] = float(n);
        rig.image.Values[2] = 500.0f;
        rig.flags.newSample = true;
        rig.tick()->tick();
        QVERIFY(!rig.flags.newSample);
        if (n < 20)
            QCOMPARE(model.view().sampleCursor, 241 + n);
    }
    QCOMPARE(model.view().sampleCursor, 241);
    QCOMPARE(model.buffer().channelValue[TrendBuffer::PV][241], 120.0f);
    QCOMPARE(model.buffer().channelValue[TrendBuffer::OP][241], 20.0f);
    QCOMPARE(model.buffer().channelValue[TrendBuffer::SV][241], 500.0f);
    // Without an announcement the tick appends nothing.
    rig.tick()->tick();
    QCOMPARE(model.view().sampleCursor, 241);
}

void TestMainWindow::rulerStopsTickAndShowsReadout()
{
    OpenRig rig;
    QVERIFY(rig.ready);
    QTimer* timer = rig.find<QTimer>(QStringLiteral("Timer1"));
    timer->start();
    QTest::keyClick(rig.window.get(), Qt::Key_F4);
    QVERIFY(rig.trendView()->rulerOn());
    QVERIFY(!timer->isActive());
    Q_EMIT rig.trendView()->rulerReadout(1.5f, 2.0f, 3.0f);
    QCOMPARE(rig.text(QStringLiteral("D_3W_0")), QStringLiteral("1.5"));
    QCOMPARE(rig.text(QStringLiteral("D_3W_1")), QStringLiteral("2"));
    QCOMPARE(rig.text(QStringLiteral("D_3W_2")), QStringLiteral("3"));
    QCOMPARE(backgroundColour(rig.label(QStringLiteral("D_3W_2"))), StateColour::readout());
    QTest::keyClick(rig.window.get(), Qt::Key_F4);
    QVERIFY(!rig.trendView()->rulerOn());
    QVERIFY(timer->isActive());
    rig.image.Values[0] = 77.0f;
    QTRY_COMPARE_WITH_TIMEOUT(rig.text(QStringLiteral("D_3W_0")), QStringLiteral("77"), 1000);
    QCOMPARE(backgroundColour(rig.label(QStringLiteral("D_3W_2"))), StateColour::value());
}

void TestMainWindow::liveViewWithRulerOnStaysFrozen()
{
    // F6 back to the live view with the ruler on: the display tick stays
    // stopped, or it would overwrite the readout within 200 ms.
    OpenRig rig;
    QVERIFY(rig.ready);
    QTimer* timer = rig.find<QTimer>(QStringLiteral("Timer1"));
    timer->start();
    QTest::keyClick(rig.window.get(), Qt::Key_F4);
    QTest::keyClick(rig.window.get(), Qt::Key_F7);
    QTest::keyClick(rig.window.get(), Qt::Key_F6);
    QVERIFY(rig.trendView()->rulerOn());
    QCOMPARE(rig.trendView()->model().nav().pagesBack, qint16(0));
    QVERIFY(!timer->isActive());
    QCOMPARE(backgroundColour(rig.label(QStringLiteral("D_3W_0"))), StateColour::readout());
    QTest::keyClick(rig.window.get(), Qt::Key_F4);
    QVERIFY(timer->isActive());
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
