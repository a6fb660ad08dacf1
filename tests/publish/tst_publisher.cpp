#include "BrokerRig.h"
#include "LibModbus485.h"
#include "LinkClient.h"
#include "MqttPublisher.h"
#include "PollingCycle.h"
#include "SimServer.h"
#include "TopicLayout.h"

#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The publisher against a real mosquitto broker, read back by a subscriber.
class TestPublisher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void statusLiveAndSettingsReachSubscribers();
    void liveFollowsTheSimulatedInstrument();
    void queuedEventsArriveOnceInOrderAfterBrokerRestart();
    void willSaysOfflineWhenStationIsKilled();
    void refusedLogin_data();
    void refusedLogin();

private:
    std::unique_ptr<MqttPublisher> makePublisher(const QString& url, const QString& password = QString());
    static QJsonObject json(const ReceivedMessage& m) { return QJsonDocument::fromJson(m.payload).object(); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TestBroker> broker_;
    LiveImage image_;
    std::unique_ptr<LinkHealth> health_;
    const QString station_ = QStringLiteral("oven_7");
};

void TestPublisher::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    broker_ = std::make_unique<TestBroker>(dir_->path());
    image_ = LiveImage{};
    health_ = std::make_unique<LinkHealth>();
}

void TestPublisher::cleanup()
{
    broker_.reset();
    health_.reset();
}

std::unique_ptr<MqttPublisher> TestPublisher::makePublisher(const QString& url, const QString& password)
{
    BrokerSettings settings;
    QString error;
    if (!parseBrokerUrl(url, &settings, &error))
        qFatal("%s", qPrintable(error));
    settings.password = password;
    return std::make_unique<MqttPublisher>(settings, station_, image_, *health_);
}

void TestPublisher::statusLiveAndSettingsReachSubscribers()
{
    QString error;
    QVERIFY2(broker_->start(&error), qPrintable(error));
    image_.Values[0] = 245;
    image_.Values[1] = 45.6f;
    image_.Values[2] = 250;
    image_.Values[256] = 300;
    image_.HoldingRegs[13] = 2;
    image_.InputBits[0] = 1;
    image_.CoilBits[1] = 1;
    health_->onPortOpened();

    auto publisher = makePublisher(broker_->url());
    QCOMPARE(publisher->stateText(), QStringLiteral("MQTT 未连接"));
    publisher->start();
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), 5000);
    QCOMPARE(publisher->stateText(), QStringLiteral("MQTT 已连接"));

    // A subscriber arriving later still learns the station is online.
    TestSubscriber sub(broker_->port(), QStringLiteral("px5800/oven_7/#"));
    QVERIFY(sub.start());
    QTRY_VERIFY(sub.subscribed());
    QTRY_COMPARE(sub.messagesOn(TopicLayout::statusTopic(station_)).size(), 1);
    const ReceivedMessage status = sub.messagesOn(TopicLayout::statusTopic(station_)).first();
    QCOMPARE(status.payload, QByteArray("online"));
    QVERIFY(status.retained);

    // No cycle has answered yet: nothing to publish (the first live message
    // below must be the answered one).
    publisher->onCycleCompleted(false);
    health_->onCycle(true);
    publisher->onCycleCompleted(true);
    publisher->onCycleCompleted(true); // settings unchanged: not sent again
    QTRY_COMPARE(sub.messagesOn(TopicLayout::liveTopic(station_)).size(), 2);
    const QJsonObject live = json(sub.messagesOn(TopicLayout::liveTopic(station_)).first());
    QCOMPARE(live.value("pv").toDouble(), 245.0);
    QCOMPARE(live.value("op").toDouble(), 45.6);
    QCOMPARE(live.value("sv").toDouble(), 250.0);
    QCOMPARE(live.value("alarm1").toBool(), true);
    QCOMPARE(live.value("manual").toBool(), false);
    QCOMPARE(live.value("link").toString(), QStringLiteral("ok"));
    QVERIFY(live.value("age_s").toDouble() < 5);
    QCOMPARE(sub.messagesOn(TopicLayout::settingsTopic(station_)).size(), 1);
    QCOMPARE(json(sub.messagesOn(TopicLayout::settingsTopic(station_)).first())
                 .value("alarm1")
                 .toObject()
                 .value("type_name")
                 .toString(),
             QStringLiteral("low"));

    // A change is sent; a cycle with a failed read never sends settings.
    image_.Values[256] = 310;
    publisher->onCycleCompleted(false);
    publisher->onCycleCompleted(true);
    QTRY_COMPARE(sub.messagesOn(TopicLayout::liveTopic(station_)).size(), 4);
    QTRY_COMPARE(sub.messagesOn(TopicLayout::settingsTopic(station_)).size(), 2);
    QCOMPARE(json(sub.messagesOn(TopicLayout::settingsTopic(station_)).last())
                 .value("alarm1")
                 .toObject()
                 .value("value")
                 .toDouble(),
             310.0);

    // A clean exit leaves "offline" retained, said once: the broker got a
    // goodbye and keeps the will to itself. Events still in flight: their
    // acknowledgements arrive while the station says goodbye.
    for (int i = 0; i < 20; ++i)
        publisher->publishEvent(QJsonObject{{QStringLiteral("n"), i}});
    publisher->shutdown();
    const auto offline = [&sub, this] { return sub.messagesOn(TopicLayout::statusTopic(station_)).size() - 1; };
    QTRY_COMPARE(offline(), 1);
    QTest::qWait(300);
    QCOMPARE(offline(), 1);
    TestSubscriber late(broker_->port(), TopicLayout::statusTopic(station_));
    QVERIFY(late.start());
    QTRY_COMPARE(late.messages().size(), 1);
    QCOMPARE(late.messages().first().payload, QByteArray("offline"));
}

