// The history window on a PostgreSQL server (the CTest fixture starts it):
// it pages like the same rows in a file, and neither opening nor paging
// waits while the server is away or silent.
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"
#include "LiveImage.h"
#include "SampleFlags.h"
#include "PgServer.h"
#include "TrendView.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QDateTime kStart{QDate(2026, 12, 8), QTime(6, 0, 0)};
// Opening and paging must come back at once; generous for a loaded machine.
constexpr qint64 kNoFreezeMs = 1000;

// Long-period samples 1..count, ten seconds apart, into the store at `location`.
bool fill(const QString& location, int count)
{
    HistoryStore store(QStringLiteral("fill"));
    if (!store.open(location))
        return false;
    QList<HistoryRow> rows;
    for (int id = 1; id <= count; ++id) {
        const OleStamp t = OleTime::fromDateTime(kStart.addSecs(10 * qint64(id)));
        rows << HistoryRow{id, t.date, t.time, float(id) / 10.0f, float(id % 100), float(id) / 10.0f + 1.0f, 0.0f};
    }
    return store.writeSamples(HistoryRing::Long, rows);
}

struct Window {
    LiveImage image;
    SampleFlags flags;
    TrendScale scale;
    std::unique_ptr<HistoryWindow> window;
    qint64 openingMs = 0;

    explicit Window(const QString& location)
    {
        QElapsedTimer t;
        t.start();
        window = std::make_unique<HistoryWindow>(image, flags, scale, location);
        openingMs = t.elapsed();
    }
    const TrendModel& model() const { return window->findChild<TrendView*>(QStringLiteral("trendView"))->model(); }
    bool settled() const { return !model().waiting(); }
    qint64 press(int key)
    {
        QElapsedTimer t;
        t.start();
        window->handleKey(key);
        return t.elapsed();
    }
};

bool samePage(const TrendModel& a, const TrendModel& b)
{
    return a.nav().pagesBack == b.nav().pagesBack && a.nav().olderBlocked == b.nav().olderBlocked
           && a.view().pageEndId == b.view().pageEndId && a.view().newestId == b.view().newestId
           && a.buffer().sampleDate == b.buffer().sampleDate && a.buffer().sampleTime == b.buffer().sampleTime
           && a.buffer().channelValue == b.buffer().channelValue && a.buffer().gapMark == b.buffer().gapMark;
}

// A port that accepts connections and never answers: a hung server.
struct SilentPort {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int number = 0;
    SilentPort()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd, 8) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            number = ntohs(a.sin_port);
    }
    ~SilentPort() { ::close(fd); }
};

} // namespace

class TestHistorianWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pagesLikeTheFile();
    void serverAwayKeepsThePage();
    void silentServerNeverFreezes();
};

void TestHistorianWindow::initTestCase()
{
    QVERIFY2(!serverDir().isEmpty() && !port().isEmpty(), "run under CTest: the server fixture sets PX_PG_DIR");
}

void TestHistorianWindow::pagesLikeTheFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("h.db"));
    QVERIFY(fill(file, 3000));
    QVERIFY(fill(url(QStringLiteral("window_pages")), 3000));
    Window local(file);
    Window remote(url(QStringLiteral("window_pages")));
    QVERIFY2(remote.openingMs < kNoFreezeMs, qPrintable(QString::number(remote.openingMs)));
    QTRY_VERIFY(remote.settled());
    QVERIFY(remote.window->databaseOpen());
    QCOMPARE(remote.model().view().newestId, 3000);
    QVERIFY(samePage(remote.model(), local.model()));
    for (const int key : {Qt::Key_F7, Qt::Key_F7, Qt::Key_F6, Qt::Key_F7, Qt::Key_F4, Qt::Key_F4}) {
        local.press(key);
        remote.press(key);
        QTRY_VERIFY(remote.settled());
        QVERIFY2(samePage(remote.model(), local.model()), qPrintable(QString::number(key - Qt::Key_F1 + 1)));
    }
}

void TestHistorianWindow::serverAwayKeepsThePage()
{
    const QString location = url(QStringLiteral("window_away"));
    QVERIFY(fill(location, 2000));
    Window w(location);
    QTRY_VERIFY(w.settled());
    QCOMPARE(w.model().view().newestId, 2000);
    const TrendBuffer shown = w.model().buffer();
    // A reader of its own to watch it reconnect without the window's 5 s pause.
    HistoryReader probe(QStringLiteral("probe"));
    probe.setRetryInterval(0);
    probe.open(location);
    QTRY_VERIFY(probe.isOpen());
    QSignalSpy replies(&probe, &HistoryReader::replied);

    QVERIFY(server("stop"));
    struct Restart {
        ~Restart() { server("start"); }
    } restart;
    const qint64 ms = w.press(Qt::Key_F7);
    QVERIFY2(ms < kNoFreezeMs, qPrintable(QString::number(ms)));
    QCOMPARE(w.model().nav().pagesBack, qint16(1)); // decided at once
    QTRY_VERIFY(w.settled());
    QVERIFY(w.model().buffer().channelValue == shown.channelValue);
    QVERIFY(w.model().buffer().sampleTime == shown.sampleTime);
    QTRY_VERIFY(!w.window->databaseOpen());
    QTRY_VERIFY(w.window->findChild<QLabel*>(QStringLiteral("databaseNote"))->isHidden() == false);

    probe.requestNewestId(HistoryRing::Long);
    QTRY_COMPARE(replies.size(), 1);
    QVERIFY(!replies.at(0).at(0).value<HistoryReply>().ok);
    QVERIFY(server("start"));
    probe.requestNewestId(HistoryRing::Long);
    QTRY_COMPARE(replies.size(), 2);
    const auto back = replies.at(1).at(0).value<HistoryReply>();
    QVERIFY(back.ok);
    QCOMPARE(back.id, 2000);
}

void TestHistorianWindow::silentServerNeverFreezes()
{
    SilentPort silent;
    QVERIFY(silent.number > 0);
    Window w(
        QStringLiteral("postgresql://px5800@127.0.0.1:%1/plant?station=silent&connect_timeout=2").arg(silent.number));
    QVERIFY2(w.openingMs < kNoFreezeMs, qPrintable(QString::number(w.openingMs)));
    QVERIFY(!w.window->databaseOpen());
    for (const int key : {Qt::Key_F7, Qt::Key_F6, Qt::Key_F4, Qt::Key_F4}) {
        const qint64 ms = w.press(key);
        QVERIFY2(ms < kNoFreezeMs, qPrintable(QString::number(ms)));
    }
    // The page stays empty (never loaded) and the note comes once the
    // connection attempt has given up.
    QCOMPARE(w.model().buffer().channelValue[TrendBuffer::PV][241], 0.0f);
    QTRY_VERIFY_WITH_TIMEOUT(w.window->findChild<QLabel*>(QStringLiteral("databaseNote"))->isHidden() == false, 15000);
    QElapsedTimer t;
    t.start();
    w.window.reset();
    QVERIFY2(t.elapsed() < kNoFreezeMs, qPrintable(QString::number(t.elapsed())));
}

QTEST_MAIN(TestHistorianWindow)
#include "tst_historianwindow.moc"
