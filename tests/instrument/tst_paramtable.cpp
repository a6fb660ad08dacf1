#include "ParamTable.h"

#include "NumericPrefix.h"

#include <QSet>
#include <QTest>

#include <algorithm>

using namespace ParamTable;

Q_DECLARE_METATYPE(ParamTable::Encoding)

namespace {
const QString kUnchanged = QStringLiteral("<unchanged>");
constexpr int kRefused = INT_MIN;
} // namespace

class ParamTableTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registerMap_data();
    void registerMap();
    void choiceEntriesStartWithTheirCode();
    void displayText_data();
    void displayText();
    void boxValue_data();
    void boxValue();
    void refusedEditorStates();
    void everyChineseTextIsMarkedForTranslation();
};

// Written independently from the instrument's register map: any row shifted
// by one shows up as a wrong register, caption, editor or bound.
void ParamTableTest::registerMap_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");

    const QString in = QStringLiteral("Input "), out = QStringLiteral("Output"), al = QStringLiteral("Alarm"),
                  co = QStringLiteral("Comm"), re = QStringLiteral("Return"), pid = QStringLiteral("PID");
    using E = Encoding;
    auto row = [](int i, int address, const QString& page, const char* caption, E encoding, const char* editor,
                  double minimum, double maximum) {
        QTest::addRow("%d %s", i, editor) << i << address << page << QString::fromUtf8(caption) << encoding
                                          << QString::fromLatin1(editor) << minimum << maximum;
    };
    row(0, 0x1001, in, "输入类型", E::Enumeration, "Combo1", 0, 28);
    row(1, 0x1002, in, "小数点", E::DecimalPoint, "Combo5", 0, 3);
    row(2, 0x1003, in, "量程上限", E::Integer, "D_4wT_2", -1999, 9999);
    row(3, 0x1004, in, "量程下限", E::Integer, "D_4wT_3", -1999, 9999);
    row(4, 0x1005, in, "数字滤波", E::Filter, "Combo2", 1, 11);
    row(5, 0x1006, in, "偏移修正", E::Integer, "D_4wT_5", -500, 500);
    row(6, 0x1007, in, "第二输入使能", E::Enumeration, "Combo17", 0, 2);
    row(7, 0x1008, in, "第二输入功能", E::Enumeration, "Combo16", 0, 2);
    row(8, 0x1009, in, "第二输入上限", E::Integer, "D_4wT_8", -1999, 9999);
    row(9, 0x100A, in, "第二输入下限", E::Integer, "D_4wT_9", -1999, 9999);
    row(10, 0x100B, out, "控制方式", E::OptionPair, "Option4", 0, 1);
    row(11, 0x100C, out, "输出一类型", E::Enumeration, "Combo4", 0, 3);
    row(12, 0x100D, out, "输出一信号", E::Enumeration, "Combo6", 0, 2);
    row(13, 0x100E, out, "输出一动作", E::OptionPair, "Option5", 0, 1);
    row(14, 0x100F, out, "输出二类型", E::Enumeration, "Combo7", 0, 3);
    row(15, 0x1010, out, "输出二信号", E::Enumeration, "Combo8", 0, 2);
    row(16, 0x1011, out, "输出二动作", E::OptionPair, "Option6", 0, 1);
    row(17, 0x1012, al, "报警一类型", E::Enumeration, "Combo9", 0, 6);
    row(18, 0x1013, al, "报警二类型", E::Enumeration, "Combo10", 0, 6);
    row(19, 0x1014, co, "通讯地址", E::Integer, "D_4wT_19", 1, 255);
    row(20, 0x1015, co, "波特率", E::Enumeration, "Combo11", 0, 2);
    row(21, 0x1016, co, "校验方式", E::Enumeration, "Combo12", 0, 2);
    row(22, 0x1017, co, "通讯延迟", E::Integer, "D_4wT_22", 0, 60);
    row(23, 0x1018, re, "变送使能", E::OptionPair, "Option7", 0, 1);
    row(24, 0x1019, re, "变送量程", E::Enumeration, "Combo13", 0, 2);
    row(25, 0x101A, re, "变送上限", E::Integer, "D_4wT_25", -1999, 9999);
    row(26, 0x101B, re, "变送下限", E::Integer, "D_4wT_26", -1999, 9999);
    row(27, 0x101C, re, "变送参数", E::Enumeration, "Combo14", 0, 3);
    row(28, 0x101D, in, "温度单位切换", E::Enumeration, "Combo3", 0, 2);
    row(29, 0x101E, pid, "输出1比例带", E::Integer, "D_4wT_29", 0, 9999);
    row(30, 0x101F, pid, "输出2比例带", E::Integer, "D_4wT_30", 0, 9999);
    row(31, 0x1020, pid, "积分时间", E::Integer, "D_4wT_31", 0, 5000);
    row(32, 0x1021, pid, "微分时间", E::Tenths, "D_4wT_32", 0, 999.9);
    row(33, 0x1022, pid, "控制周期时间", E::Tenths, "D_4wT_33", 0, 200);
    row(34, 0x1023, pid, "控制回差", E::Integer, "D_4wT_34", 0, 2000);
    row(35, 0x1024, pid, "输出上限幅", E::Tenths, "D_4wT_35", 0, 100);
    row(36, 0x1025, pid, "输出下限幅", E::Tenths, "D_4wT_36", 0, 100);
    row(37, 0x1026, in, "输入异常预置", E::Tenths, "D_4wT_37", 0, 100);
    row(38, 0x1027, in, "输入异常处理", E::Enumeration, "Combo15", 0, 1);
}