void TestPublisher::liveFollowsTheSimulatedInstrument()
{
    QString error;
    QVERIFY2(broker_->start(&error), qPrintable(error));
    SimOptions simOptions;
    simOptions.link = dir_->filePath(QStringLiteral("line"));
    SimServer sim(simOptions);
    QVERIFY2(sim.start(&error), qPrintable(error));
    QCOMPARE(sim.command("pin 321"), QStringLiteral("ok"));
    QCOMPARE(sim.command("fault open"), QStringLiteral("ok"));

    PortMap ports;
    ports.map(1, simOptions.link);
    LinkClient link(std::make_unique<LibModbus485>(ports), LinkClient::Mode::Threaded);
    PollingCycle polling(link, image_);
    connect(&link, &LinkClient::portStateChanged, health_.get(), &LinkHealth::onPortState);
    connect(&polling, &PollingCycle::cycleCompleted, health_.get(), &LinkHealth::onCycle);
    auto publisher = makePublisher(broker_->url());
    connect(&polling, &PollingCycle::cycleCompleted, publisher.get(), &MqttPublisher::onCycleCompleted);
    publisher->start();
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), 5000);
    TestSubscriber sub(broker_->port(), TopicLayout::liveTopic(station_));
    QVERIFY(sub.start());
    QTRY_VERIFY(sub.subscribed());

    link.open(PortSettings{1, 1, 0, 1});
    health_->onPortOpened();
    polling.start();
    const auto lastOk = [&] {
        const auto all = sub.messages();
        for (auto it = all.crbegin(); it != all.crend(); ++it)
            if (json(*it).value("link").toString() == u"ok")
                return json(*it);
        return QJsonObject();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!lastOk().isEmpty(), 10000);
    polling.stop();
    const QJsonObject live = lastOk();
    QCOMPARE(live.value("pv").toDouble(), sim.command("get ir 1").toDouble());
    QCOMPARE(live.value("sv").toDouble(), sim.command("get ir 3").toDouble());
    QCOMPARE(live.value("sensor_open").toBool(), true);
    QCOMPARE(live.value("sensor_short").toBool(), false);
    publisher->shutdown();
    link.shutdown();
}

