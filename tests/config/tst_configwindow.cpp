#include "ConfigWindow.h"

#include "BackgroundColour.h"
#include "FakeModbus485.h"
#include "LinkClient.h"
#include "RefusedEntry.h"
#include "StateColours.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace ParamTable;

namespace {

const PortSettings kPort{3, 1, 0, 7};

// A window on a recording fake, requests run inline. The refresh timer is
// stopped so that each test decides when a tick happens.
struct Rig {
    explicit Rig(ParamRegs* sharedRegs = nullptr)
        : fake(new FakeModbus485), link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline),
          regs(sharedRegs ? sharedRegs : &ownRegs)
    {
        link.open(kPort);
        window = std::make_unique<ConfigWindow>(link, *regs);
        window->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        fake->clearCalls();
    }

    template <typename T = QWidget> T* get(const QString& name) const { return window->findChild<T*>(name); }
    QLabel* value(int i) const { return get<QLabel>(QStringLiteral("D_4WRW_%1").arg(i)); }
    QPushButton* modifyButton(int i) const { return get<QPushButton>(QStringLiteral("Command3_%1").arg(i)); }
    QWidget* editor(int i) const
    {
        const ParamDef& def = param(i);
        return get(text(def.editor == Editor::Options ? def.frameName : def.editorName));
    }
    // Explicitly shown or hidden; rows on other tab pages are never "visible".
    bool rowOpen(int i) const { return !editor(i)->isHidden() && !modifyButton(i)->isHidden(); }
    void open(int i) const { QTest::mouseDClick(value(i), Qt::LeftButton); }
    void setRegister(int address, qint32 value) { fake->setHoldingRegister(address, value); }

    FakeModbus485* fake;
    LinkClient link;
    ParamRegs ownRegs;
    ParamRegs* regs;
    std::unique_ptr<ConfigWindow> window;
};

QStringList blockReads()
{
    return {"Get_4X_D8(3,7,4097)", "Get_4X_D8(3,7,4105)", "Get_4X_D8(3,7,4113)", "Get_4X_D8(3,7,4121)",
            "Get_4X_D8(3,7,4129)"};
}

} // namespace

class ConfigWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshWindow();
    void refreshShows_data();
    void refreshShows();
    void refreshReadsFiveBlocks();
    void failedBlockKeepsItsRegisters();
    void unknownCodeKeepsPreviousText();
    void registersOutliveTheWindow();
    void modify_data();
    void modify();
    void tenthsBoxesRefuseWithReason_data();
    void tenthsBoxesRefuseWithReason();
    void twoRowsOpenOneModify();
    void doubleClickOnlyOpens();
    void failedWriteRepeatedOnce_data();
    void failedWriteRepeatedOnce();
    void tickSkippedWhileBatchOut();
    void returnPaths_data();
    void returnPaths();
    void escapeClosesChoiceListOnly();
};

void ConfigWindowTest::freshWindow()
{
    Rig rig;
    ConfigWindow& w = *rig.window;
    QCOMPARE(w.objectName(), QStringLiteral("CONFIG1"));

    auto* tabs = rig.get<QTabWidget>(QStringLiteral("SSTab1"));
    QStringList captions;
    for (int t = 0; t < tabs->count(); ++t)
        captions << tabs->tabText(t);
    QCOMPARE(captions, QStringList({"Input ", "Output", "Alarm", "Comm", "Return", "PID"}));
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("PID"));
    QCOMPARE(rig.get<QPushButton>(QStringLiteral("Command11"))->text(), QStringLiteral(" Esc 返回"));

    auto* timer = rig.get<QTimer>(QStringLiteral("Timer1"));
    QCOMPARE(timer->interval(), 500);

    for (const ParamDef& def : all()) {
        const int i = def.index;
        QLabel* label = rig.value(i);
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Label2"));
        // The row sits on the page the table gives it.
        QVERIFY2(tabs->widget(int(def.page))->isAncestorOf(label), qPrintable(label->objectName()));
        QVERIFY(tabs->widget(int(def.page))->isAncestorOf(rig.editor(i)));
        QCOMPARE(rig.modifyButton(i)->text(), QStringLiteral("修改"));
        QVERIFY(!rig.rowOpen(i));
        if (def.editor == Editor::Choice) {
            auto* combo = rig.get<QComboBox>(text(def.editorName));
            QVERIFY(!combo->isEditable());
            QCOMPARE(combo->count(), int(def.entries.size()));
            QCOMPARE(combo->itemText(combo->count() - 1), text(def.entries.back()));
            QCOMPARE(combo->currentIndex(), 0);
        } else if (def.editor == Editor::Options) {
            const QString name = text(def.editorName);
            QVERIFY(rig.get<QRadioButton>(name + "_0")->isChecked());
            QVERIFY(!rig.get<QRadioButton>(name + "_1")->isChecked());
            QCOMPARE(rig.get<QRadioButton>(name + "_1")->text(), text(def.options[1]));
        } else {
            QVERIFY(rig.get<QLineEdit>(text(def.editorName))->text().isEmpty());
        }
    }
    QVERIFY(!w.findChild<QLabel*>(QStringLiteral("D_4WRW_39")));
    QVERIFY(rig.fake->calls().isEmpty()); // nothing read at load

    timer->start();
    QTRY_COMPARE(rig.value(29)->text(), QStringLiteral("0"));
}

