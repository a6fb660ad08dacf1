#include "SimServer.h"
#include "SimInstrument.h"
#include "SimLog.h"
#include "SimRtu.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSim, "px.sim")

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kIdlePollMs = 50;    // how often the loop looks at the clock when nothing arrives
constexpr int kHangupSleepMs = 50; // while no master has the pseudo-terminal open
constexpr int kFrameGapMs = 30;    // silence that ends a frame of unknown length or garbage
constexpr int kWriteTimeoutMs = 200;
constexpr double kMaxCatchUp = 3600.0; // simulated seconds per step after a stall

int baudIndexOf(int baud)
{
    switch (baud) {
    case 4800:
        return 0;
    case 19200:
        return 2;
    default:
        return 1;
    }
}

int parityIndexOf(char parity)
{
    return parity == 'O' ? 1 : parity == 'E' ? 2 : 0;
}

speed_t speedOf(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace

struct SimServer::Private {
    explicit Private(SimOptions o) : options(std::move(o)), model(options.seed, options.plant) {}

    SimOptions options;
    int fd = -1;
    bool pty = false;
    QString slavePath;
    QString linkMade;
    std::thread worker;
    std::atomic<bool> stopping{false};
    bool running = false;

    // Guards everything below, and the model.
    mutable std::mutex mutex;
    std::condition_variable wake;
    SimInstrument model;
    double speed = 1.0;
    Clock::time_point lastAdvance;
    Clock::time_point silentUntil;
    int lateMs = 0;
    int lateCount = -1; // replies still to delay; -1: every reply until "late 0"
    int garbageCount = 0;
    quint64 requests = 0;
    quint64 replies = 0;
    quint64 ignored = 0;
    quint64 dropped = 0;

    bool openPty(QString* error);
    bool openDevice(QString* error);
    bool makeLink(QString* error);
    void run();
    void handle(const SimRtuFramer::Frame& frame, Clock::time_point receivedAt);
    bool sleepUntil(Clock::time_point when);
    bool masterGone() const;
    bool writeAll(const std::vector<quint8>& data);
    void advanceLocked(Clock::time_point now);
    QString statusLocked() const;
    QString commandLocked(const QStringList& words);
};

SimServer::SimServer(SimOptions options) : d(std::make_unique<Private>(std::move(options)))
{
    d->speed = d->options.speed > 0.0 ? d->options.speed : 1.0;
    d->model.setCommSettings(d->options.slave, baudIndexOf(d->options.baud), parityIndexOf(d->options.parity));
}

SimServer::~SimServer() { stop(); }

bool SimServer::isRunning() const { return d->running; }

QString SimServer::devicePath() const
{
    if (!d->options.link.isEmpty() && !d->linkMade.isEmpty())
        return d->linkMade;
    return d->slavePath;
}

bool SimServer::start(QString* error)
{
    if (d->running)
        return true;
    QString message;
    if (d->options.slave < 1 || d->options.slave > 247)
        message = QStringLiteral("slave address %1 is outside 1..247").arg(d->options.slave);
    else if (d->options.baud <= 0)
        message = QStringLiteral("baud rate %1 is not positive").arg(d->options.baud);
    else if (d->options.parity != 'N' && d->options.parity != 'O' && d->options.parity != 'E')
        message = QStringLiteral("parity must be N, O or E");
    if (message.isEmpty()) {
        const bool opened = d->options.device.isEmpty() ? d->openPty(&message) : d->openDevice(&message);
        if (opened && !d->options.link.isEmpty() && !d->makeLink(&message)) {
            ::close(d->fd);
            d->fd = -1;
        }
    }
    if (d->fd < 0) {
        qCWarning(lcSim) << "cannot start:" << message;
        if (error)
            *error = message;
        return false;
    }
    d->stopping = false;
    d->lastAdvance = Clock::now();
    d->silentUntil = d->lastAdvance;
    d->worker = std::thread([p = d.get()] { p->run(); });
    d->running = true;
    qCInfo(lcSim) << "instrument" << d->options.slave << "on" << devicePath();
    return true;
}

void SimServer::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->worker.join();
    ::close(d->fd);
    d->fd = -1;
    if (!d->linkMade.isEmpty() && QFileInfo(d->linkMade).isSymLink()
        && QFile::symLinkTarget(d->linkMade) == d->slavePath)
        QFile::remove(d->linkMade);
    d->linkMade.clear();
    d->running = false;
}

// ------------------------------------------------------------------ the line

