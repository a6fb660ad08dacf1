// Link figures: poll-cycle wall time against the simulated instrument with
// wire timing at 9600 8N1, as a ratio to the time the bytes alone need on
// the wire; and how late a 5 ms GUI timer fires while the port is open and
// the instrument is silent (the GUI thread must never wait for the line);
// and the cycle time over a serial pseudo-terminal, a transparent device
// server (socat) and a Modbus TCP gateway (pymodbus) on loopback, side by side.
#include "BenchStats.h"
#include "Gateways.h"
#include "LibModbus485.h"
#include "LineBus485.h"
#include "LinkClient.h"
#include "PollingCycle.h"
#include "SimServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using bench::percentile;

void pollCycleRatio(QTemporaryDir& dir)
{
    SimOptions o;
    o.link = dir.filePath("wire");
    o.wireTiming = true;
    o.baud = 9600;
    SimServer sim(o);
    QString error;
    if (!sim.start(&error)) {
        std::printf("poll cycle: simulator did not start: %s\n", qPrintable(error));
        return;
    }
    PortMap ports;
    ports.map(1, o.link);
    LinkClient link(std::make_unique<LibModbus485>(ports), LinkClient::Mode::Threaded);
    link.open(PortSettings{1, 1, 0, 1});
    QObject requester;
    std::vector<double> cycles;
    QElapsedTimer t;
    int failed = 0;
    for (int i = 0; i < 40; ++i) {
        bool done = false;
        bool ok = true;
        t.start();
        link.readBatch(&requester, PollingCycle::cycleRequests(), [&](const QVector<ReadResult>& r) {
            for (const auto& x : r)
                ok = ok && x.ok();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (ok)
            cycles.push_back(t.nsecsElapsed() / 1e6);
        else
            ++failed;
    }
    link.shutdown();
    const double bound = bench::pollCycleWireMs(9600, o.turnaroundMs);
    std::printf("poll cycle at 9600 8N1 with wire timing (%zu cycles, %d failed)\n", cycles.size(), failed);
    std::printf("  wire-time bound            %7.1f ms (117 bytes, 10 x 3.5-char silences, 5 x %d ms turnaround)\n",
                bound, o.turnaroundMs);
    std::printf("  cycle p50 / p99 / max      %7.1f / %.1f / %.1f ms\n", percentile(cycles, 0.5),
                percentile(cycles, 0.99), percentile(cycles, 1.0));
    std::printf("  ratio p50 / p99            %7.3f / %.3f   (goal <= 1.10)\n", percentile(cycles, 0.5) / bound,
                percentile(cycles, 0.99) / bound);
    // A pseudo-terminal delivers the request at once, so the simulator can
    // only hold back the replies: 77 reply bytes, 5 x 7 characters of
    // silence and 5 turnarounds. The ratio to that is the station's own cost.
    const double charMs = 10.0 * 1000.0 / 9600;
    const double enforced = (77 + 35) * charMs + 5 * o.turnaroundMs;
    std::printf("  delay the simulator imposes %6.1f ms; ratio p50 / p99 %.3f / %.3f\n", enforced,
                percentile(cycles, 0.5) / enforced, percentile(cycles, 0.99) / enforced);
}

void guiLatencyWithSilentInstrument(QTemporaryDir& dir)
{
    SimOptions o;
    o.link = dir.filePath("silent");
    SimServer sim(o);
    sim.start();
    sim.command("silent 60");
    PortMap ports;
    ports.map(1, o.link);
    LinkClient link(std::make_unique<LibModbus485>(ports), LinkClient::Mode::Threaded);
    LiveImage image;
    PollingCycle polling(link, image);
    link.open(PortSettings{1, 1, 0, 1});
    polling.start();

    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 expected = 5;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        late.push_back(double(std::max<qint64>(0, now - expected)));
        expected = now + 5;
    });
    timer.start();
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < 8000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    timer.stop();
    polling.stop();
    link.shutdown();
    std::printf("GUI timer lateness with the port open and the instrument silent (8 s, %zu ticks, %d polls skipped)\n",
                late.size(), polling.skippedTicks());
    std::printf("  p50 / p99 / max            %7.1f / %.1f / %.1f ms   (goal p99 <= 16, max <= 50)\n",
                percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0));
}

// Poll-cycle times (ms) of `count` good cycles on port 1 = `portText`.
std::vector<double> cycleTimes(const QString& portText, int count, int* failed)
{
    PortMap ports;
    ports.map(1, portText);
    LinkClient link(makeLineBus(ports), LinkClient::Mode::Threaded);
    link.open(PortSettings{1, 1, 0, 1});
    QObject requester;
    std::vector<double> cycles;
    QElapsedTimer t;
    *failed = 0;
    for (int i = 0; i < count; ++i) {
        bool done = false;
        bool ok = true;
        t.start();
        link.readBatch(&requester, PollingCycle::cycleRequests(), [&](const QVector<ReadResult>& r) {
            for (const auto& x : r)
                ok = ok && x.ok();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (ok)
            cycles.push_back(t.nsecsElapsed() / 1e6);
        else
            ++*failed;
    }
    link.shutdown();
    return cycles;
}

void transports(QTemporaryDir& dir)
{
    SimOptions o;
    o.link = dir.filePath("transports");
    SimServer sim(o);
    QString error;
    if (!sim.start(&error)) {
        std::printf("transports: simulator did not start: %s\n", qPrintable(error));
        return;
    }
    std::printf("poll cycle by transport, no wire timing, loopback (200 cycles each)\n");
    auto show = [](const char* name, const std::vector<double>& c, int failed) {
        if (c.empty()) {
            std::printf("  %-28s not measured (%d failed)\n", name, failed);
            return;
        }
        std::printf("  %-28s p50 / p99 %6.2f / %.2f ms   (%d failed)\n", name, percentile(c, 0.5), percentile(c, 0.99),
                    failed);
    };
    int failed = 0;
    auto serial = cycleTimes(o.link, 200, &failed);
    show("serial pseudo-terminal", serial, failed);

    gateways::Server bridge;
    const int bridgePort = gateways::freeLoopbackPort();
    if (gateways::bridge(bridge, o.link, bridgePort)) {
        auto rtu = cycleTimes(QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(bridgePort), 200, &failed);
        show("rtu+tcp:// (socat bridge)", rtu, failed);
    } else {
        std::printf("  rtu+tcp://: socat did not start\n");
    }
    gateways::Server server;
    const int serverPort = gateways::freeLoopbackPort();
    if (gateways::modbusTcpServer(server, serverPort)) {
        auto tcp = cycleTimes(QStringLiteral("tcp://127.0.0.1:%1").arg(serverPort), 200, &failed);
        show("tcp:// (pymodbus server)", tcp, failed);
    } else {
        std::printf("  tcp://: the pymodbus server did not start\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    pollCycleRatio(dir);
    guiLatencyWithSilentInstrument(dir);
    transports(dir);
    return 0;
}