void ConfigWindowTest::refreshShows_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, int address, int value, int index, const char* expected) {
        QTest::newRow(name) << address << value << index << QString::fromUtf8(expected);
    };
    row("all zero: input type", 4097, 0, 0, "K(-200~1300)");
    row("all zero: decimal point", 4097, 0, 1, "0000");
    row("all zero: filter", 4097, 0, 4, "00.0");
    row("all zero: second input", 4097, 0, 6, "禁止第二通道");
    row("all zero: control mode", 4097, 0, 10, "单输出");
    row("all zero: fault handling", 4097, 0, 38, "异常转输出预置值");
    row("decimal point 1", 4098, 1, 1, "001.0");
    row("filter 5", 4101, 5, 4, "00.5");
    row("derivative 125", 4129, 125, 32, "12.5");
    row("cycle time 100", 4130, 100, 33, "10");
}

void ConfigWindowTest::refreshShows()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(QString, expected);
    Rig rig;
    rig.setRegister(address, value);
    QVERIFY(rig.window->refreshNow());
    QCOMPARE(rig.value(index)->text(), expected);
}

void ConfigWindowTest::refreshReadsFiveBlocks()
{
    Rig rig;
    for (int k = 0; k < 40; ++k)
        rig.setRegister(4097 + k, 0);
    rig.setRegister(4136, 4242);
    rig.setRegister(4099, 1000);
    rig.setRegister(4098, 1);
    QVERIFY(rig.window->refreshNow());
    QCOMPARE(rig.fake->calls(), blockReads());
    QCOMPARE((*rig.regs)[39], 4242);
    QCOMPARE((*rig.regs)[40], 0);
    // The range is shown as held, whatever the decimal point says.
    QCOMPARE(rig.value(2)->text(), QStringLiteral("1000"));
    // Register 4136 is read but shown nowhere.
    for (QLabel* label : rig.window->findChildren<QLabel*>())
        QVERIFY2(!label->text().contains(QStringLiteral("4242")), qPrintable(label->objectName()));
}

void ConfigWindowTest::failedBlockKeepsItsRegisters()
{
    Rig rig;
    rig.setRegister(4097, 3);  // block 1
    rig.setRegister(4106, 77); // block 2
    rig.window->refreshNow();
    rig.setRegister(4097, 5);
    rig.setRegister(4106, 88);
    rig.fake->failNext(QStringLiteral("Get_4X_D8"), LinkOutcome::Exception); // the first block
    rig.window->refreshNow();
    QCOMPARE((*rig.regs)[0], 3);
    QCOMPARE(rig.value(0)->text(), QStringLiteral("T(-200~400)"));
    QCOMPARE((*rig.regs)[9], 88);
    QCOMPARE(rig.value(9)->text(), QStringLiteral("88"));
    // Unconfirmed values are greyed until their block reads again.
    QCOMPARE(backgroundColour(rig.value(7)), StateColour::stale());
    QCOMPARE(backgroundColour(rig.value(8)), StateColour::white());
    rig.window->refreshNow();
    QCOMPARE(backgroundColour(rig.value(7)), StateColour::white());
}

