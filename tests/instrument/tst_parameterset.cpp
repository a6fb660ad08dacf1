#include "ParameterSet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

using namespace ParameterSet;

namespace {

using Changes = QList<QPair<int, int>>; // register, value

// A plausible instrument: every register of a set, with values the editors accept.
Values instrumentValues()
{
    Values v;
    for (const Row& row : rows())
        v.insert(row.reg, 0);
    v[4116] = 1;    // address
    v[4101] = 5;    // filter 0.5
    v[4108] = 1;    // output 1: relay
    v[4130] = 100;  // cycle time 10.0 s
    v[4099] = 1300; // range top
    v[1] = 250;     // SV
    return v;
}

QByteArray withEntry(const char* section, const QJsonValue& reg, const QJsonValue& raw)
{
    QJsonObject root{{QStringLiteral("format"), 1}};
    root.insert(QString::fromLatin1(section),
                QJsonArray{QJsonObject{{QStringLiteral("register"), reg}, {QStringLiteral("raw"), raw}}});
    return QJsonDocument(root).toJson();
}

QStringList stepsText(const Plan& p)
{
    QStringList out;
    for (const Step& s : p.steps)
        out << QStringLiteral("%1=%2%3").arg(s.row->reg).arg(s.value).arg(s.linked ? QStringLiteral("L") : QString());
    return out;
}

} // namespace

class ParameterSetTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyRegisterOnce();
    void roundTripKeepsValuesAndShowsTexts();
    void refusedFiles_data();
    void refusedFiles();
    void equalNamesInOtherObjectsOrInTextsAreFine();
    void planOrderAndLinkedCycleTime_data();
    void planOrderAndLinkedCycleTime();
    void planReportsWhatTheEditorRefuses();
};

void ParameterSetTest::everyRegisterOnce()
{
    // 39 parameters, 40 segment words, 15 PID words, switch, 8 alarm settings, SV.
    QCOMPARE(rows().size(), std::size_t(39 + 40 + 15 + 1 + 8 + 1));
    QSet<int> seen;
    for (const Row& row : rows()) {
        QVERIFY2(!seen.contains(row.reg), qPrintable(QString::number(row.reg)));
        seen.insert(row.reg);
        QVERIFY(!caption(row).isEmpty());
    }
    QCOMPARE(caption(*rowFor(4611)), QStringLiteral("第一组 上限"));
    QCOMPARE(caption(*rowFor(5121 + 6 * 4 + 3)), QStringLiteral("第五组 微分D"));
    QCOMPARE(caption(*rowFor(264)), QStringLiteral("断线输出值"));
}

void ParameterSetTest::roundTripKeepsValuesAndShowsTexts()
{
    Values v = instrumentValues();
    v[4649] = -32768; // extremes of a register survive
    v[5121] = 32767;
    const PortSettings port{3, 2, 2, 7};
    const QByteArray json = toJson(v, port, QDateTime(QDate(2026, 3, 1), QTime(8, 0), QTimeZone::utc()));
    const LoadResult back = fromJson(json);
    QVERIFY2(back.file, qPrintable(back.error));
    QCOMPARE(back.file->values, v);
    QCOMPARE(back.file->port.address, 7);
    QCOMPARE(back.file->port.baudIndex, 2);
    QCOMPARE(back.file->port.parityIndex, 2);
    QCOMPARE(back.file->savedUtc, QStringLiteral("2026-03-01T08:00:00Z"));

    const QJsonObject root = QJsonDocument::fromJson(json).object();
    QCOMPARE(root.value(QStringLiteral("parameters")).toArray().size(), 39);
    QCOMPARE(root.value(QStringLiteral("segments")).toArray().size(), 40);
    QCOMPARE(root.value(QStringLiteral("pid_groups")).toArray().size(), 15);
    const QJsonObject filter = root.value(QStringLiteral("parameters")).toArray().at(4).toObject();
    QCOMPARE(filter.value(QStringLiteral("text")).toString(), QStringLiteral("00.5"));
    const QJsonObject output = root.value(QStringLiteral("parameters")).toArray().at(11).toObject();
    QCOMPARE(output.value(QStringLiteral("text")).toString(), QStringLiteral("继电器"));
}

void ParameterSetTest::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray good = toJson(instrumentValues(), PortSettings{1, 1, 0, 1}, QDateTime::currentDateTimeUtc());
    QTest::newRow("truncated") << good.left(good.size() / 2) << QStringLiteral("JSON");
    QTest::newRow("not json") << QByteArray("备份") << QStringLiteral("JSON");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("JSON");
    QTest::newRow("array") << QByteArray("[1,2]") << QStringLiteral("不是参数集");
    QTest::newRow("no format") << QByteArray("{\"parameters\":[]}") << QStringLiteral("format");
    QTest::newRow("format 2") << QByteArray("{\"format\":2}") << QStringLiteral("格式 2");
    QTest::newRow("unknown register") << withEntry("parameters", 4136, 0) << QStringLiteral("4136");
    QTest::newRow("wrong section") << withEntry("segments", 4097, 0) << QStringLiteral("4097");
    QTest::newRow("above 16 bits") << withEntry("sv", 1, 32768) << QStringLiteral("32768");
    QTest::newRow("below 16 bits") << withEntry("sv", 1, -32769) << QStringLiteral("-32769");
    QTest::newRow("fraction") << withEntry("sv", 1, 2.5) << QStringLiteral("2.5");
    QTest::newRow("raw as text") << withEntry("sv", 1, QStringLiteral("25")) << QStringLiteral("raw");
    QTest::newRow("nothing in it") << QByteArray("{\"format\":1}") << QStringLiteral("没有");
    const QByteArray twice = "{\"format\":1,\"sv\":[{\"register\":1,\"raw\":5},{\"register\":1,\"raw\":6}]}";
    QTest::newRow("register twice") << twice << QStringLiteral("两次");
    // The JSON reader keeps the last of two equal names: the first would be lost unseen.
    QTest::newRow("section twice") << QByteArray(R"({"format":1,"parameters":[{"register":4128,"raw":0}],)"
                                                 R"("parameters":[{"register":4128,"raw":1}]})")
                                   << QStringLiteral("“parameters”");
    QTest::newRow("name twice in an entry")
        << QByteArray(R"({"format":1,"sv":[{"register":1,"raw":5,"raw":6}]})") << QStringLiteral("“raw”");
    QTest::newRow("same name escaped") << QByteArray(R"({"format":1,"sv":[{"register":1,"raw":5}],"\u0073v":[]})")
                                       << QStringLiteral("“sv”");
}

