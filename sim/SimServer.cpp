#include "SimServerPrivate.h"
#include "SimLog.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
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
    case 4800: return 0;
    case 19200: return 2;
    default: return 1;
    }
}

int parityIndexOf(char parity) { return parity == 'O' ? 1 : parity == 'E' ? 2 : 0; }

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

SimPlant SimServer::plantFor(const SimPlant& base, int address)
{
    const int k = std::max(address, 1) - 1;
    SimPlant plant = base;
    plant.gain *= 1.0 + 0.1 * (k % 5);
    plant.timeConstant *= 1.0 + 0.25 * (k % 4);
    plant.deadTime *= 1.0 + 0.5 * (k % 3);
    return plant;
}

SimServer::Private::Private(SimOptions o) : options(std::move(o))
{
    const bool single = options.addresses.empty();
    std::vector<int> addresses = single ? std::vector<int>{options.slave} : options.addresses;
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    for (const int address : addresses) {
        SimPlant plant = single ? options.plant : SimServer::plantFor(options.plant, address);
        if (const auto it = options.plantOverrides.find(address); it != options.plantOverrides.end()) {
            plant.gain = it->second.gain.value_or(plant.gain);
            plant.timeConstant = it->second.timeConstant.value_or(plant.timeConstant);
            plant.deadTime = it->second.deadTime.value_or(plant.deadTime);
        }
        const quint32 seed = single ? options.seed : options.seed + quint32(address - 1);
        auto unit = std::make_unique<SimUnit>(address, seed, plant);
        unit->model.setCommSettings(address, baudIndexOf(options.baud), parityIndexOf(options.parity));
        if (!single) {
            const qint16 sv = qint16(100 + 10 * (address - 1));
            unit->model.writeRegisters(SimReg::Sv, std::span(&sv, 1));
            unit->model.clearWriteLog();
        }
        units.push_back(std::move(unit));
    }
}

SimUnit* SimServer::Private::unitAt(int address) const
{
    for (const auto& unit : units)
        if (unit->address == address)
            return unit.get();
    return nullptr;
}

SimServer::SimServer(SimOptions options) : d(std::make_unique<Private>(std::move(options)))
{
    d->speed = d->options.speed > 0.0 ? d->options.speed : 1.0;
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
    for (const auto& unit : d->units)
        if (message.isEmpty() && (unit->address < 1 || unit->address > 247))
            message = QStringLiteral("slave address %1 is outside 1..247").arg(unit->address);
    for (const auto& [address, plant] : d->options.plantOverrides)
        if (message.isEmpty() && !d->unitAt(address))
            message = QStringLiteral("a plant is given for address %1, which is not served").arg(address);
    if (message.isEmpty() && d->options.baud <= 0)
        message = QStringLiteral("baud rate %1 is not positive").arg(d->options.baud);
    if (message.isEmpty() && d->options.parity != 'N' && d->options.parity != 'O' && d->options.parity != 'E')
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
    for (const auto& unit : d->units)
        unit->silentUntil = d->lastAdvance;
    d->worker = std::thread([p = d.get()] { p->run(); });
    d->running = true;
    QStringList served;
    for (const auto& unit : d->units)
        served.append(QString::number(unit->address));
    qCInfo(lcSim) << "instrument" << served.join(QLatin1Char(',')) << "on" << devicePath();
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
    for (const auto& unit : units)
        unit->model.advance(std::min(wall * speed, kMaxCatchUp));
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

int SimServer::Private::serveLocked(SimUnit& unit, const SimRtuFramer::Frame& frame, bool broadcast,
                                    Clock::time_point receivedAt, std::span<quint8, kSimMaxPdu> pdu, int* delayMs,
                                    bool* corrupt)
{
    ++unit.requests;
    if (receivedAt < unit.silentUntil) {
        ++unit.dropped;
        return 0; // a silent instrument neither answers nor acts
    }
    const quint8 function = frame.bytes[1];
    const bool write = function == 0x05 || function == 0x06 || function == 0x0F || function == 0x10;
    if (write && unit.deafWrites > 0) {
        --unit.deafWrites;
        ++unit.dropped;
        return 0;
    }
    const auto request = frame.view().subspan(1, std::size_t(frame.length - 3));
    const int pduLength = simHandleRequest(unit.model, request, broadcast, pdu);
    if (pduLength == 0)
        return 0;
    if (unit.lateMs > 0 && unit.lateCount != 0) {
        *delayMs = unit.lateMs;
        if (unit.lateCount > 0 && --unit.lateCount == 0)
            unit.lateMs = 0;
    }
    if (unit.garbageCount > 0) {
        --unit.garbageCount;
        *corrupt = true;
    }
    return pduLength;
}

void SimServer::Private::handle(const SimRtuFramer::Frame& frame, Clock::time_point receivedAt)
{
    const int address = frame.bytes[0];
    std::array<quint8, kSimMaxPdu> pdu{};
    int pduLength = 0;
    int delayMs = 0;
    bool corrupt = false;
    SimUnit* unit = nullptr;
    {
        std::lock_guard lock(mutex);
        advanceLocked(receivedAt);
        if (address == 0) {
            for (const auto& each : units)
                serveLocked(*each, frame, true, receivedAt, pdu, &delayMs, &corrupt);
            return; // nobody answers a broadcast
        }
        unit = unitAt(address);
        if (!unit) {
            ++ignored;
            return;
        }
        pduLength = serveLocked(*unit, frame, false, receivedAt, pdu, &delayMs, &corrupt);
        if (pduLength == 0)
            return;
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
    ++unit->replies;
}