bool SimServer::Private::openPty(QString* error)
{
    fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(errnoText(errno));
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return false;
    }
    char name[128];
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        *error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(errnoText(errno));
        ::close(fd);
        fd = -1;
        return false;
    }
    // Raw from the start: a canonical line discipline would echo our replies
    // back to us before the master has set up its side.
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    slavePath = QString::fromLocal8Bit(name);
    pty = true;
    return true;
}

bool SimServer::Private::openDevice(QString* error)
{
    const speed_t speed = speedOf(options.baud);
    if (speed == B0) {
        *error = QStringLiteral("baud rate %1 is not supported by serial devices").arg(options.baud);
        return false;
    }
    fd = ::open(QFile::encodeName(options.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(options.device, errnoText(errno));
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        *error = QStringLiteral("%1 is not a serial device").arg(options.device);
        ::close(fd);
        fd = -1;
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | PARODD | CSIZE);
    tio.c_cflag |= CS8;
    if (options.parity != 'N')
        tio.c_cflag |= PARENB | (options.parity == 'O' ? PARODD : 0);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = QStringLiteral("cannot set up %1: %2").arg(options.device, errnoText(errno));
        ::close(fd);
        fd = -1;
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    slavePath = options.device;
    return true;
}

bool SimServer::Private::makeLink(QString* error)
{
    const QString link = options.link;
    const QFileInfo info(link);
    if (info.isSymLink()) {
        QFile::remove(link);
    } else if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(link);
        return false;
    }
    if (::symlink(QFile::encodeName(slavePath).constData(), QFile::encodeName(link).constData()) != 0) {
        *error = QStringLiteral("cannot link %1: %2").arg(link, errnoText(errno));
        return false;
    }
    linkMade = link;
    return true;
}

bool SimServer::Private::sleepUntil(Clock::time_point when)
{
    std::unique_lock lock(mutex);
    return !wake.wait_until(lock, when, [this] { return stopping.load(); });
}

bool SimServer::Private::masterGone() const
{
    if (!pty)
        return false;
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

bool SimServer::Private::writeAll(const std::vector<quint8>& data)
{
    std::size_t done = 0;
    const auto deadline = Clock::now() + milliseconds(kWriteTimeoutMs);
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && Clock::now() < deadline) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
            continue;
        }
        return false;
    }
    return true;
}

void SimServer::Private::advanceLocked(Clock::time_point now)
{
    if (now <= lastAdvance)
        return;
    const double wall = std::chrono::duration<double>(now - lastAdvance).count();
    lastAdvance = now;
    model.advance(std::min(wall * speed, kMaxCatchUp));
}

void SimServer::Private::run()
{
    SimRtuFramer framer;
    quint8 chunk[kSimMaxAdu];
    while (!stopping) {
        {
            std::lock_guard lock(mutex);
            advanceLocked(Clock::now());
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, framer.hasPending() ? kFrameGapMs : kIdlePollMs);
        if (ready < 0) {
            if (errno != EINTR)
                sleepUntil(Clock::now() + milliseconds(kHangupSleepMs));
            continue;
        }
        if (ready == 0) {
            if (framer.hasPending()) {
                if (auto frame = framer.lineIdle())
                    handle(*frame, Clock::now());
            }
            continue;
        }
        ssize_t n = -1;
        if (p.revents & POLLIN)
            n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            framer.feed(std::span<const quint8>(chunk, std::size_t(n)));
            const auto now = Clock::now();
            while (auto frame = framer.take())
                handle(*frame, now);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // No master on the pseudo-terminal (EIO / POLLHUP): drop the replies
        // still queued towards it and any half-received frame, so that the
        // next master starts on a clean line, and look again shortly. The
        // input queue is left alone: a new master may already have opened
        // the line and sent its first request, which must not be lost.
        framer.reset();
        if (pty)
            ::tcflush(fd, TCOFLUSH);
        sleepUntil(Clock::now() + milliseconds(kHangupSleepMs));
    }
}