void ConfigWindowTest::unknownCodeKeepsPreviousText()
{
    Rig rig;
    QLabel* inputType = rig.value(0);
    for (auto [code, shown] : {std::pair{29, "Label2"}, {5, "J(0~1200)"}, {29, "J(0~1200)"}}) {
        rig.setRegister(4097, code);
        rig.window->refreshNow();
        QCOMPARE(inputType->text(), QString::fromLatin1(shown));
    }
}

void ConfigWindowTest::registersOutliveTheWindow()
{
    ParamRegs regs;
    {
        Rig first(&regs);
        first.setRegister(4126, 30);
        first.window->refreshNow();
    }
    Rig second(&regs);
    QCOMPARE(second.value(29)->text(), QStringLiteral("Label2")); // fresh controls
    second.fake->failNext(QStringLiteral("*"), LinkOutcome::Exception, 5);
    second.window->refreshNow();
    QCOMPARE(second.value(29)->text(), QStringLiteral("30")); // from the kept image
}

// kind: "untouched", "entry" (payload = list position), "option" (payload =
// 0/1), "text" (payload = box text). writes: the Set_4X_D1 calls expected;
// none means the entry is refused and the row stays open.
void ConfigWindowTest::modify_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QStringList>("writes");
    auto row = [](const char* name, int index, const char* kind, const char* payload, QStringList writes) {
        QTest::newRow(name) << index << QString::fromLatin1(kind) << QString::fromUtf8(payload) << writes;
    };
    row("input type without choosing", 0, "untouched", "", {"Set_4X_D1(3,7,4097,0)"});
    row("input type 8", 0, "entry", "8", {"Set_4X_D1(3,7,4097,8)"});
    row("filter 0.7", 4, "entry", "6", {"Set_4X_D1(3,7,4101,7)"});
    row("filter 1.1", 4, "entry", "10", {"Set_4X_D1(3,7,4101,11)"});
    row("derivative 12.5", 32, "text", "12.5", {"Set_4X_D1(3,7,4129,125)"});
    row("derivative 999.9", 32, "text", "999.9", {"Set_4X_D1(3,7,4129,9999)"});
    row("derivative 1000", 32, "text", "1000", {});
    row("range -1999", 2, "text", "-1999", {"Set_4X_D1(3,7,4099,-1999)"});
    row("range 9999", 2, "text", "9999", {"Set_4X_D1(3,7,4099,9999)"});
    row("range -2000", 2, "text", "-2000", {});
    row("range 10000", 2, "text", "10000", {});
    row("range 1e400", 2, "text", "1e400", {});
    row("address empty", 19, "text", "", {});
    row("address 0", 19, "text", "0", {});
    row("address 256", 19, "text", "256", {});
    row("address 2.5", 19, "text", "2.5", {"Set_4X_D1(3,7,4116,2)"});
    row("output 1 relay", 11, "entry", "1", {"Set_4X_D1(3,7,4108,1)", "Set_4X_D1(3,7,4130,100)"});
    row("output 1 linear", 11, "entry", "0", {"Set_4X_D1(3,7,4108,0)", "Set_4X_D1(3,7,4130,1)"});
    row("output 1 thyristor", 11, "entry", "3", {"Set_4X_D1(3,7,4108,3)", "Set_4X_D1(3,7,4130,20)"});
    row("output 2 relay", 14, "entry", "1", {"Set_4X_D1(3,7,4111,1)"});
    row("control mode dual", 10, "option", "1", {"Set_4X_D1(3,7,4107,1)"});
    row("transmit enable off", 23, "option", "0", {"Set_4X_D1(3,7,4120,0)"});
}

void ConfigWindowTest::modify()
{
    QFETCH(int, index);
    QFETCH(QString, kind);
    QFETCH(QString, payload);
    QFETCH(QStringList, writes);
    Rig rig;
    const ParamDef& def = param(index);
    rig.open(index);
    QVERIFY(rig.rowOpen(index));
    if (kind == "entry") {
        rig.get<QComboBox>(text(def.editorName))->setCurrentIndex(payload.toInt());
    } else if (kind == "option") {
        QTest::mouseClick(rig.get<QRadioButton>(text(def.editorName) + u'_' + payload), Qt::LeftButton);
    } else if (kind == "text") {
        QLineEdit* box = rig.get<QLineEdit>(text(def.editorName));
        box->clear();
        QTest::keyClicks(box, payload);
    }
    QTest::mouseClick(rig.modifyButton(index), Qt::LeftButton);

    QCOMPARE(rig.fake->calls(), writes);
    QCOMPARE(rig.rowOpen(index), writes.isEmpty());
}

