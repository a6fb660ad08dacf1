// px5800-sim: the simulated instrument as a stand-alone Modbus RTU slave.
//
// Prints the device path for the master on the first line of standard
// output, then answers control commands read line by line from standard
// input (see "help"). Ends on SIGINT, SIGTERM or "quit"; on end of input only
// with --exit-on-eof.

#include "SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void say(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(const QString& message)
{
    std::fprintf(stderr, "px5800-sim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Signals are taken synchronously through a signalfd; block them before
    // any thread starts so that none of them receives one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("px5800-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated temperature controller: a Modbus RTU slave on a pseudo-terminal.\n"
                       "Prints the device path on the first line, then reads commands from standard input:\n\n")
        + SimServer::commandHelp() + QStringLiteral("\nquit                           end the simulator"));
    parser.addHelpOption();
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Serve this serial device instead of a new pseudo-terminal."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption link(
        QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the device (replaces an existing link)."),
        QStringLiteral("PATH"));
    const QCommandLineOption slave(QStringLiteral("slave"), QStringLiteral("Instrument address, 1..247."),
                                   QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption addresses(
        QStringLiteral("addresses"),
        QStringLiteral("Several instruments on the line, at these addresses: a list such as 1-4,7 (1..16)."),
        QStringLiteral("LIST"));
    const QCommandLineOption plant(
        QStringLiteral("plant"),
        QStringLiteral(
            "Plant of one instrument, e.g. 3=gain:2,tau:120,dead:10 (repeatable; what is left out keeps its default)."),
        QStringLiteral("N=SPEC"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Baud rate."), QStringLiteral("BPS"),
                                  QStringLiteral("9600"));
    const QCommandLineOption parity(QStringLiteral("parity"), QStringLiteral("Parity: none, odd or even."),
                                    QStringLiteral("P"), QStringLiteral("none"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Simulated time runs K times faster."),
                                   QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption wireTiming(
        QStringLiteral("wire-timing"), QStringLiteral("Answer no sooner than the exchange would take on a real line."));
    const QCommandLineOption turnaround(QStringLiteral("turnaround"),
                                        QStringLiteral("Turnaround added with --wire-timing."), QStringLiteral("MS"),
                                        QStringLiteral("20"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the measurement noise."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption plantGain(QStringLiteral("plant-gain"),
                                       QStringLiteral("Steady-state rise of the process per percent output, in °C."),
                                       QStringLiteral("K"), QStringLiteral("5"));
    const QCommandLineOption plantTau(QStringLiteral("plant-tau"),
                                      QStringLiteral("Time constant of the process, in seconds."), QStringLiteral("S"),
                                      QStringLiteral("300"));
    const QCommandLineOption plantDeadTime(QStringLiteral("plant-dead-time"),
                                           QStringLiteral("Dead time of the process, in seconds."), QStringLiteral("S"),
                                           QStringLiteral("10"));
    const QCommandLineOption exitOnEof(QStringLiteral("exit-on-eof"), QStringLiteral("Exit when standard input ends."));
    parser.addOptions({device, link, slave, addresses, plant, baud, parity, speed, wireTiming, turnaround, seed,
                       plantGain, plantTau, plantDeadTime, exitOnEof});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    SimOptions options;
    bool ok = false;
    options.device = parser.value(device);
    options.link = parser.value(link);
    options.slave = parser.value(slave).toInt(&ok);
    if (!ok || options.slave < 1 || options.slave > 247)
        return fail(QStringLiteral("--slave wants 1..247"));
    if (parser.isSet(addresses)) {
        if (parser.isSet(slave))
            return fail(QStringLiteral("give either --slave or --addresses"));
        QString error;
        options.addresses = simParseAddressList(parser.value(addresses), &error);
        if (options.addresses.empty())
            return fail(QStringLiteral("--addresses: %1").arg(error));
    }
    for (const QString& given : parser.values(plant)) {
        QString error;
        if (!simParsePlantOverride(given, options.plantOverrides, &error))
            return fail(error);
    }
    options.baud = parser.value(baud).toInt(&ok);
    if (!ok || options.baud < 50)
        return fail(QStringLiteral("--baud wants a baud rate"));
    const QString p = parser.value(parity).toLower();
    if (p == QLatin1String("none") || p == QLatin1String("n"))
        options.parity = 'N';
    else if (p == QLatin1String("odd") || p == QLatin1String("o"))
        options.parity = 'O';
    else if (p == QLatin1String("even") || p == QLatin1String("e"))
        options.parity = 'E';
    else
        return fail(QStringLiteral("--parity wants none, odd or even"));
    options.speed = parser.value(speed).toDouble(&ok);
    if (!ok || !(options.speed > 0.0) || options.speed > 100000.0)
        return fail(QStringLiteral("--speed wants a factor above 0"));
    options.wireTiming = parser.isSet(wireTiming);
    options.turnaroundMs = parser.value(turnaround).toInt(&ok);
    if (!ok || options.turnaroundMs < 0 || options.turnaroundMs > 10000)
        return fail(QStringLiteral("--turnaround wants 0..10000 ms"));
    options.seed = parser.value(seed).toUInt(&ok);
    if (!ok)
        return fail(QStringLiteral("--seed wants an unsigned number"));

    options.plant.gain = parser.value(plantGain).toDouble(&ok);
    if (!ok || !std::isfinite(options.plant.gain) || std::abs(options.plant.gain) > 1000.0)
        return fail(QStringLiteral("--plant-gain wants °C per percent, -1000..1000"));
    options.plant.timeConstant = parser.value(plantTau).toDouble(&ok);
    if (!ok || !(options.plant.timeConstant >= 1.0) || options.plant.timeConstant > 1e6)
        return fail(QStringLiteral("--plant-tau wants seconds, 1..1000000"));
    options.plant.deadTime = parser.value(plantDeadTime).toDouble(&ok);
    if (!ok || !(options.plant.deadTime >= 0.0) || options.plant.deadTime > 3600.0)
        return fail(QStringLiteral("--plant-dead-time wants seconds, 0..3600"));

    SimServer server(options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "px5800-sim: %s\n", qPrintable(error));
        return 1;
    }
    say(server.devicePath());

    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    bool inputOpen = true;
    QByteArray pending;
    constexpr qsizetype kMaxLine = 4096;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (parser.isSet(exitOnEof))
                break;
            inputOpen = false;
            continue;
        }
        pending.append(buffer, n);
        bool quit = false;
        qsizetype newline;
        while (!quit && (newline = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(newline)).trimmed();
            pending.remove(0, newline + 1);
            if (line == QLatin1String("quit") || line == QLatin1String("exit"))
                quit = true;
            else if (!line.isEmpty())
                say(server.command(line));
        }
        if (quit)
            break;
        if (pending.size() > kMaxLine)
            pending.clear(); // not a command line; forget it
    }
    server.stop();
    return 0;
}
