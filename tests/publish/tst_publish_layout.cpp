#include "BrokerUrl.h"
#include "EventQueue.h"
#include "TopicLayout.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>

// The pure parts of publishing: broker URL, station name, topic JSON and the
// event queue's delivery rules.
class TestPublishLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void brokerUrl_data();
    void brokerUrl();
    void stationName_data();
    void stationName();
    void passwordFile();
    void liveNumbersAsShownAndBitMeanings();
    void liveNumbersIgnoreTheLocale();
    void linkStates_data();
    void linkStates();
    void settingsAndAlarmTypes();
    void eventsKeepOrderAcrossDrops();
    void eventQueueIsBounded();
};

void TestPublishLayout::brokerUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("user");
    QTest::newRow("plain") << "mqtt://broker.local" << true << "broker.local" << 1883 << false << "";
    QTest::newRow("user and port") << "mqtt://plant@10.0.0.5:1884" << true << "10.0.0.5" << 1884 << false << "plant";
    QTest::newRow("tls default port") << "mqtts://broker" << true << "broker" << 8883 << true << "";
    QTest::newRow("ipv6") << "mqtt://[::1]:2000" << true << "::1" << 2000 << false << "";
    QTest::newRow("trailing slash") << "MQTT://h/" << true << "h" << 1883 << false << "";
    QTest::newRow("password in url") << "mqtt://u:secret@h" << false << "" << 0 << false << "";
    QTest::newRow("empty password in url") << "mqtt://u:@h" << false << "" << 0 << false << "";
    QTest::newRow("other scheme") << "http://h" << false << "" << 0 << false << "";
    QTest::newRow("no host") << "mqtt://" << false << "" << 0 << false << "";
    QTest::newRow("port too large") << "mqtt://h:70000" << false << "" << 0 << false << "";
    QTest::newRow("path") << "mqtt://h/topic" << false << "" << 0 << false << "";
    QTest::newRow("query") << "mqtt://h?x=1" << false << "" << 0 << false << "";
    QTest::newRow("no scheme") << "broker:1883" << false << "" << 0 << false << "";
}

void TestPublishLayout::brokerUrl()
{
    QFETCH(QString, url);
    QFETCH(bool, ok);
    BrokerSettings s;
    QString error;
    QCOMPARE(parseBrokerUrl(url, &s, &error), ok);
    if (!ok) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QTEST(s.host, "host");
    QTEST(s.port, "port");
    QTEST(s.tls, "tls");
    QTEST(s.user, "user");
}

void TestPublishLayout::stationName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::newRow("default") << defaultStationName(16) << true;
    QTest::newRow("dots and dashes") << "line-2.oven_A" << true;
    QTest::newRow("64 chars") << QString(64, u'a') << true;
    QTest::newRow("65 chars") << QString(65, u'a') << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("extra level") << "a/b" << false;
    QTest::newRow("wildcard +") << "a+" << false;
    QTest::newRow("wildcard #") << "#" << false;
    QTest::newRow("blank") << "a b" << false;
    QTest::newRow("non-ascii") << QStringLiteral("炉1") << false;
}

void TestPublishLayout::stationName()
{
    QFETCH(QString, name);
    QTEST(isValidStationName(name), "ok");
}

void TestPublishLayout::passwordFile()
{
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("crlf", "s3cr et\r\nsecond line\n");
    write("empty", "\n");
    QString password, error;
    QVERIFY(readPasswordFile(dir.filePath("crlf"), &password, &error));
    QCOMPARE(password, QStringLiteral("s3cr et")); // inner blanks are part of it
    QVERIFY(!readPasswordFile(dir.filePath("empty"), &password, &error));
    QVERIFY(!readPasswordFile(dir.filePath("missing"), &password, &error));
    QVERIFY(error.contains("missing"));
}

void TestPublishLayout::liveNumbersAsShownAndBitMeanings()
{
    LiveImage image;
    image.Values[0] = 245;
    image.Values[1] = 456 / 10.0f; // OP as the polling cycle stores it
    image.Values[2] = 250;
    image.Values[3] = -12;
    image.InputBits = {1, 0, 2, 1}; // a sensor bit of 2 is not a fault
    image.CoilBits = {1, 0, 1};     // tuning on, coil 2 clear = manual
    const QDateTime at = QDateTime::fromString("2026-12-08T15:04:05.120+08:00", Qt::ISODateWithMs);
    const QByteArray bytes =
        TopicLayout::compact(TopicLayout::liveObject(image, LinkHealth::State::Answering, 1234, at));
    QVERIFY2(bytes.contains("\"op\":45.6,"), bytes); // not 45.59999847...
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-08T07:04:05.120Z"));
    QCOMPARE(o.value("pv").toDouble(), 245.0);
    QCOMPARE(o.value("sv").toDouble(), 250.0);
    QCOMPARE(o.value("aux").toDouble(), -12.0);
    QCOMPARE(o.value("alarm1").toBool(), true);
    QCOMPARE(o.value("alarm2").toBool(), false);
    QCOMPARE(o.value("sensor_open").toBool(), false);
    QCOMPARE(o.value("sensor_short").toBool(), true);
    QCOMPARE(o.value("manual").toBool(), true);
    QCOMPARE(o.value("tuning").toBool(), true);
    QCOMPARE(o.value("age_s").toDouble(), 1.234);

    image.CoilBits = {0, 1, 0};
    const QJsonObject auto_ = TopicLayout::liveObject(image, LinkHealth::State::Closed, -1, at);
    QCOMPARE(auto_.value("manual").toBool(), false);
    QCOMPARE(auto_.value("tuning").toBool(), false);
    QVERIFY(auto_.value("age_s").isNull()); // never a good cycle: no made-up age
    // Nor made-up values: the image holds nothing the instrument said.
    for (const char* key : {"pv", "sv", "op", "aux", "alarm1", "sensor_open", "manual", "tuning"})
        QVERIFY2(auto_.value(QLatin1String(key)).isNull(), key);
    QCOMPARE(auto_.value("link").toString(), QStringLiteral("closed"));
}

