#include "NumberText.h"
#include "NumericPrefix.h"
#include "Rounding.h"
#include "StationClock.h"

#include <QTimeZone>
#include <QtTest>
#include <clocale>
#include <string_view>

class TestCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void numericPrefix_data();
    void numericPrefix();
    void unrepresentable();
    void noNumber_data();
    void noNumber();
    void decimalCommaLocale();
    void halfEven_data();
    void halfEven();
    void halfEvenRefusesWhatDoesNotFit();
    void numberText_data();
    void numberText();
    void oleStamps();
    void utcStamps();
    void localTimeTexts();
};

void TestCore::numericPrefix_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("blanks only") << "   " << 0.0;
    QTest::newRow("plain") << "9999" << 9999.0;
    QTest::newRow("leading blanks") << "   42" << 42.0;
    QTest::newRow("inner blanks") << " 1 2 3" << 123.0;
    QTest::newRow("blank after sign") << "- 5" << -5.0;
    QTest::newRow("negative") << "-1999" << -1999.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("decimal") << "599.6" << 599.6;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "12." << 12.0;
    QTest::newRow("exponent") << "1.5e2" << 150.0;
    QTest::newRow("exponent sign") << "25E-1" << 2.5;
    QTest::newRow("dangling exponent") << "3e" << 3.0;
    QTest::newRow("exponent without digits then text") << "3e+x" << 3.0;
    QTest::newRow("D exponent") << "2d1" << 20.0;
    QTest::newRow("letters end it") << "12abc" << 12.0;
    QTest::newRow("no number") << "abc" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("combo entry") << "12:0Ω80(0～80Ω) " << 12.0;
    QTest::newRow("combo entry with blank") << "8 WRe325(0-2300)" << 8.0;
    QTest::newRow("filter entry") << "0.7 " << 0.7;
    QTest::newRow("port list entry") << "12 " << 12.0;
    QTest::newRow("hex") << "&H1F" << 31.0;
    QTest::newRow("hex lower") << "&hff" << 255.0;
    QTest::newRow("hex 16-bit wraps") << "&HFFFF" << -1.0;
    QTest::newRow("hex 32-bit") << "&H10000" << 65536.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("full-width digits read as ASCII") << "１２" << 12.0;
    QTest::newRow("full-width sign, point, exponent") << "－１．５Ｅ２" << -150.0;
    QTest::newRow("ideographic blank") << "\u3000７" << 7.0;
    QTest::newRow("tiny underflows to 0") << "1e-400" << 0.0;
}

void TestCore::numericPrefix()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    const NumericPrefix n = parseNumericPrefix(text);
    QVERIFY(n.representable);
    QCOMPARE(n.value, expected);
}

void TestCore::unrepresentable()
{
    QVERIFY(!parseNumericPrefix(u"1e400").representable);
    QVERIFY(!parseNumericPrefix(u"-1e400").representable);
    QVERIFY(!parseNumericPrefix(u"&H1FFFFFFFF").representable);
    QCOMPARE(::numericPrefix(u"1e400"), 0.0);
    QVERIFY(parseNumericPrefix(u"1e-400").representable); // underflows to 0, still a number
    QVERIFY(!parseNumericPrefix(u"0.001e312").representable);
}

void TestCore::noNumber_data()
{
    QTest::addColumn<QString>("text");
    for (const char* text : {"", "   ", "abc", "-", "+", ".", "-.", "e5", "nan", "inf", "&", "&H", "&Oz", "－"})
        QTest::addRow("\"%s\"", text) << QString::fromUtf8(text);
}

// Such a text reads as 0 where a value is only shown, but an entry must be
// able to tell it from a typed 0.
void TestCore::noNumber()
{
    QFETCH(QString, text);
    const NumericPrefix n = parseNumericPrefix(text);
    QVERIFY(!n.found);
    QCOMPARE(n.value, 0.0);
    QVERIFY(parseNumericPrefix(QStringLiteral("0")).found);
}

// Under a locale whose decimal point is a comma, the C library reads "45.5"
// as 45 and writes 45.5 as "45,5"; the station's numbers must not follow it.
void TestCore::decimalCommaLocale()
{
    const QByteArray before = setlocale(LC_ALL, nullptr);
    QVERIFY2(setlocale(LC_ALL, "de_DE.UTF-8"), "decimal-comma locale missing (LOCPATH)");
    QCOMPARE(localeconv()->decimal_point, std::string_view(","));
    const double parsed[] = {::numericPrefix(u"45.5"), ::numericPrefix(u"0.5"), ::numericPrefix(u"12.5e1")};
    const QString texts[] = {singleText(45.6f), doubleText(455 / 10.0), exactText(0.1)};
    setlocale(LC_ALL, before.constData());
    QCOMPARE(parsed[0], 45.5);
    QCOMPARE(parsed[1], 0.5);
    QCOMPARE(parsed[2], 125.0);
    QCOMPARE(texts[0], QStringLiteral("45.6"));
    QCOMPARE(texts[1], QStringLiteral("45.5"));
    QCOMPARE(texts[2], QStringLiteral("0.1"));
}

