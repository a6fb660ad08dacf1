// The loop overview under a full line: 16 loops polled at 2 Hz, each with
// its own one-second ring growing on a writer thread (as the recorders do),
// the overview shown (offscreen unless QT_QPA_PLATFORM says otherwise).
// Prints the GUI thread's busy time per second and the paint of one faceplate.
//
//   bench_overview [seconds]        measure (default 10 s)
//   bench_overview --show N [s]     N loops on screen for s seconds (look at it; nothing measured)
#include "BenchStats.h"
#include "HistoryStore.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "LoopFace.h"
#include "LoopOverview.h"
#include "StationClock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
// Everything the GUI thread handles, timed at the outermost notify().
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (depth_++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --depth_;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const bool r = QApplication::notify(receiver, event);
        busyNs += t.nsecsElapsed();
        --depth_;
        return r;
    }
    qint64 busyNs = 0;

private:
    int depth_ = 0;
};

constexpr int kHistoryS = 700;

// The recorders' side: one sample a second per loop, on a thread of its own.
class RingWriter final : public QObject {
public:
    explicit RingWriter(QStringList paths) : paths_(std::move(paths)) {}
    void start()
    {
        for (int i = 0; i < paths_.size(); ++i) {
            auto store = std::make_unique<HistoryStore>(QStringLiteral("bench-ring-%1").arg(i));
            store->open(paths_.at(i));
            stores_.push_back(std::move(store));
        }
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            ++id_;
            const OleStamp now = StationClock::nowStamp();
            for (std::size_t i = 0; i < stores_.size(); ++i)
                stores_[i]->writeSample(HistoryRing::Short, id_, now,
                                        {float(300 + 20 * std::sin(id_ / 40.0 + double(i))), 40, 300, 0});
        });
        timer->start(1000);
    }
    qint32 id_ = kHistoryS;

private:
    QStringList paths_;
    std::vector<std::unique_ptr<HistoryStore>> stores_;
};

const char* kNames[] = {"1区上部", "1区下部", "2区上部", "2区下部", "3区上部", "3区下部", "4区上部", "4区下部",
                        "5区上部", "5区下部", "6区上部", "6区下部", "淬火炉",  "回火炉",  "预热段",  "保温段"};
} // namespace

int main(int argc, char** argv)
{
    const bool show = argc > 1 && qstrcmp(argv[1], "--show") == 0;
    if (!show && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(10);
    QApplication::setFont(font);
    const int loopCount = show && argc > 2 ? std::clamp(atoi(argv[2]), 1, 16) : 16;
    const int seconds = show ? (argc > 3 ? atoi(argv[3]) : 30) : (argc > 1 ? atoi(argv[1]) : 10);

    // Histories with ten minutes and more already in them.
    QTemporaryDir dir;
    QStringList paths;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < loopCount; ++i) {
        paths << dir.filePath(QStringLiteral("loop%1.db").arg(i + 1));
        HistoryStore store(QStringLiteral("bench-fill"));
        store.open(paths.last());
        QList<HistoryRow> rows;
        for (int k = 0; k < kHistoryS; ++k)
            rows << HistoryRow::sample(k + 1, OleTime::fromDateTime(now.addSecs(k - kHistoryS)),
                                       {float(300 + 20 * std::sin((k + 1) / 40.0 + i)), 40, 300, 0});
        store.writeSamples(HistoryRing::Short, rows);
    }
    QThread writerThread;
    auto* writer = new RingWriter(paths);
    writer->moveToThread(&writerThread);
    QObject::connect(&writerThread, &QThread::finished, writer, &QObject::deleteLater);
    writerThread.start();
    QMetaObject::invokeMethod(writer, [writer] { writer->start(); });

    std::vector<std::unique_ptr<LiveImage>> images;
    std::vector<std::unique_ptr<LinkHealth>> healths;
    QVector<OverviewLoop> loops;
    for (int i = 0; i < loopCount; ++i) {
        images.push_back(std::make_unique<LiveImage>());
        healths.push_back(std::make_unique<LinkHealth>());
        healths.back()->onPortOpened();
        images.back()->CoilBits[1] = 1;
        loops.append({i + 1, QString::fromUtf8(kNames[i]), images.back().get(), healths.back().get(), paths.at(i)});
    }
    // The look: a few loops in the states the operator must tell apart.
    if (loopCount >= 8) {
        images[2]->InputBits[0] = 1; // alarm 1
        images[4]->CoilBits[1] = 0;  // manual
        images[5]->CoilBits[0] = 1;  // self-tune
        images[7]->InputBits[2] = 1; // sensor open
    }
    const int silent = loopCount >= 8 ? 6 : -1; // this loop stops answering
    if (silent >= 0)
        healths[std::size_t(silent)]->setNoAnswerMs(500);

    // The polling: every loop's image changes twice a second.
    qint64 pollNs = 0;
    int tick = 0;
    QTimer polling;
    QObject::connect(&polling, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        ++tick;
        for (int i = 0; i < loopCount; ++i) {
            if (i == silent && tick > 4)
                continue;
            LiveImage& image = *images[std::size_t(i)];
            image.Values[0] = float(std::round(300 + 20 * std::sin(tick / 80.0 + i)));
            image.Values[1] = float(std::round(400 + 300 * std::sin(tick / 30.0 + i))) / 10;
            image.Values[2] = 300;
            healths[std::size_t(i)]->onCycle(true);
        }
        pollNs += t.nsecsElapsed();
    });
    polling.start(500);

    LoopOverview overview(loops, nullptr);
    overview.resize(1280, 800);
    if (show)
        overview.showMaximized();
    else
        overview.show();
    if (show) {
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
        const int rc = app.exec();
        writerThread.quit();
        writerThread.wait();
        return rc;
    }

    // Settle (the first full reads of the rings), then measure second by second.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 4000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 20);
    std::vector<double> busy;
    for (int s = 0; s < seconds; ++s) {
        app.busyNs = 0;
        pollNs = 0;
        QElapsedTimer second;
        second.start();
        while (second.elapsed() < 1000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 20);
        busy.push_back(double(app.busyNs - pollNs) / 1e6);
    }
    std::printf("per second:");
    for (const double ms : busy)
        std::printf(" %.1f", ms);
    std::printf(" ms\n");
    std::printf("16 loops at 2 Hz, overview %dx%d, %d faceplates %dx%d, %d s measured\n", overview.width(),
                overview.height(), loopCount, overview.face(1)->width(), overview.face(1)->height(), seconds);
    std::printf("%-52s n=%5d  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms  (goal <= 20 ms)\n",
                "GUI-thread time per second (without the polling)", int(busy.size()), bench::percentile(busy, 0.5),
                bench::percentile(busy, 0.99), bench::percentile(busy, 1.0));

    // One faceplate's paint, into an image of its size (the backing store's work).
    for (int address : {1, 3, 7}) {
        LoopFace* face = overview.face(address);
        QImage image(face->size(), QImage::Format_ARGB32_Premultiplied);
        const bench::Stats paint = bench::measure(500, [&](int) {
            QPainter p(&image);
            face->render(&p);
        });
        const char* what = address == 1   ? "paint of one faceplate (normal, sparkline)"
                           : address == 3 ? "paint of one faceplate (alarm)"
                                          : "paint of one faceplate (offline)";
        bench::print(what, 500, paint);
    }
    writerThread.quit();
    writerThread.wait();
    return 0;
}