void ParameterSetTest::refusedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    const LoadResult r = fromJson(bytes);
    QVERIFY(!r.file);
    QVERIFY2(r.error.contains(says), qPrintable(r.error));
}

void ParameterSetTest::equalNamesInOtherObjectsOrInTextsAreFine()
{
    // Names repeat across entries; a text may hold quotes, commas and names.
    const QByteArray json = R"({"format":1,"sv":[{"register":1,"raw":5,"text":"x\",\"raw\":\"{"}],)"
                            R"("alarm_settings":[{"register":257,"raw":7,"text":"raw"}]})";
    const LoadResult r = fromJson(json);
    QVERIFY2(r.file, qPrintable(r.error));
    QCOMPARE(r.file->values, (Values{{1, 5}, {257, 7}}));
}

void ParameterSetTest::planOrderAndLinkedCycleTime_data()
{
    QTest::addColumn<Changes>("file"); // registers changed from the instrument
    QTest::addColumn<QList<int>>("only");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("nothing differs") << Changes{} << QList<int>{} << QStringList{};
    // Segments and SV come after every configuration parameter, whatever the register number.
    QTest::newRow("safe order") << Changes{{1, 300}, {4610, 50}, {5121, 8}, {4609, 1}, {4099, 900}, {258, 3}}
                                << QList<int>{}
                                << QStringList{"4099=900", "4610=50", "5121=8", "4609=1", "258=3", "1=300"};
    // Output type writes its cycle time as editing does; the file's cycle time wins.
    QTest::newRow("linked, file's cycle time differs")
        << Changes{{4108, 2}, {4130, 35}} << QList<int>{} << QStringList{"4108=2", "4130=20L", "4130=35"};
    QTest::newRow("linked, file keeps the old cycle time")
        << Changes{{4108, 2}} << QList<int>{} << QStringList{"4108=2", "4130=20L", "4130=100"};
    QTest::newRow("linked value already what the file holds")
        << Changes{{4108, 2}, {4130, 20}} << QList<int>{} << QStringList{"4108=2", "4130=20L"};
    QTest::newRow("only output type, its cycle time put back")
        << Changes{{4108, 2}, {4130, 35}, {1, 300}} << QList<int>{4108} << QStringList{"4108=2", "4130=20L", "4130=35"};
    // The address is held back unless chosen, and then written last.
    QTest::newRow("address held back") << Changes{{4116, 9}, {1, 300}} << QList<int>{} << QStringList{"1=300"};
    QTest::newRow("address chosen, last")
        << Changes{{4116, 9}, {1, 300}} << QList<int>{4116, 1} << QStringList{"1=300", "4116=9"};
}

void ParameterSetTest::planOrderAndLinkedCycleTime()
{
    QFETCH(Changes, file);
    QFETCH(QList<int>, only);
    QFETCH(QStringList, steps);
    Values wanted = instrumentValues();
    for (const auto& [reg, value] : file)
        wanted[reg] = value;
    const Plan p = plan(instrumentValues(), wanted, QSet<int>(only.cbegin(), only.cend()));
    QCOMPARE(stepsText(p), steps);
    // Differences are listed in the order they would be written.
    const QVector<Difference> d = diff(instrumentValues(), wanted);
    QCOMPARE(d.size(), file.size());
}

void ParameterSetTest::planReportsWhatTheEditorRefuses()
{
    Values wanted = instrumentValues();
    wanted[4108] = 9;     // no such output type
    wanted[4101] = 12;    // filter 1.2 is not offered
    wanted[4611] = 32767; // 3276.7: the editor takes it
    wanted[4097] = -1;    // input type
    wanted[264] = 1001;   // break output 100.1 %
    wanted[4609] = 2;     // the switch offers 0 and 1
    const Plan p = plan(instrumentValues(), wanted);
    QCOMPARE(stepsText(p), QStringList{"4611=32767"});
    QStringList refused;
    for (const Refusal& r : p.refused) {
        refused << QString::number(r.row->reg);
        QVERIFY(!r.reason.isEmpty());
    }
    QCOMPARE(refused, (QStringList{"4097", "4101", "4108", "4609", "264"}));
}

QTEST_GUILESS_MAIN(ParameterSetTest)
#include "tst_parameterset.moc"