void TestCore::halfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("12.5") << 12.5 << 12;
    QTest::newRow("13.5") << 13.5 << 14;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("-2.5") << -2.5 << -2;
    QTest::newRow("-3.5") << -3.5 << -4;
    QTest::newRow("452.5") << 452.5 << 452;
    QTest::newRow("599.6") << 599.6 << 600;
    QTest::newRow("312.5") << 312.5 << 312;
    QTest::newRow("937.5") << 937.5 << 938;
}

void TestCore::halfEven()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(roundHalfEven32(value).value(), expected);
    QCOMPARE(roundHalfEven(value), expected);
}

void TestCore::halfEvenRefusesWhatDoesNotFit()
{
    QVERIFY(!roundHalfEven32(3e9).has_value());
    QVERIFY(!roundHalfEven32(std::numeric_limits<double>::infinity()).has_value());
    QVERIFY(!roundHalfEven32(std::nan("")).has_value());
    QVERIFY(!roundHalfEven16(32768.0).has_value());
    QCOMPARE(roundHalfEven16(32767.4).value(), qint16(32767));
    QCOMPARE(roundHalfEven16(-32768.0).value(), qint16(-32768));
}

void TestCore::numberText_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("integer") << 1234.0f << "1234";
    QTest::newRow("tenths") << 45.6f << "45.6";
    QTest::newRow("negative") << -25.0f << "-25";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative zero") << -0.0f << "0";
    QTest::newRow("hundred") << 100.0f << "100";
    QTest::newRow("raw 456 / 10") << 456.0f / 10.0f << "45.6";
    QTest::newRow("seven digits") << 1234567.0f << "1234567";
}

void TestCore::numberText()
{
    QFETCH(float, value);
    QFETCH(QString, expected);
    QCOMPARE(singleText(value), expected);
    QCOMPARE(doubleText(455 / 10.0), QStringLiteral("45.5"));
    QCOMPARE(doubleText(450 / 10.0), QStringLiteral("45"));
}

void TestCore::oleStamps()
{
    QCOMPARE(OleTime::dayNumber(QDate(1899, 12, 30)), 0.0);
    QCOMPARE(OleTime::dayNumber(QDate(1900, 1, 1)), 2.0);
    QCOMPARE(OleTime::dayNumber(QDate(2026, 12, 8)), 46364.0);
    QCOMPARE(OleTime::dayFraction(QTime(12, 0, 0, 999)), 0.5); // whole seconds only
    QCOMPARE(OleTime::timeText(OleTime::dayFraction(QTime(23, 59, 55))), QStringLiteral("23:59:55"));
    QCOMPARE(OleTime::dateText(46364.0), QStringLiteral("2026-12-08"));
    QCOMPARE(OleTime::dateText(0.0), QStringLiteral("1899-12-30"));

    StationClock::setSource([] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); });
    const OleStamp s = StationClock::nowStamp();
    QCOMPARE(OleTime::toDate(s.date), QDate(2026, 1, 2));
    QCOMPARE(OleTime::toTime(s.time), QTime(3, 4, 5));
    StationClock::setSource({});
}

void TestCore::utcStamps()
{
    // A local time becomes UTC, and whole seconds keep their milliseconds
    // (the stamps are compared as text).
    const QDateTime beijing(QDate(2026, 12, 8), QTime(22, 3, 7), QTimeZone(8 * 3600));
    QCOMPARE(utcTimeText(beijing), QStringLiteral("2026-12-08T14:03:07.000Z"));
    const QDateTime newYear(QDate(2027, 1, 1), QTime(0, 0, 0, 5), QTimeZone(-3600));
    QCOMPARE(utcTimeText(newYear), QStringLiteral("2027-01-01T01:00:00.005Z"));
}

void TestCore::localTimeTexts()
{
    // One form for what is shown, typed and exported; a form with other
    // separators or without seconds is no time.
    const QDateTime t(QDate(2026, 12, 8), QTime(14, 3, 59, 123));
    QCOMPARE(TimeText::text(t), QStringLiteral("2026-12-08 14:03:59"));
    QCOMPARE(TimeText::textWithMs(t), QStringLiteral("2026-12-08 14:03:59.123"));
    QCOMPARE(TimeText::text(QDate(1900, 1, 1), QTime(0, 0)), QStringLiteral("1900-01-01 00:00:00"));
    QCOMPARE(TimeText::fromText(QStringLiteral("2026-12-08 14:03:59")),
             QDateTime(QDate(2026, 12, 8), QTime(14, 3, 59)));
    QVERIFY(!TimeText::fromText(QStringLiteral("2026-12-08T14:03:59")).isValid());
    QVERIFY(!TimeText::fromText(QStringLiteral("2026-12-08 14:03")).isValid());
    QCOMPARE(TimeText::dateFormat() + QLatin1Char(' ') + TimeText::timeFormat(), TimeText::format());
}

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