// Under a decimal-comma locale the C library writes 43.5 as "43,5", which
// then read back as no number and was published as 0.
void TestPublishLayout::liveNumbersIgnoreTheLocale()
{
    LiveImage image;
    image.Values[1] = 435 / 10.0f;
    const QByteArray before = setlocale(LC_ALL, nullptr);
    QVERIFY2(setlocale(LC_ALL, "de_DE.UTF-8"), "decimal-comma locale missing (LOCPATH)");
    const QByteArray bytes = TopicLayout::compact(
        TopicLayout::liveObject(image, LinkHealth::State::Answering, 0, QDateTime::currentDateTimeUtc()));
    setlocale(LC_ALL, before.constData());
    QVERIFY2(bytes.contains("\"op\":43.5,"), bytes);
}

void TestPublishLayout::linkStates_data()
{
    QTest::addColumn<LinkHealth::State>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("answering") << LinkHealth::State::Answering << "ok";
    QTest::newRow("no answer") << LinkHealth::State::NoAnswer << "lost";
    QTest::newRow("waiting for first cycle") << LinkHealth::State::Waiting << "lost";
    QTest::newRow("closed") << LinkHealth::State::Closed << "closed";
    QTest::newRow("cannot open") << LinkHealth::State::CannotOpen << "cannot_open";
}

void TestPublishLayout::linkStates()
{
    QFETCH(LinkHealth::State, state);
    QTEST(TopicLayout::liveObject(LiveImage{}, state, 0, QDateTime::currentDateTimeUtc()).value("link").toString(),
          "text");
}

void TestPublishLayout::settingsAndAlarmTypes()
{
    LiveImage image;
    for (int i = 0; i < 8; ++i)
        image.Values[std::size_t(256 + i)] = float(10 * (i + 1));
    image.Values[263] = 455; // break output in tenths of a percent
    image.HoldingRegs[13] = 1;
    image.HoldingRegs[14] = 9; // a code the instrument does not define
    const QJsonObject o = TopicLayout::settingsObject(image);
    const QJsonObject a1 = o.value("alarm1").toObject();
    QCOMPARE(a1.value("type_name").toString(), QStringLiteral("high"));
    QCOMPARE(a1.value("value").toDouble(), 10.0);
    QCOMPARE(a1.value("hysteresis").toDouble(), 20.0);
    QCOMPARE(a1.value("delay").toDouble(), 30.0);
    const QJsonObject a2 = o.value("alarm2").toObject();
    QCOMPARE(a2.value("type").toInt(), 9);
    QCOMPARE(a2.value("type_name").toString(), QStringLiteral("unknown"));
    QCOMPARE(a2.value("value").toDouble(), 40.0);
    QCOMPARE(o.value("break").toObject().value("value").toDouble(), 70.0);
    QCOMPARE(o.value("break").toObject().value("output").toDouble(), 45.5);
    QCOMPARE(TopicLayout::alarmTypeName(5), QStringLiteral("deviation_band"));
    QCOMPARE(TopicLayout::alarmTypeName(-1), QStringLiteral("unknown"));
}

void TestPublishLayout::eventsKeepOrderAcrossDrops()
{
    EventQueue q(100, 3);
    for (int i = 1; i <= 5; ++i)
        q.push(QByteArray::number(i));
    // Window of three in flight.
    QList<quint64> seqs;
    while (const auto e = q.takeNext())
        seqs.append(e->seq);
    QCOMPARE(seqs.size(), 3);
    // The broker confirms the second before the first: nothing leaves until
    // the first is confirmed too, and the window stays full.
    q.acknowledge(seqs[1]);
    QCOMPARE(q.size(), 5);
    QVERIFY(!q.takeNext());
    // Connection drops: 1 and 3 go out again, 2 (confirmed) never twice.
    q.connectionLost();
    QCOMPARE(q.size(), 4);
    QByteArray order;
    while (const auto e = q.takeNext()) {
        order += e->payload;
        q.acknowledge(e->seq);
    }
    QCOMPARE(order, QByteArray("1345"));
    QCOMPARE(q.size(), 0);
    q.acknowledge(999); // unknown: harmless
    QCOMPARE(q.dropped(), quint64(0));
}

void TestPublishLayout::eventQueueIsBounded()
{
    EventQueue q(4, 2);
    for (int i = 1; i <= 4; ++i)
        q.push(QByteArray::number(i));
    QVERIFY(q.takeNext()); // 1 in flight
    // Full: the oldest event not yet handed out (2) makes room, the one in
    // flight is kept.
    q.push("5");
    QCOMPARE(q.size(), 4);
    QCOMPARE(q.dropped(), quint64(1));
    q.connectionLost();
    QByteArray order;
    while (const auto e = q.takeNext()) {
        order += e->payload;
        q.acknowledge(e->seq);
    }
    QCOMPARE(order, QByteArray("1345"));
}

QTEST_GUILESS_MAIN(TestPublishLayout)
#include "tst_publish_layout.moc"