void SimServer::Private::handle(const SimRtuFramer::Frame& frame, Clock::time_point receivedAt)
{
    const int address = frame.bytes[0];
    const bool broadcast = address == 0;
    if (!broadcast && address != options.slave) {
        std::lock_guard lock(mutex);
        ++ignored;
        return;
    }

    std::array<quint8, kSimMaxPdu> pdu{};
    int pduLength = 0;
    int delayMs = 0;
    bool corrupt = false;
    {
        std::lock_guard lock(mutex);
        ++requests;
        if (receivedAt < silentUntil) {
            ++dropped;
            return; // a silent instrument neither answers nor acts
        }
        advanceLocked(receivedAt);
        const auto request = frame.view().subspan(1, std::size_t(frame.length - 3));
        pduLength = simHandleRequest(model, request, broadcast, pdu);
        if (pduLength == 0)
            return;
        if (lateMs > 0 && lateCount != 0) {
            delayMs = lateMs;
            if (lateCount > 0 && --lateCount == 0)
                lateMs = 0;
        }
        if (garbageCount > 0) {
            --garbageCount;
            corrupt = true;
        }
    }

    std::vector<quint8> adu = simBuildAdu(address, std::span<const quint8>(pdu.data(), std::size_t(pduLength)));
    if (corrupt)
        adu.back() ^= 0xA5;

    auto readyAt = receivedAt + milliseconds(delayMs);
    if (options.wireTiming) {
        // The request's own wire time has already passed when it is complete;
        // what is left is the two inter-frame silences, the turnaround and
        // the reply's transmission.
        const double bitsPerChar = options.parity == 'N' ? 10.0 : 11.0;
        const double charSeconds = bitsPerChar / options.baud;
        const double wire = (double(adu.size()) + 7.0) * charSeconds + options.turnaroundMs / 1000.0;
        readyAt += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wire));
    }
    if (readyAt > Clock::now() && !sleepUntil(readyAt))
        return; // stopping
    if (masterGone()) {
        qCDebug(lcSim) << "master closed the line before the reply";
        return;
    }
    if (!writeAll(adu)) {
        qCDebug(lcSim) << "reply not written:" << errnoText(errno);
        return;
    }
    std::lock_guard lock(mutex);
    ++replies;
}

// ---------------------------------------------------------------- commands

QString SimServer::commandHelp()
{
    return QStringLiteral(
        "fault open|short|heater|none   sensor open or short circuit, broken heater, or all cleared\n"
        "silent SECONDS                 neither answer nor act for SECONDS of wall time (0 ends it)\n"
        "late MS [COUNT]                delay replies by MS; COUNT replies only, else until 'late 0'\n"
        "garbage [COUNT]                send the next COUNT replies (default 1) with a bad CRC\n"
        "setpoint-step [DELTA]          move SV by DELTA (default 50), back down near the range top\n"
        "disturbance [PERCENT [SECONDS]] extra heat loss worth PERCENT output (default 20) for SECONDS (120)\n"
        "set hr|coil NUMBER VALUE       write as the master would (numbers from 1)\n"
        "get hr|ir|coil|di NUMBER       read one register or point\n"
        "pin CELSIUS|off                hold the process temperature, or let it go\n"
        "speed K                        simulated seconds per second\n"
        "status                         one line of state\n"
        "help                           this text");
}

QString SimServer::command(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    std::lock_guard lock(d->mutex);
    d->advanceLocked(Clock::now());
    return d->commandLocked(words);
}

QString SimServer::Private::statusLocked() const
{
    const char* fault = "none";
    switch (model.sensorFault()) {
    case SimInstrument::SensorFault::Open:
        fault = "open";
        break;
    case SimInstrument::SensorFault::Short:
        fault = "short";
        break;
    case SimInstrument::SensorFault::None:
        fault = model.heaterBroken() ? "heater" : "none";
        break;
    }
    const auto now = Clock::now();
    const double silentLeft = now < silentUntil ? std::chrono::duration<double>(silentUntil - now).count() : 0.0;
    return QStringLiteral("time=%1 pv=%2 sv=%3 op=%4 aux=%5 mode=%6 tune=%7 alarm1=%8 alarm2=%9 fault=%10 "
                          "speed=%11 late=%12 silent=%13 requests=%14 replies=%15 ignored=%16 dropped=%17")
        .arg(model.simulatedTime(), 0, 'f', 1)
        .arg(model.input(SimReg::Pv))
        .arg(model.holding(SimReg::Sv))
        .arg(model.input(SimReg::Op) / 10.0, 0, 'f', 1)
        .arg(model.input(SimReg::Aux))
        .arg(QLatin1String(model.coil(SimReg::Automatic) ? "auto" : "manual"))
        .arg(QLatin1String(model.coil(SimReg::SelfTune) ? "on" : "off"))
        .arg(int(model.discreteInput(SimReg::Alarm1Output)))
        .arg(int(model.discreteInput(SimReg::Alarm2Output)))
        .arg(QLatin1String(fault))
        .arg(speed)
        .arg(lateMs)
        .arg(silentLeft, 0, 'f', 1)
        .arg(requests)
        .arg(replies)
        .arg(ignored)
        .arg(dropped);
}

