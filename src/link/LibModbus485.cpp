#include "LibModbus485.h"
#include "LinkLog.h"

#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

namespace {

LinkOutcome classify(int errnum)
{
    switch (errnum) {
    case ETIMEDOUT: return LinkOutcome::Timeout;
    case EMBBADCRC:
    case EMBBADDATA:
    case EMBBADEXC:
    case EMBMDATA:
    case EMBBADSLAVE: return LinkOutcome::CrcError;
    case EIO:
    case ENXIO:
    case ENOENT:
    case EBADF:
    case ENODEV:
    case EPIPE: return LinkOutcome::DeviceGone;
    default: break;
    }
    if (errnum > MODBUS_ENOBASE && errnum < EMBXGTAR + 1)
        return LinkOutcome::Exception;
    return LinkOutcome::Other;
}

// Reads and discards whatever arrives on the line for `windowMs`, or until the
// line has been quiet for `quietMs` when that is positive.
void drainInput(int fd, int windowMs, int quietMs)
{
    if (fd < 0)
        return;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(windowMs);
    unsigned char scratch[256];
    for (;;) {
        const auto now = Clock::now();
        if (now >= end)
            break;
        int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
        if (quietMs > 0 && quietMs < wait)
            wait = quietMs;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            if (quietMs > 0)
                break; // quiet long enough
            continue;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            break; // the device is going away; the caller learns it on the next call
        if (::read(fd, scratch, sizeof scratch) <= 0)
            break;
    }
}

// Throws away whatever is waiting on the line right now, without waiting.
void discardPending(modbus_t* ctx)
{
    modbus_flush(ctx); // tcflush(TCIFLUSH) for RTU
    const int fd = modbus_get_socket(ctx);
    if (fd < 0)
        return;
    unsigned char scratch[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
            return;
        if (::read(fd, scratch, sizeof scratch) <= 0)
            return;
    }
}

// What a valid reply to a request looks like on the wire: function code and
// byte count. Late replies are told apart from the awaited one only by this.
constexpr int shapeOf(int function, int bytes) { return function * 1000 + bytes; }
constexpr int kProbeFunction = 4; // input registers from 1: the process value block, always answered

} // namespace

LibModbus485::LibModbus485(PortMap ports) : ports_(std::move(ports)) {}

LibModbus485::~LibModbus485()
{
    const QList<int> open = contexts_.keys();
    for (int port : open)
        closeContext(port);
}

void LibModbus485::closeContext(int port)
{
    modbus_t* ctx = contexts_.take(port);
    if (!ctx)
        return;
    modbus_close(ctx);
    modbus_free(ctx);
    locks_.erase(port);
    heldBack_.remove(port);
}

int LibModbus485::OpenPort_Modbus(int port, int baudIndex, int parityIndex)
{
    closeContext(port);
    const QByteArray device = ports_.deviceFor(port).toLocal8Bit();
    if (device.isEmpty()) {
        last_ = LinkOutcome::NotOpen;
        return -1;
    }
    // The lock comes first: a second opener must not even set the line up.
    DeviceLock lock;
    const DeviceLock::Status locked = lock.acquire(QString::fromLocal8Bit(device));
    if (locked != DeviceLock::Status::Held) {
        const int reason = locked == DeviceLock::Status::InUse ? -1 : lock.error();
        if (lastOpenError_.value(port) != reason)
            qCInfo(lcLink) << "open" << device << "failed:" << lock.reason();
        lastOpenError_.insert(port, reason);
        if (locked == DeviceLock::Status::InUse)
            last_ = LinkOutcome::PortInUse;
        else
            last_ = classify(lock.error()) == LinkOutcome::DeviceGone ? LinkOutcome::DeviceGone : LinkOutcome::NotOpen;
        return -1;
    }
    modbus_t* ctx = modbus_new_rtu(device.constData(), baudRateOf(baudIndex), parityLetterOf(parityIndex), 8, 1);
    if (!ctx) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    modbus_set_response_timeout(ctx, 0, kResponseTimeoutMs * 1000);
    modbus_set_byte_timeout(ctx, 0, kByteTimeoutMs * 1000);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    if (modbus_connect(ctx) != 0) {
        const int err = errno;
        // The link retries once a second while a device is away: say why
        // only when the reason changes.
        if (lastOpenError_.value(port) != err)
            qCInfo(lcLink) << "open" << device << "failed:" << modbus_strerror(err);
        lastOpenError_.insert(port, err);
        modbus_free(ctx);
        last_ = classify(err) == LinkOutcome::DeviceGone ? LinkOutcome::DeviceGone : LinkOutcome::NotOpen;
        return -1;
    }
    // Whatever was on the line before we came is not an answer to us.
    modbus_flush(ctx);
    lastOpenError_.remove(port);
    contexts_.insert(port, ctx);
    locks_[port] = std::move(lock);
    heldBack_.remove(port);
    last_ = LinkOutcome::Answered;
    return 0;
}