// The tenths boxes: the largest entry is written, the next one is refused,
// writes nothing, keeps the row open and tells why on the box.
void ConfigWindowTest::tenthsBoxesRefuseWithReason_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("largest");
    QTest::addColumn<int>("written");
    auto row = [](const char* name, int index, const char* refused, const char* reason, const char* largest,
                  int written) {
        QTest::newRow(name) << index << QString::fromLatin1(refused) << QString::fromUtf8(reason)
                            << QString::fromLatin1(largest) << written;
    };
    row("32 derivative", 32, "1000", "超出范围 0 ~ 999.9", "999.9", 9999);
    row("33 cycle time", 33, "200.01", "超出范围 0 ~ 200", "200", 2000);
    row("35 upper clamp", 35, "100.1", "超出范围 0 ~ 100", "100", 1000);
    row("36 lower clamp", 36, "1e400", "超出范围 0 ~ 100", "100", 1000);
    row("37 fault preset", 37, "-0.01", "超出范围 0 ~ 100", "100", 1000);
}

void ConfigWindowTest::tenthsBoxesRefuseWithReason()
{
    QFETCH(int, index);
    QFETCH(QString, refused);
    QFETCH(QString, reason);
    QFETCH(QString, largest);
    QFETCH(int, written);
    Rig rig;
    rig.open(index);
    auto* box = rig.get<QLineEdit>(text(param(index).editorName));
    QTest::keyClicks(box, refused);
    QTest::mouseClick(rig.modifyButton(index), Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList());
    QVERIFY(rig.rowOpen(index));
    QCOMPARE(RefusedEntry::reason(box), reason);
    QCOMPARE(box->toolTip(), reason);
    QVERIFY(RefusedEntry::isMarked(box));

    box->selectAll();
    QTest::keyClicks(box, largest); // editing takes the mark away
    QVERIFY(!RefusedEntry::isMarked(box));
    QTest::mouseClick(rig.modifyButton(index), Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList{QStringLiteral("Set_4X_D1(3,7,%1,%2)").arg(4097 + index).arg(written)});
}

void ConfigWindowTest::twoRowsOpenOneModify()
{
    Rig rig;
    rig.open(2);
    rig.open(3);
    QTest::keyClicks(rig.get<QLineEdit>(QStringLiteral("D_4wT_2")), QStringLiteral("1300"));
    QTest::keyClicks(rig.get<QLineEdit>(QStringLiteral("D_4wT_3")), QStringLiteral("-200"));
    QTest::mouseClick(rig.modifyButton(3), Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList{"Set_4X_D1(3,7,4100,-200)"});
    QVERIFY(!rig.rowOpen(2));
    QVERIFY(!rig.rowOpen(3));
}

void ConfigWindowTest::doubleClickOnlyOpens()
{
    Rig rig;
    rig.setRegister(4097, 7);
    rig.window->refreshNow();
    rig.fake->clearCalls();
    rig.open(0);
    rig.open(0);
    QVERIFY(rig.rowOpen(0));
    QVERIFY(rig.fake->calls().isEmpty());
    QCOMPARE(rig.get<QComboBox>(QStringLiteral("Combo1"))->currentIndex(), 0); // not moved to the instrument's 7

    // A box keeps what was typed when its row closes and opens again.
    rig.open(31);
    QTest::keyClicks(rig.get<QLineEdit>(QStringLiteral("D_4wT_31")), QStringLiteral("240"));
    rig.window->hideEditors();
    rig.open(31);
    QCOMPARE(rig.get<QLineEdit>(QStringLiteral("D_4wT_31"))->text(), QStringLiteral("240"));
}

