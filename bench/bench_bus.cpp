// Bus figures: one line of several simulated instruments (px5800-sim in its
// own process, wire timing at the chosen baud) polled by the station's line
// scheduler with no main window open, as the loop overview runs it.
//  - the PV refresh period per loop (p50 / p99) against the wire time of the
//    reads a round needs;
//  - with dead addresses on the line, the line time they cost per minute;
//  - the station itself (px5800 with 16 loops, offscreen) idle: CPU and
//    resident memory.
// `bench_bus --quick` runs each case for a third of the time; `--only 12+4`
// one case (answering + dead) at 9600 bit/s.
#include "BenchStats.h"
#include "LibModbus485.h"
#include "LineBus485.h"
#include "LinkClient.h"
#include "LoopList.h"
#include "PollingCycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::percentile;

constexpr int kTurnaroundMs = 20;

// The simulator in a process of its own, so its CPU is not the station's.
class SimProcess {
public:
    ~SimProcess()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.write("quit\n");
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

    bool start(const QString& link, const QString& addresses, int baud)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(PX_SIM_BINARY),
                       {QStringLiteral("--link"), link, QStringLiteral("--addresses"), addresses,
                        QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--wire-timing"),
                        QStringLiteral("--turnaround"), QString::number(kTurnaroundMs),
                        QStringLiteral("--exit-on-eof")});
        if (!process_.waitForStarted(5000))
            return false;
        // The device path is the first line; the link exists from then on.
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine() && t.elapsed() < 10000)
            process_.waitForReadyRead(200);
        return process_.canReadLine() && QFileInfo::exists(link);
    }

private:
    QProcess process_;
};

// Wire time of one exchange at `baud` 8N1: request and reply bytes, a
// 3.5-character silence after each, and the instrument's turnaround.
double exchangeMs(int baud, int replyBytes)
{
    const double charMs = 10.0 * 1000.0 / baud;
    return (8 + replyBytes) * charMs + 2 * 3.5 * charMs + kTurnaroundMs;
}

int replyBytesOf(const ReadRequest& r)
{
    const bool bits = r.fn == ReadFn::Get_1X_B16 || r.fn == ReadFn::Get_0X_B16;
    return bits ? 3 + 2 + 2 : 3 + 16 + 2;
}

// A round's reads for `loops` answering loops, none focused: each loop's PV
// block and alarm bits, and a quarter of its three slower blocks.
double roundWireMs(int baud, int loops)
{
    const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    double every = 0;
    double slow = 0;
    for (const ReadRequest& r : cycle) {
        const bool everyRound = (r.fn == ReadFn::Get_3X_D8 && r.first == 1) || r.fn == ReadFn::Get_1X_B16;
        (everyRound ? every : slow) += exchangeMs(baud, replyBytesOf(r));
    }
    return loops * (every + slow / 4);
}

struct CaseResult {
    std::vector<double> periods;     // PV refresh periods of the answering loops, ms
    std::map<int, int> deadTimeouts; // timeouts on each dead address
    double seconds = 0;              // measured span
    double cpuPercent = 0;           // this process (link and scheduler), share of one core
};

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