int LibModbus485::ClosePort_Modbus(int port)
{
    closeContext(port);
    last_ = LinkOutcome::Answered;
    return 0;
}

modbus_t* LibModbus485::contextFor(int port, int slave, int address)
{
    lastException_ = 0;
    modbus_t* ctx = contexts_.value(port, nullptr);
    if (!ctx) {
        last_ = LinkOutcome::NotOpen;
        return nullptr;
    }
    if (slave < 0 || slave > 247 || address < 1 || address > 65536 || modbus_set_slave(ctx, slave) != 0) {
        last_ = LinkOutcome::Other;
        return nullptr;
    }
    // A reply that came after its exchange was given up belongs to nobody:
    // whatever arrived between two exchanges is thrown away here.
    discardPending(ctx);
    currentPort_ = port;
    return ctx;
}

// Whether a request of `shape` may go out now. When that shape is held back,
// probes of other shapes go first; the first clean one shows the slave is in
// step with us again. A probe that times out ends the attempt: the slave is
// silent or still busy, and the request is not sent (last_ says why).
bool LibModbus485::inStepFor(modbus_t* ctx, int shape)
{
    auto found = heldBack_.find(currentPort_);
    if (found == heldBack_.end())
        return true;
    auto& held = *found;
    const auto now = Clock::now();
    for (auto it = held.begin(); it != held.end();)
        it = now - it->second > std::chrono::milliseconds(kLateReplyLimitMs) ? held.erase(it) : std::next(it);
    if (!held.count(shape))
        return true;
    LinkOutcome why = LinkOutcome::Timeout; // nothing left to probe with: as good as silent
    for (int attempt = 0; attempt < kMaxProbes; ++attempt) {
        int count = 1;
        while (count < 8 && held.count(shapeOf(kProbeFunction, 2 * count)))
            ++count;
        if (count == 8)
            break;
        discardPending(ctx);
        uint16_t regs[8] = {};
        const int rc = modbus_read_input_registers(ctx, 0, count, regs);
        if (rc == count) {
            qCDebug(lcLink) << "line back in step after" << attempt + 1 << "probe(s)";
            heldBack_.remove(currentPort_);
            discardPending(ctx);
            return true;
        }
        fail(ctx, rc < 0 ? errno : EMBBADDATA, shapeOf(kProbeFunction, 2 * count));
        why = last_;
        if (why != LinkOutcome::CrcError)
            break; // only a garbled probe (it met an old reply) says the slave is talking: try again
    }
    last_ = why == LinkOutcome::Exception ? LinkOutcome::Other : why;
    lastException_ = 0;
    qCDebug(lcLink) << "request held back: the line is not in step yet";
    return false;
}

void LibModbus485::answered()
{
    // A clean reply of a shape not held back can only answer this request,
    // and a slave answers in order: nothing older is still coming.
    heldBack_.remove(currentPort_);
    last_ = LinkOutcome::Answered;
    lastException_ = 0;
}