void ConfigWindowTest::failedWriteRepeatedOnce_data()
{
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<int>("calls");
    QTest::newRow("-8888 then accepted") << QList<int>{-8888, 0} << 2;
    QTest::newRow("-8888 twice") << QList<int>{-8888, -8888} << 2;
    QTest::newRow("other failure") << QList<int>{-1} << 1;
}

void ConfigWindowTest::failedWriteRepeatedOnce()
{
    QFETCH(QList<int>, results);
    QFETCH(int, calls);
    Rig rig;
    rig.fake->queueWriteResults(results);
    rig.open(22);
    QTest::keyClicks(rig.get<QLineEdit>(QStringLiteral("D_4wT_22")), QStringLiteral("5"));
    QTest::mouseClick(rig.modifyButton(22), Qt::LeftButton);
    QCOMPARE(rig.fake->calls(), QStringList(calls, QStringLiteral("Set_4X_D1(3,7,4119,5)")));
    QVERIFY(!rig.rowOpen(22));
}

void ConfigWindowTest::tickSkippedWhileBatchOut()
{
    auto* fake = new FakeModbus485;
    fake->setHoldingRegister(4126, 55);
    LinkClient link(std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Threaded);
    link.open(kPort);
    ParamRegs regs;
    ConfigWindow window(link, regs);
    window.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();

    // The batch's answer comes back through this thread's event loop, so it
    // is still out when the next tick falls due.
    QVERIFY(window.refreshNow());
    QVERIFY(!window.refreshNow());
    QVERIFY(!window.refreshNow());

    QTRY_COMPARE(window.findChild<QLabel*>(QStringLiteral("D_4WRW_29"))->text(), QStringLiteral("55"));
    QVERIFY(window.refreshNow());
    QTRY_VERIFY(!link.batchPending(&window));
    QCOMPARE(fake->callsOf(QStringLiteral("Get_4X_D8")), blockReads() + blockReads());
    // Every call carries the port and address of the last open.
    for (const QString& call : fake->calls())
        QVERIFY2(call.startsWith(QStringLiteral("OpenPort_Modbus(3,1,0)")) || call.contains(QStringLiteral("(3,7,")),
                 qPrintable(call));
}

void ConfigWindowTest::returnPaths_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("button") << "button";
    QTest::newRow("Esc in a number box") << "escape";
    QTest::newRow("close box") << "close";
}

void ConfigWindowTest::returnPaths()
{
    QFETCH(QString, how);
    Rig rig;
    ConfigWindow& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy spy(&w, &ConfigWindow::returnRequested);
    if (how == "button") {
        QTest::mouseClick(rig.get<QPushButton>(QStringLiteral("Command11")), Qt::LeftButton);
    } else if (how == "escape") {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        rig.open(29);
        QTest::keyClick(rig.get<QLineEdit>(QStringLiteral("D_4wT_29")), Qt::Key_Escape);
    } else {
        QVERIFY(!w.close()); // refused: the opener takes the window down
    }
    QCOMPARE(spy.count(), 1);
    QVERIFY(w.isVisible());
    QVERIFY(rig.fake->callsOf(QStringLiteral("Set_4X_D1")).isEmpty());
}

void ConfigWindowTest::escapeClosesChoiceListOnly()
{
    // Esc meant for a dropped choice list closes the list and keeps the
    // window with its open edits.
    Rig rig;
    ConfigWindow& w = *rig.window;
    int choice = 0;
    while (param(choice).editor != Editor::Choice)
        ++choice;
    auto* tabs = rig.get<QTabWidget>(QStringLiteral("SSTab1"));
    for (int page = 0; page < tabs->count(); ++page)
        if (tabs->widget(page)->isAncestorOf(rig.value(choice)))
            tabs->setCurrentIndex(page);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy spy(&w, &ConfigWindow::returnRequested);
    rig.open(choice);
    auto* combo = qobject_cast<QComboBox*>(rig.editor(choice));
    QVERIFY(combo && rig.rowOpen(choice));
    combo->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup->focusWidget() ? popup->focusWidget() : popup, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QCOMPARE(spy.count(), 0);
    QVERIFY(rig.rowOpen(choice));
    QTest::keyClick(combo, Qt::Key_Escape); // no popup: Esc returns again
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(ConfigWindowTest)
#include "tst_configwindow.moc"