void ParamTableTest::registerMap()
{
    QFETCH(int, index);
    QFETCH(int, address);
    QFETCH(QString, page);
    QFETCH(QString, caption);
    QFETCH(Encoding, encoding);
    QFETCH(QString, editor);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QCOMPARE(int(all().size()), 39);
    const ParamDef& def = param(index);
    QCOMPARE(def.index, index);
    QCOMPARE(def.address, address);
    QCOMPARE(pageCaption(def.page), page);
    QCOMPARE(text(def.caption), caption);
    QCOMPARE(def.encoding, encoding);
    QCOMPARE(text(def.editorName), editor);
    QCOMPARE(def.minimum, minimum);
    QCOMPARE(def.maximum, maximum);

    // Every enumeration names each code its editor offers, and nothing more.
    if (def.encoding == Encoding::Enumeration)
        QCOMPARE(def.displayTexts.size(), def.entries.size());
    if (def.editor == Editor::Options)
        QCOMPARE(def.displayTexts.size(), std::size_t(2));
}

// The write rule reads the leading number of the chosen entry, so each entry
// must start with the code at its own position (the filter with its value).
void ParamTableTest::choiceEntriesStartWithTheirCode()
{
    int lists = 0;
    for (const ParamDef& def : all()) {
        if (def.editor != Editor::Choice)
            continue;
        ++lists;
        for (std::size_t n = 0; n < def.entries.size(); ++n) {
            const double expected = def.encoding == Encoding::Filter ? (n + 1) / 10.0 : double(n);
            const double lead = numericPrefix(QStringView(def.entries[n]));
            QVERIFY2(qFuzzyCompare(lead + 1, expected + 1),
                     qPrintable(text(def.editorName) + u' ' + text(def.entries[n])));
        }
    }
    QCOMPARE(lists, 17);
    // Lists shared by two or three editors are one list.
    QCOMPARE(param(11).entries.data(), param(14).entries.data());
    QCOMPARE(param(12).entries.data(), param(24).entries.data());
    QCOMPARE(param(17).entries.data(), param(18).entries.data());
    // Texts are kept byte for byte, odd ones included.
    QCOMPARE(text(param(0).entries[0]), QStringLiteral("0:K(-200-1300)"));
    QCOMPARE(text(param(0).entries[8]), QStringLiteral("8 WRe325(0-2300)"));
    QCOMPARE(text(param(0).entries[12]), QStringLiteral("12:0Ω80(0～80Ω) "));
    QCOMPARE(text(param(27).entries[3]), QStringLiteral("3:变送（PV-SV)值 "));
}