int LibModbus485::fail(modbus_t* ctx, int errnum, int shape)
{
    last_ = classify(errnum);
    lastException_ = last_ == LinkOutcome::Exception ? errnum - MODBUS_ENOBASE : 0;
    if (last_ == LinkOutcome::DeviceGone)
        return -1;
    if (last_ == LinkOutcome::Timeout || last_ == LinkOutcome::CrcError)
        heldBack_[currentPort_][shape] = Clock::now();
    if (last_ != LinkOutcome::Timeout) // the rest of a garbled frame, or of our own reply behind an old one
        drainInput(modbus_get_socket(ctx), kLateReplyWindowMs, 30);
    modbus_flush(ctx);
    return -1;
}

int LibModbus485::readBits(int port, int slave, int first, Table table, std::span<qint32> buffer)
{
    if (buffer.size() < 1) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    modbus_t* ctx = contextFor(port, slave, first);
    if (!ctx)
        return -1;
    const int shape = shapeOf(table == Table::Coils ? 1 : 2, 2);
    if (!inStepFor(ctx, shape))
        return -1;
    uint8_t bits[16] = {};
    const int rc = table == Table::Coils ? modbus_read_bits(ctx, first - 1, 16, bits)
                                         : modbus_read_input_bits(ctx, first - 1, 16, bits);
    if (rc != 16)
        return fail(ctx, rc < 0 ? errno : EMBBADDATA, shape);
    qint32 word = 0;
    for (int k = 0; k < 16; ++k)
        if (bits[k])
            word |= 1 << k;
    buffer[0] = word;
    answered();
    return 0;
}

int LibModbus485::readRegisters(int port, int slave, int first, int count, Table table, std::span<qint32> buffer)
{
    if (buffer.size() < std::size_t(count)) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    modbus_t* ctx = contextFor(port, slave, first);
    if (!ctx)
        return -1;
    const int shape = shapeOf(table == Table::InputRegisters ? 4 : 3, 2 * count);
    if (!inStepFor(ctx, shape))
        return -1;
    uint16_t regs[16] = {};
    const int rc = table == Table::InputRegisters ? modbus_read_input_registers(ctx, first - 1, count, regs)
                                                  : modbus_read_registers(ctx, first - 1, count, regs);
    if (rc != count)
        return fail(ctx, rc < 0 ? errno : EMBBADDATA, shape);
    for (int i = 0; i < count; ++i)
        buffer[i] = qint16(regs[i]); // the instrument's registers are signed
    answered();
    return 0;
}

int LibModbus485::Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer)
{
    return readBits(port, slave, firstCoil, Table::Coils, buffer);
}

int LibModbus485::Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer)
{
    return readBits(port, slave, firstInput, Table::Inputs, buffer);
}

int LibModbus485::Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, Table::InputRegisters, buffer);
}

int LibModbus485::Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, Table::HoldingRegisters, buffer);
}

int LibModbus485::Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 16, Table::HoldingRegisters, buffer);
}

int LibModbus485::Set_4X_D1(int port, int slave, int holdingRegister, int value)
{
    modbus_t* ctx = contextFor(port, slave, holdingRegister);
    if (!ctx)
        return kWriteFailed;
    // The reply echoes address and value: a late echo of an earlier write of
    // the same shape (the repeat of a failed write, above all) would confirm it.
    const int shape = shapeOf(6, 4);
    if (!inStepFor(ctx, shape))
        return kWriteFailed;
    if (modbus_write_register(ctx, holdingRegister - 1, uint16_t(qint16(value))) != 1) {
        fail(ctx, errno, shape);
        return kWriteFailed;
    }
    answered();
    return 0;
}

int LibModbus485::writeCoil(int port, int slave, int coil, bool on)
{
    modbus_t* ctx = contextFor(port, slave, coil);
    if (!ctx)
        return -1;
    const int shape = shapeOf(5, 4);
    if (!inStepFor(ctx, shape))
        return -1;
    if (modbus_write_bit(ctx, coil - 1, on ? 1 : 0) != 1)
        return fail(ctx, errno, shape);
    answered();
    return 0;
}

int LibModbus485::Set_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, true); }
int LibModbus485::Rst_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, false); }
