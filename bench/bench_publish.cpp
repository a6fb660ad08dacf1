// Publishing figures: from a poll cycle's completion (the publisher's slot
// called on the GUI thread) to a subscriber on localhost receiving the live
// message, through a real mosquitto broker; and the station's CPU time per
// message, split into the GUI thread's share and the whole station's.
#include "BenchStats.h"
#include "BrokerRig.h"
#include "MqttPublisher.h"
#include "TopicLayout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
double cpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    TestBroker broker(dir.path());
    QString error;
    if (!broker.start(&error)) {
        std::fprintf(stderr, "bench_publish: %s\n", qPrintable(error));
        return 1;
    }
    LiveImage image;
    image.Values[0] = 245;
    image.Values[1] = 45.6f;
    image.Values[2] = 250;
    LinkHealth health;
    health.onPortOpened();
    health.onCycle(true);
    BrokerSettings settings;
    parseBrokerUrl(broker.url(), &settings, &error);
    MqttPublisher publisher(settings, QStringLiteral("bench"), image, health);
    publisher.start();
    QElapsedTimer wait;
    wait.start();
    while (!publisher.isConnected() && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!publisher.isConnected()) {
        std::fprintf(stderr, "bench_publish: no connection to the broker\n");
        return 1;
    }

    TestSubscriber sub(broker.port(), TopicLayout::liveTopic(QStringLiteral("bench")));
    QSemaphore arrived;
    std::atomic<qint64> receivedNs{0};
    std::vector<double> subscriberCpu; // the subscriber's thread CPU at each message
    subscriberCpu.reserve(std::size_t(runs) + 1);
    sub.onMessage = [&](const ReceivedMessage& m) {
        subscriberCpu.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID));
        receivedNs = m.receivedNs;
        arrived.release();
    };
    sub.start();
    while (!sub.subscribed())
        QThread::msleep(5);

    std::vector<double> latency;
    latency.reserve(std::size_t(runs));
    double guiCpu = 0;
    const double processStart = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    int lost = 0;
    for (int i = 0; i < runs; ++i) {
        image.Values[0] = float(200 + i % 100);
        const double guiBefore = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        const qint64 t0 = steadyNs();
        publisher.onCycleCompleted(true);
        guiCpu += cpuMs(CLOCK_THREAD_CPUTIME_ID) - guiBefore;
        if (!arrived.tryAcquire(1, 1000)) {
            ++lost;
            continue;
        }
        latency.push_back(double(receivedNs - t0) / 1e6);
        QThread::usleep(2000); // a paced stream rather than a burst
    }
    const double processCpu = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processStart;
    const double subCpu = subscriberCpu.size() > 1
                              ? (subscriberCpu.back() - subscriberCpu.front()) * double(subscriberCpu.size())
                                    / double(subscriberCpu.size() - 1)
                              : 0;
    const bench::Stats s{bench::percentile(latency, 0.5), bench::percentile(latency, 0.99),
                         bench::percentile(latency, 1.0)};
    bench::print("poll cycle done -> subscriber has live message", int(latency.size()), s);
    std::printf("%-52s %s (goal p99 <= 20 ms)\n", "", s.p99 <= 20 ? "within goal" : "OVER GOAL");
    std::printf("%-52s %7.1f us per message\n", "station CPU, GUI thread (JSON, hand-over)", 1000 * guiCpu / runs);
    std::printf("%-52s %7.1f us per message\n", "station CPU, GUI + network thread",
                1000 * (processCpu - subCpu) / runs);
    if (lost)
        std::printf("lost messages: %d\n", lost);
    publisher.shutdown();
    return 0;
}