QString SimServer::Private::commandLocked(const QStringList& w)
{
    const QString verb = w[0].toLower();
    const QString arg1 = w.size() > 1 ? w[1].toLower() : QString();
    auto number = [&](int i, double* out) {
        bool ok = false;
        *out = i < w.size() ? w[i].toDouble(&ok) : 0.0;
        return ok && std::isfinite(*out);
    };
    auto exceptionText = [](SimException e) {
        return e == SimException::None ? QStringLiteral("ok")
                                       : QStringLiteral("error: exception %1").arg(int(e));
    };
    const QString usage = QStringLiteral("error: usage: ");
    double a = 0.0;
    double b = 0.0;

    if (verb == QLatin1String("fault")) {
        if (arg1 == QLatin1String("open"))
            model.setSensorFault(SimInstrument::SensorFault::Open);
        else if (arg1 == QLatin1String("short"))
            model.setSensorFault(SimInstrument::SensorFault::Short);
        else if (arg1 == QLatin1String("heater"))
            model.setHeaterBroken(true);
        else if (arg1 == QLatin1String("none")) {
            model.setSensorFault(SimInstrument::SensorFault::None);
            model.setHeaterBroken(false);
        } else
            return usage + QStringLiteral("fault open|short|heater|none");
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("silent")) {
        if (!number(1, &a) || a < 0.0)
            return usage + QStringLiteral("silent SECONDS");
        silentUntil = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("late")) {
        if (!number(1, &a) || a < 0.0 || a > 600000.0 || (w.size() > 2 && (!number(2, &b) || b < 1.0)))
            return usage + QStringLiteral("late MS [COUNT]");
        lateMs = int(a);
        lateCount = w.size() > 2 ? int(b) : -1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("garbage")) {
        if (w.size() > 1 && (!number(1, &a) || a < 0.0))
            return usage + QStringLiteral("garbage [COUNT]");
        garbageCount = w.size() > 1 ? int(a) : 1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("setpoint-step")) {
        if (w.size() > 1 && !number(1, &a))
            return usage + QStringLiteral("setpoint-step [DELTA]");
        model.setpointStep(w.size() > 1 ? int(a) : 50);
        return QStringLiteral("ok sv=%1").arg(model.holding(SimReg::Sv));
    }
    if (verb == QLatin1String("disturbance")) {
        a = 20.0;
        b = 120.0;
        if ((w.size() > 1 && !number(1, &a)) || (w.size() > 2 && !number(2, &b)))
            return usage + QStringLiteral("disturbance [PERCENT [SECONDS]]");
        model.disturb(a, b);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("set") || verb == QLatin1String("get")) {
        const bool set = verb == QLatin1String("set");
        if (!number(2, &a) || (set && !number(3, &b)))
            return usage + (set ? QStringLiteral("set hr|coil NUMBER VALUE") : QStringLiteral("get hr|ir|coil|di NUMBER"));
        const int n = int(a);
        if (set) {
            if (arg1 == QLatin1String("hr")) {
                const qint16 v = qint16(std::clamp(b, -32768.0, 32767.0));
                return exceptionText(model.writeRegisters(n, std::span(&v, 1)));
            }
            if (arg1 == QLatin1String("coil")) {
                const bool on = b != 0.0;
                return exceptionText(model.writeCoils(n, std::span(&on, 1)));
            }
            return usage + QStringLiteral("set hr|coil NUMBER VALUE");
        }
        SimTable table;
        if (arg1 == QLatin1String("hr"))
            table = SimTable::HoldingRegisters;
        else if (arg1 == QLatin1String("ir"))
            table = SimTable::InputRegisters;
        else if (arg1 == QLatin1String("coil"))
            table = SimTable::Coils;
        else if (arg1 == QLatin1String("di"))
            table = SimTable::DiscreteInputs;
        else
            return usage + QStringLiteral("get hr|ir|coil|di NUMBER");
        quint16 v = 0;
        const SimException e = model.read(table, n, 1, std::span(&v, 1));
        if (e != SimException::None)
            return exceptionText(e);
        return QString::number(table == SimTable::Coils || table == SimTable::DiscreteInputs ? int(v) : int(qint16(v)));
    }
    if (verb == QLatin1String("pin")) {
        if (arg1 == QLatin1String("off")) {
            model.pinTemperature(std::nullopt);
            return QStringLiteral("ok");
        }
        if (!number(1, &a))
            return usage + QStringLiteral("pin CELSIUS|off");
        model.pinTemperature(a);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("speed")) {
        if (!number(1, &a) || a <= 0.0 || a > 100000.0)
            return usage + QStringLiteral("speed K");
        speed = a;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("status"))
        return statusLocked();
    if (verb == QLatin1String("help"))
        return commandHelp();
    return QStringLiteral("error: unknown command '%1' (try help)").arg(w[0]);
}