void ParamTableTest::displayText_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, int index, int value, const char* expected) {
        QTest::newRow(name) << index << value << QString::fromUtf8(expected);
    };
    row("decimal point 2", 1, 2, "02.00");
    row("decimal point 3", 1, 3, "3.000");
    row("filter 10", 4, 10, "01.0");
    row("filter 11", 4, 11, "01.1");
    row("preset 5", 37, 5, "0.5");
    row("input type 8", 0, 8, "WRe325(0~2300)");
    row("alarm type 6", 17, 6, "加热器断线报警");
    // Codes without a text leave the label.
    row("input type -1", 0, -1, "<unchanged>");
    row("decimal point 4", 1, 4, "<unchanged>");
    row("control mode 2", 10, 2, "<unchanged>");
}

void ParamTableTest::displayText()
{
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(QString, expected);
    const QString previous = QStringLiteral("previous");
    const QString shown = ParamTable::displayText(index, value, previous);
    QCOMPARE(shown, expected == kUnchanged ? previous : expected);
}

void ParamTableTest::boxValue_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    auto row = [](const char* name, int index, const char* typed, int expected) {
        QTest::newRow(name) << index << QString::fromUtf8(typed) << expected;
    };
    row("derivative just above", 32, "999.91", kRefused);
    row("derivative negative", 32, "-0.1", kRefused);
    row("cycle time 200", 33, "200", 2000);
    row("clamp 100.05", 35, "100.05", kRefused);
    row("preset 0.05 halves to even", 37, "0.05", 0);
    row("range 9999.4 is above", 2, "9999.4", kRefused);
    row("range trailing text", 3, "12abc", 12);
    row("range blanks in digits", 3, " 1 2", 12);
    row("offset -501", 5, "-501", kRefused);
    row("address text", 19, "abc", kRefused);
    row("address 3.5 halves to even", 19, "3.5", 4);
    row("address hexadecimal", 19, "&H10", 16);
    row("a choice row takes no text", 0, "3", kRefused);
}

void ParamTableTest::boxValue()
{
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    QCOMPARE(valueToWrite(index, QStringView(typed)).value_or(kRefused), expected);
}

// States no editor of the window can produce, refused rather than guessed.
void ParamTableTest::refusedEditorStates()
{
    QVERIFY(!valueToWrite(38, ChoiceEntry{2}));  // past the last entry
    QVERIFY(!valueToWrite(38, ChoiceEntry{-1})); // nothing selected
    QVERIFY(!valueToWrite(2, ChoiceEntry{0}));   // a number box row
    QVERIFY(!valueToWrite(11, OptionChoice{1})); // a choice row
    QVERIFY(!linkedWrite(11, 4));                // output type without a cycle time
    QVERIFY(!ParamTable::displayText(39, 0));    // register 4136 has no label
}

// The rows hold UTF-16 views the translation tools cannot read; a Chinese
// text missing from the marked list would stay Chinese in English.
void ParamTableTest::everyChineseTextIsMarkedForTranslation()
{
    QSet<QString> marked;
    for (const char* t : ParamTable::translatableTexts())
        marked << QString::fromUtf8(t);
    QStringList unmarked;
    const auto check = [&](std::u16string_view view) {
        const QString t = ParamTable::text(view);
        const bool han = std::any_of(t.cbegin(), t.cend(), [](QChar c) { return c.script() == QChar::Script_Han; });
        if (han && !marked.contains(t))
            unmarked << t;
    };
    for (const ParamTable::ParamDef& def : ParamTable::all()) {
        check(def.caption);
        for (auto t : def.displayTexts)
            check(t);
        for (auto t : def.entries)
            check(t);
        for (auto t : def.options)
            check(t);
    }
    QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(u", ")));
}

QTEST_APPLESS_MAIN(ParamTableTest)
#include "tst_paramtable.moc"