CaseResult runCase(const QString& link, const QVector<int>& loops, const QVector<int>& dead, int seconds)
{
    CaseResult out;
    PortMap ports;
    ports.map(1, link);
    LinkClient line(makeLineBus(ports), LinkClient::Mode::Threaded);
    std::vector<std::unique_ptr<LinkClient>> channels;
    std::map<int, std::vector<qint64>> seen; // PV answers per address, ms
    QElapsedTimer clock;
    clock.start();
    // The first round; with dead addresses, the rounds in which they time out
    // twice and go offline (from then on they are only probed).
    const qint64 warmUpMs = dead.isEmpty() ? 3000 : 10000;
    for (const int a : loops) {
        auto channel = std::make_unique<LinkClient>(line, a);
        const bool isDead = dead.contains(a);
        QObject::connect(channel.get(), &LinkClient::cycleReads, [&seen, &clock, a](const QVector<ReadResult>& rs) {
            for (const ReadResult& r : rs)
                if (r.ok() && r.request.fn == ReadFn::Get_3X_D8 && r.request.first == 1)
                    seen[a].push_back(clock.elapsed());
        });
        if (isDead)
            QObject::connect(channel.get(), &LinkClient::exchangeCompleted, [&out, &clock, a, warmUpMs](LinkOutcome o) {
                if (o == LinkOutcome::Timeout && clock.elapsed() >= warmUpMs)
                    ++out.deadTimeouts[a];
            });
        channels.push_back(std::move(channel));
    }
    line.open(PortSettings{1, loops.first(), 0, 1});
    // An event loop that sleeps between events, so this process's CPU is the link's.
    double cpuAtStart = 0;
    QEventLoop loop;
    QTimer::singleShot(int(warmUpMs), &loop, [&cpuAtStart] { cpuAtStart = processCpuSeconds(); });
    QTimer::singleShot(int(warmUpMs + seconds * 1000LL), &loop, &QEventLoop::quit);
    loop.exec();
    out.seconds = double(clock.elapsed() - warmUpMs) / 1000.0;
    out.cpuPercent = 100.0 * (processCpuSeconds() - cpuAtStart) / out.seconds;
    channels.clear();
    line.shutdown();
    for (auto& [address, times] : seen)
        for (std::size_t i = 1; i < times.size(); ++i)
            if (times[i - 1] >= warmUpMs)
                out.periods.push_back(double(times[i] - times[i - 1]));
    return out;
}

struct Case {
    int answering;
    int dead;
};

