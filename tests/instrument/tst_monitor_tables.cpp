#include "MonitorBlock.h"
#include "MonitorTables.h"
#include "PollingCycle.h"

#include <QtTest>

using namespace MonitorTables;

class TestMonitorTables : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entryToRegister_data();
    void entryToRegister();
    void alarmTypeText_data();
    void alarmTypeText();
    void rowsAreConsistent();
    void blockAgreesWithPoll();
    void blockAgreesWithWindowRows();
};

void TestMonitorTables::entryToRegister_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("value");

    QTest::newRow("SV upper bound") << 0 << "9999" << true << 9999;
    QTest::newRow("SV above") << 0 << "10000" << false << 0;
    QTest::newRow("SV lower bound") << 0 << "-1999" << true << -1999;
    QTest::newRow("SV below") << 0 << "-2000" << false << 0;
    QTest::newRow("SV empty refused") << 0 << "" << false << 0;
    QTest::newRow("SV text after number") << 0 << "12abc" << true << 12;
    QTest::newRow("SV half to even down") << 0 << "12.5" << true << 12;
    QTest::newRow("SV half to even up") << 0 << "13.5" << true << 14;
    QTest::newRow("SV 9998.6 rounds to 9999") << 0 << "9998.6" << true << 9999;
    QTest::newRow("SV 9999.4 above before rounding") << 0 << "9999.4" << false << 0;
    QTest::newRow("SV too large for a double") << 0 << "1e400" << false << 0;
    QTest::newRow("SV hex") << 0 << "&H10" << true << 16;
    QTest::newRow("delay 600") << 258 << "600" << true << 600;
    QTest::newRow("delay 599.6 rounds up") << 258 << "599.6" << true << 600;
    QTest::newRow("delay 600.4 above before rounding") << 258 << "600.4" << false << 0;
    QTest::newRow("delay negative") << 261 << "-1" << false << 0;
    QTest::newRow("hysteresis 1000") << 257 << "1000" << true << 1000;
    QTest::newRow("hysteresis 1000.1") << 260 << "1000.1" << false << 0;
    QTest::newRow("break output 45.25 -> 452") << 263 << "45.25" << true << 452;
    QTest::newRow("break output 100 -> 1000") << 263 << "100" << true << 1000;
    QTest::newRow("break output -0.1 refused") << 263 << "-0.1" << false << 0;
    QTest::newRow("break output 45.6 -> 456") << 263 << "45.6" << true << 456;
    QTest::newRow("manual output 0") << 1 << "0" << true << 0;
    QTest::newRow("manual output 100.01 refused") << 1 << "100.01" << false << 0;
    QTest::newRow("manual output non-numeric refused") << 1 << "abc" << false << 0;
    QTest::newRow("break alarm value -1999") << 262 << "-1999" << true << -1999;
}

void TestMonitorTables::entryToRegister()
{
    QFETCH(int, box);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, value);
    const EditRow* row = editRowForBox(box);
    QVERIFY(row);
    const std::optional<qint32> written = MonitorTables::entryToRegister(text, *row);
    QCOMPARE(written.has_value(), accepted);
    if (accepted)
        QCOMPARE(*written, value);
}

void TestMonitorTables::alarmTypeText_data()
{
    QTest::addColumn<int>("alarm");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text"); // empty: label left as it was
    QTest::addColumn<bool>("active");

    QTest::newRow("1: none") << 0 << 0 << "无报警" << false;
    QTest::newRow("2: none") << 1 << 0 << "无报警" << false;
    QTest::newRow("1: high") << 0 << 1 << "报警1上限报警" << true;
    QTest::newRow("2: low") << 1 << 2 << "报警2下限报警" << true;
    QTest::newRow("1: high deviation") << 0 << 3 << "报警1上偏差报警" << true;
    QTest::newRow("2: low deviation") << 1 << 4 << "报警2下偏差报警" << true;
    QTest::newRow("1: band") << 0 << 5 << "报警1偏差带报警" << true;
    QTest::newRow("2: break") << 1 << 6 << "报警2断线报警" << true;
    QTest::newRow("1: 7 undefined") << 0 << 7 << "" << false;
    QTest::newRow("2: negative undefined") << 1 << -1 << "" << false;
}

void TestMonitorTables::alarmTypeText()
{
    QFETCH(int, alarm);
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(bool, active);
    const auto shown = MonitorTables::alarmTypeText(alarm, type);
    QCOMPARE(shown.has_value(), !text.isEmpty());
    if (shown) {
        QCOMPARE(shown->text, text);
        QCOMPARE(shown->active, active);
    }
}

