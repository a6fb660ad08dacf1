#include "MonitorTables.h"

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

QTEST_MAIN(TestMonitorTables)
#include "tst_monitor_tables.moc"