void TestPublisher::queuedEventsArriveOnceInOrderAfterBrokerRestart()
{
    QString error;
    QVERIFY2(broker_->start(&error), qPrintable(error));
    auto publisher = makePublisher(broker_->url());
    publisher->start();
    // A durable subscriber: the broker keeps its session over the restart.
    TestSubscriber sub(broker_->port(), TopicLayout::eventsTopic(station_), QStringLiteral("tst-events"));
    QVERIFY(sub.start());
    QTRY_VERIFY(sub.subscribed());
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), 5000);

    const auto event = [](int n) { return QJsonObject{{"kind", "alarm"}, {"n", n}}; };
    for (int n = 1; n <= 3; ++n)
        publisher->publishEvent(event(n));
    QTRY_COMPARE(sub.messages().size(), 3);
    // Let the subscriber's own acknowledgements reach the broker, or the
    // restarted broker rightly delivers its last message again.
    QTest::qWait(300);

    broker_->terminate();
    QTRY_COMPARE_WITH_TIMEOUT(publisher->state(), MqttState::Disconnected, 5000);
    QCOMPARE(publisher->stateText(), QStringLiteral("MQTT 未连接"));
    for (int n = 4; n <= 203; ++n) // more than the in-flight window
        publisher->publishEvent(event(n));
    publisher->onCycleCompleted(true); // live values are not kept for later
    QTest::qWait(200);

    QVERIFY2(broker_->start(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(publisher->isConnected(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(sub.messages().size(), 203, 10000);
    QTest::qWait(300); // nothing arrives twice
    const QList<ReceivedMessage> got = sub.messages();
    QStringList seen;
    for (const auto& m : got)
        seen << QString::number(json(m).value("n").toInt());
    QVERIFY2(got.size() == 203, qPrintable(seen.join(' ')));
    for (int i = 0; i < got.size(); ++i)
        QCOMPARE(json(got[i]).value("n").toInt(), i + 1);
}

void TestPublisher::willSaysOfflineWhenStationIsKilled()
{
    QString error;
    QVERIFY2(broker_->start(&error), qPrintable(error));
    QProcess station;
    station.start(qEnvironmentVariable("PX_PUBLISH_HELPER"), {broker_->url(), station_});
    QVERIFY(station.waitForStarted(5000));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += station.readAllStandardOutput()).contains("connected"), 5000);

    TestSubscriber sub(broker_->port(), TopicLayout::statusTopic(station_));
    QVERIFY(sub.start());
    QTRY_COMPARE(sub.messages().size(), 1);
    QCOMPARE(sub.messages().first().payload, QByteArray("online"));
    station.kill(); // SIGKILL: no goodbye from the station
    QVERIFY(station.waitForFinished(5000));
    QTRY_COMPARE_WITH_TIMEOUT(sub.messages().size(), 2, 5000);
    QCOMPARE(sub.messages().last().payload, QByteArray("offline"));
}

void TestPublisher::refusedLogin_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right password") << "station"
                                    << "right" << true;
    QTest::newRow("wrong password") << "station"
                                    << "wrong" << false;
    QTest::newRow("unknown user") << "intruder"
                                  << "right" << false;
    QTest::newRow("anonymous") << ""
                               << "" << false;
}

void TestPublisher::refusedLogin()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    broker_->requireLogin(QStringLiteral("station"), QStringLiteral("right"));
    QString error;
    QVERIFY2(broker_->start(&error), qPrintable(error));
    auto publisher = makePublisher(broker_->url(user), password);
    QSignalSpy states(publisher.get(), &MqttPublisher::stateChanged);
    publisher->start();
    const MqttState expected = accepted ? MqttState::Connected : MqttState::Refused;
    QTRY_COMPARE_WITH_TIMEOUT(publisher->state(), expected, 5000);
    if (!accepted) {
        QCOMPARE(publisher->stateText(), QStringLiteral("MQTT 未连接：用户名或密码被拒绝"));
        QCOMPARE(states.last().at(1).toString(), publisher->stateText());
        // Still refused after a retry, never shown as connected.
        QTest::qWait(1500);
        QCOMPARE(publisher->state(), MqttState::Refused);
        for (const auto& s : states)
            QVERIFY(s.at(0).value<MqttState>() != MqttState::Connected);
    }
}

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