void TestMonitorTables::rowsAreConsistent()
{
    // Each box, button and register appears once, and every alarm frame cell
    // is taken by one row only.
    QSet<int> boxes, registers;
    QSet<QString> buttons;
    QSet<QPair<int, int>> cells;
    for (const EditRow& row : editRows()) {
        QVERIFY(!boxes.contains(row.box));
        QVERIFY(!registers.contains(row.reg));
        QVERIFY(!buttons.contains(QLatin1String(row.button)));
        boxes.insert(row.box);
        registers.insert(row.reg);
        buttons.insert(QLatin1String(row.button));
        QVERIFY(row.lower < row.upper);
        if (row.place == Place::AlarmFrame) {
            QVERIFY(!cells.contains({row.gridRow, row.gridColumn}));
            cells.insert({row.gridRow, row.gridColumn});
        }
    }
    QCOMPARE(boxes.size(), 10);
    QCOMPARE(cells.size(), 8);
}

namespace {
// One cycle answered with each word telling where it came from: element i
// of block k answers 1000 * (k + 1) + i, bit words with bits 0..6 set.
LiveImage polledImage()
{
    QVector<ReadResult> results;
    int k = 0;
    for (const ReadRequest& request : PollingCycle::cycleRequests()) {
        ReadResult r;
        r.request = request;
        r.outcome = LinkOutcome::Answered;
        const bool bitsRead = request.fn == ReadFn::Get_0X_B16 || request.fn == ReadFn::Get_1X_B16;
        for (int i = 0; i < 8; ++i)
            r.data.append(bitsRead ? 0x7F : 1000 * (k + 1) + i); // a bit word above 254 is no answer
        results.append(r);
        ++k;
    }
    LiveImage image;
    PollingCycle::apply(results, image);
    return image;
}

void checkValue(const MonitorBlock::Value& v, const LiveImage& image)
{
    // The value's element is filled by the read the table names, and a
    // written value is polled back where the table says.
    const int word = int(std::lround(image.Values[std::size_t(v.index)] * (v.index == 1 ? 10 : 1)));
    QVERIFY2(word / 1000 == int(v.block) + 1, qPrintable(QStringLiteral("Values[%1]").arg(v.index)));
    if (v.readBackInput != 0) {
        QCOMPARE(v.block, MonitorBlock::Process);
        QCOMPARE(word % 1000, v.readBackInput - 1); // input register r is element r - 1 of the read
    }
}
} // namespace

void TestMonitorTables::blockAgreesWithPoll()
{
    const LiveImage image = polledImage();
    QCOMPARE(PollingCycle::blockCount(), 5);
    QSet<int> indexes, written;
    for (const MonitorBlock::Value& v : MonitorBlock::values()) {
        QVERIFY(!indexes.contains(v.index));
        indexes.insert(v.index);
        if (v.written) {
            QVERIFY(!written.contains(v.written));
            written.insert(v.written);
        }
        QVERIFY(v.divisor == 1 || v.divisor == 10);
        checkValue(v, image);
        if (QTest::currentTestFailed())
            return;
    }
    // The alarm types come from the types read.
    for (const MonitorBlock::Alarm& a : MonitorBlock::alarms()) {
        QCOMPARE(image.HoldingRegs[std::size_t(a.typeIndex)] / 1000, int(MonitorBlock::Types) + 1);
        QCOMPARE(MonitorBlock::valueAt(a.firstValue)->group, a.key);
    }
    // Every bit the table names is filled by its read.
    for (const MonitorBlock::Bit& b : MonitorBlock::bits())
        QCOMPARE(MonitorBlock::rawBit(b, image), 1);
    QCOMPARE(QString::fromLatin1(MonitorBlock::alarmType(6)->name), QStringLiteral("sensor_break"));
    QVERIFY(!MonitorBlock::alarmType(7));
}

void TestMonitorTables::blockAgreesWithWindowRows()
{
    // Each edit row writes the register of the value its label shows, and
    // a caption the row gives is the value's.
    for (const EditRow& row : editRows()) {
        const MonitorBlock::Value* v = MonitorBlock::valueWritten(row.reg);
        QVERIFY2(v, row.button);
        const auto shownBy = std::find_if(valueRows().begin(), valueRows().end(),
                                          [&](const ValueRow& r) { return qstrcmp(r.label, row.valueLabel) == 0; });
        QVERIFY2(shownBy != valueRows().end(), row.valueLabel);
        QCOMPARE(shownBy->index, v->index);
        if (row.caption)
            QCOMPARE(QString::fromUtf8(row.caption), QString::fromUtf8(v->caption));
    }
    // Each state label shows a bit of the block.
    for (const StateRow& row : stateRows())
        QVERIFY2(MonitorBlock::bitOf(row.table, row.bit), row.label);
    // Sensor faults count only at exactly 1; the other bits at anything but 0.
    const MonitorBlock::Bit* open = MonitorBlock::bitOf(BitTable::Input, 2);
    QVERIFY(!MonitorBlock::isOn(*open, 2));
    QVERIFY(MonitorBlock::isOn(*open, 1));
    QVERIFY(MonitorBlock::isOn(*MonitorBlock::bitOf(BitTable::Input, 0), 2));
}

QTEST_MAIN(TestMonitorTables)
#include "tst_monitor_tables.moc"
