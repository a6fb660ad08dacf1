#include "EntryRule.h"
#include "MonitorTables.h"
#include "ParamTable.h"
#include "SegmentFields.h"

#include <QTest>

namespace {
constexpr int kRefused = INT_MIN;
}

class EntryRuleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void onlyTheGroupedTenthsAreNarrowed();
    void parameterByText_data();
    void parameterByText();
};

// The register is a signed 16-bit word: scaled entries that would wrap are
// refused, and the reason names the bounds that really apply.
void EntryRuleTest::read_data()
{
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<int>("factor");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("reason");
    const QString wide = QStringLiteral("超出范围 -1999 ~ 3276.7");
    auto row = [](const char* name, double lower, double upper, int factor, const char* typed, int expected,
                  const QString& reason) {
        QTest::newRow(name) << lower << upper << factor << QString::fromUtf8(typed) << expected << reason;
    };
    row("tenths: last that fits", -1999, 9999, 10, "3276.7", 32767, {});
    row("tenths: 3276.74 refused before rounding", -1999, 9999, 10, "3276.74", kRefused, wide);
    row("tenths: written maximum wraps", -1999, 9999, 10, "9999", kRefused, wide);
    row("tenths: written minimum fits", -1999, 9999, 10, "-1999", -19990, {});
    row("tenths: lowest register", -9999, 0, 10, "-3276.8", -32768, {});
    row("tenths: below lowest register", -9999, 0, 10, "-3276.81", kRefused, QStringLiteral("超出范围 -3276.8 ~ 0"));
    row("plain: bounds wider than a register", 0, 99999, 1, "32768", kRefused, QStringLiteral("超出范围 0 ~ 32767"));
    row("unrepresentable", 0, 100, 1, "1e400", kRefused, QStringLiteral("超出范围 0 ~ 100"));
    // Text without a number is never written as 0, although 0 is in range.
    const QString noNumber = QStringLiteral("不是数值");
    for (const char* typed : {"", "  ", "abc", "-", ".", "nan", "inf", "&H"})
        QTest::addRow("no number \"%s\"", typed)
            << -1999.0 << 9999.0 << 1 << QString::fromUtf8(typed) << kRefused << noNumber;
    row("full-width tenths", -1999, 9999, 10, "１２．５", 125, {});
    row("full-width sign and blank", -1999, 9999, 1, "－\u3000５", -5, {});
}

void EntryRuleTest::read()
{
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(int, factor);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    QFETCH(QString, reason);
    const EntryRule::Verdict verdict = EntryRule::read(typed, EntryRule::Bounds{lower, upper, factor});
    QCOMPARE(verdict.value.value_or(kRefused), expected);
    QCOMPARE(verdict.refusal, reason);
}

// Walks every entry field of the three windows' tables: the only fields whose
// written bounds do not fit a register are the grouped limits and derivative
// times (written up to 9999, held in tenths). A new row that overflows shows
// up here instead of on the instrument.
void EntryRuleTest::onlyTheGroupedTenthsAreNarrowed()
{
    QStringList narrowed;
    auto check = [&narrowed](const QString& name, EntryRule::Bounds written) {
        const EntryRule::Bounds b = EntryRule::effective(written);
        if (b.lower != written.lower || b.upper != written.upper)
            narrowed << name + u' ' + EntryRule::refusalText(written);
    };
    for (const MonitorTables::EditRow& row : MonitorTables::editRows())
        check(QStringLiteral("T_3RW_%1").arg(row.box), MonitorTables::bounds(row));
    for (const ParamTable::ParamDef& def : ParamTable::all())
        if (def.editor == ParamTable::Editor::NumberBox)
            check(ParamTable::text(def.editorName), *ParamTable::bounds(def.index));
    for (int row = 1; row <= SegmentMap::kSegmentRows; ++row)
        for (int c = 0; c < int(SegmentMap::kSegmentColumns.size()); ++c)
            check(SegmentMap::entryName(SegmentMap::segmentField(row, c)),
                  SegmentMap::bounds(SegmentMap::segmentField(row, c).scaled));
    for (int g = 1; g <= SegmentMap::kPidGroups; ++g)
        for (int c = 0; c < int(SegmentMap::kPidColumns.size()); ++c)
            check(SegmentMap::entryName(SegmentMap::pidField(g, c)),
                  SegmentMap::bounds(SegmentMap::pidField(g, c).scaled));

    QStringList expected;
    for (int row = 1; row <= 10; ++row)
        for (int f : {2, 3})
            expected << QStringLiteral("Text1_%1 超出范围 -1999 ~ 3276.7").arg(4 * (row - 1) + f);
    for (int g = 1; g <= 5; ++g)
        expected << QStringLiteral("Text1C_%1 超出范围 -1999 ~ 3276.7").arg(6 * (g - 1) + 3);
    QCOMPARE(narrowed, expected);
}

// A parameter typed as text (the command line has no choice lists): number
// boxes by the entry rule, choices by the code they write, the filter by its
// shown value.
void EntryRuleTest::parameterByText_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("reason");
    auto row = [](const char* name, int index, const char* typed, int expected, const char* reason) {
        QTest::newRow(name) << index << QString::fromUtf8(typed) << expected << QString::fromUtf8(reason);
    };
    row("derivative 1000", 32, "1000", kRefused, "超出范围 0 ~ 999.9");
    row("input type past the list", 0, "29", kRefused, "超出范围 0 ~ 28");
    row("input type between codes", 0, "2.5", kRefused, "超出范围 0 ~ 28");
    row("filter by its value", 4, "0.7", 7, "");
    row("filter past the list", 4, "1.2", kRefused, "超出范围 0.1 ~ 1.1");
    row("option pair 2", 10, "2", kRefused, "超出范围 0 ~ 1");
}

void EntryRuleTest::parameterByText()
{
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    QFETCH(QString, reason);
    const EntryRule::Verdict verdict = ParamTable::entryVerdict(index, typed);
    QCOMPARE(verdict.value.value_or(kRefused), expected);
    QCOMPARE(verdict.refusal, reason);
}

QTEST_APPLESS_MAIN(EntryRuleTest)
#include "tst_entryrule.moc"