double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (const double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

void busCases(QTemporaryDir& dir, int seconds, const std::vector<Case>& cases, const std::vector<int>& bauds)
{
    std::printf("PV refresh period per loop, no main window open (wire timing, %d ms turnaround, 8N1)\n",
                kTurnaroundMs);
    std::printf("  bound = the longer of the 500 ms round and the wire time of the round's reads\n");
    for (const int baud : bauds) {
        double meanWithoutDead = 0; // of the case just before, with as many answering
        for (const Case& c : cases) {
            const QVector<int> loops = [&] {
                QVector<int> v;
                for (int a = 1; a <= c.answering + c.dead; ++a)
                    v.append(a);
                return v;
            }();
            QVector<int> dead;
            for (int a = c.answering + 1; a <= c.answering + c.dead; ++a)
                dead.append(a);
            const QString link = dir.filePath(QStringLiteral("line-%1-%2-%3").arg(baud).arg(c.answering).arg(c.dead));
            SimProcess sim;
            if (!sim.start(link, LoopList::format(loops.mid(0, c.answering)), baud)) {
                std::printf("  %5d bit/s %2d loops: the simulator did not start\n", baud, c.answering);
                continue;
            }
            // Dead addresses are seen over a minute: their retries back off.
            const int span = c.dead ? std::max(seconds * 3, 60) : seconds;
            const CaseResult r = runCase(link, loops, dead, span);
            const double bound = std::max(500.0, roundWireMs(baud, c.answering));
            // A round that carries the probe of a dead address also holds its timeout.
            const double probeBound = bound + LibModbus485::kResponseTimeoutMs + exchangeMs(baud, 0) - kTurnaroundMs;
            const double p50 = percentile(r.periods, 0.5);
            const double p99 = percentile(r.periods, 0.99);
            std::printf("  %5d bit/s %2d answering%s: n=%4zu  p50 %7.1f ms  p99 %7.1f ms  bound %7.1f ms  "
                        "ratio p50 %.3f p99 %.3f (goal <= 1.10)  link CPU %.2f %%\n",
                        baud, c.answering, c.dead ? qPrintable(QStringLiteral(" + %1 dead").arg(c.dead)) : "",
                        r.periods.size(), p50, p99, bound, p50 / bound, p99 / bound, r.cpuPercent);
            if (c.dead) {
                std::printf("      bound of a round with a probe %.1f ms: ratio p99 %.3f\n", probeBound,
                            p99 / probeBound);
                int total = 0;
                for (const auto& [a, n] : r.deadTimeouts)
                    total += n;
                const double perMinute = total * 60.0 / r.seconds;
                std::printf("      dead addresses: %d timeouts in %.0f s = %.1f per minute per address "
                            "(goal <= 12)\n",
                            total, r.seconds, perMinute / c.dead);
                // The line time the dead cost: how much longer the answering
                // loops' rounds take than with the dead left off the line.
                if (meanWithoutDead > 0 && !r.periods.empty()) {
                    const double extra = 60.0 * (1.0 - meanWithoutDead / mean(r.periods));
                    std::printf("      extra line time %.1f s per minute (mean period %.0f ms, %.0f ms without them), "
                                "%.0f ms per timeout\n",
                                extra, mean(r.periods), meanWithoutDead, total ? extra * 1000.0 / perMinute : 0.0);
                }
            }
            meanWithoutDead = c.dead ? 0 : mean(r.periods);
        }
    }
}

struct ProcSample {
    double cpuSeconds = 0;
    long rssKb = 0;
};

std::optional<ProcSample> sampleProcess(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return std::nullopt;
    ProcSample s;
    s.cpuSeconds = double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                s.rssKb = line.mid(6).trimmed().split(' ').first().toLong();
    return s;
}

void stationIdle(QTemporaryDir& dir, int seconds)
{
    const QString link = dir.filePath(QStringLiteral("station-line"));
    SimProcess sim;
    if (!sim.start(link, QStringLiteral("1-16"), 9600)) {
        std::printf("station idle: the simulator did not start\n");
        return;
    }
    QDir().mkpath(dir.filePath(QStringLiteral("config")));
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    station.setProcessEnvironment(env);
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    station.setStandardOutputFile(QProcess::nullDevice());
    station.start(QStringLiteral(PX_STATION_BINARY),
                  {QStringLiteral("--port"), QStringLiteral("1=") + link, QStringLiteral("--loops"),
                   QStringLiteral("1-16"), QStringLiteral("--connect"), QStringLiteral("--database"),
                   dir.filePath(QStringLiteral("Rdatabj.db")), QStringLiteral("--journal"),
                   dir.filePath(QStringLiteral("Journal.db"))});
    if (!station.waitForStarted(5000)) {
        std::printf("station idle: px5800 did not start\n");
        return;
    }
    QThread::sleep(10); // windows up, every loop answered and recording
    const auto first = sampleProcess(station.processId());
    QThread::sleep(unsigned(seconds));
    const auto last = sampleProcess(station.processId());
    station.terminate();
    if (!station.waitForFinished(15000))
        station.kill();
    if (!first || !last) {
        std::printf("station idle: px5800 ended early\n");
        return;
    }
    std::printf("station with 16 loops at 9600 bit/s, loop overview shown, recording, idle for %d s\n", seconds);
    std::printf("  CPU %.2f %% of one core (goal <= 2 %%)   resident memory %.1f MB (goal <= 120 MB)\n",
                100.0 * (last->cpuSeconds - first->cpuSeconds) / seconds, double(last->rssKb) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    QTemporaryDir dir;
    // --only A+D: one case (A answering, D dead) at 9600 bit/s, no station run.
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    if (only > 0 && only + 1 < args.size()) {
        const QStringList parts = args.at(only + 1).split(QLatin1Char('+'));
        busCases(dir, quick ? 8 : 24, {{parts.value(0).toInt(), parts.value(1).toInt()}}, {9600});
        return 0;
    }
    busCases(dir, quick ? 8 : 24, {{1, 0}, {4, 0}, {8, 0}, {16, 0}, {12, 0}, {12, 4}}, {9600, 19200});
    stationIdle(dir, quick ? 10 : 30);
    return 0;
}
