#include "RtuOverTcp485.h"
#include "LibModbus485.h"
#include "LinkLog.h"
#include "ModbusCrc.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>

namespace {

// Reads exactly `out.size()` bytes: the first within `firstMs`, each further
// one within `nextMs`. Returns the count read, or -1 when the peer closed.
int receive(int fd, std::span<quint8> out, int firstMs, int nextMs, std::size_t* have)
{
    while (*have < out.size()) {
        if (!socketReadable(fd, *have == 0 ? firstMs : nextMs))
            return int(*have);
        const ssize_t n = ::recv(fd, out.data() + *have, out.size() - *have, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && connectionLost(errno)))
            return -1;
        if (n > 0)
            *have += std::size_t(n);
    }
    return int(*have);
}

} // namespace

RtuOverTcp485::~RtuOverTcp485()
{
    for (int port = 1; port <= 20; ++port)
        ClosePort_Modbus(port);
}

int RtuOverTcp485::fail(Line& line, LinkOutcome outcome)
{
    if (outcome == LinkOutcome::Timeout || outcome == LinkOutcome::CrcError) {
        line.suspect = true;
        const bool alive =
            outcome == LinkOutcome::Timeout
                ? drainSocketInput(line.fd, LibModbus485::kLateReplyWindowMs, 0)
                : drainSocketInput(line.fd, LibModbus485::kResponseTimeoutMs, 30); // rest of a garbled frame
        if (!alive)
            outcome = LinkOutcome::DeviceGone;
    }
    return finish(line, outcome);
}

int RtuOverTcp485::exchange(int port, int slave, quint8 fn, int field1, int field2, std::span<quint8> reply)
{
    Line* linePtr = lineFor(port, slave, field1 + 1);
    if (!linePtr)
        return -1;
    Line& line = *linePtr;
    std::array<quint8, 8> request{quint8(slave), fn, quint8(field1 >> 8), quint8(field1), quint8(field2 >> 8),
                                  quint8(field2)};
    const quint16 crc = modbusCrc16(std::span<const quint8>(request.data(), 6));
    request[6] = quint8(crc & 0xFF);
    request[7] = quint8(crc >> 8);
    if (::send(line.fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
        return finish(line, LinkOutcome::DeviceGone);

    // Slave and function first: an exception reply is shorter.
    std::size_t have = 0;
    int got = receive(line.fd, reply.first(2), LibModbus485::kResponseTimeoutMs, LibModbus485::kByteTimeoutMs, &have);
    if (got < 0)
        return finish(line, LinkOutcome::DeviceGone);
    if (got < 2)
        return fail(line, got == 0 ? LinkOutcome::Timeout : LinkOutcome::CrcError);
    const bool exception = reply[1] == (fn | 0x80);
    const std::span<quint8> frame = reply.first(exception ? 5 : reply.size());
    got = receive(line.fd, frame, LibModbus485::kByteTimeoutMs, LibModbus485::kByteTimeoutMs, &have);
    if (got < 0)
        return finish(line, LinkOutcome::DeviceGone);
    const std::size_t n = frame.size();
    const quint16 replyCrc = modbusCrc16(std::span<const quint8>(frame.data(), n - 2));
    if (std::size_t(got) < n || frame[n - 2] != (replyCrc & 0xFF) || frame[n - 1] != (replyCrc >> 8)
        || frame[0] != slave || (frame[1] != fn && !exception))
        return fail(line, LinkOutcome::CrcError);
    if (fn == 5 || fn == 6) {
        if (!std::equal(frame.begin(), frame.end(), request.begin()) && !exception)
            return fail(line, LinkOutcome::CrcError);
    } else if (!exception && frame[2] != n - 5) {
        return fail(line, LinkOutcome::CrcError);
    }
    if (line.suspect) {
        // A failure since the last clean exchange: the slave may be answering
        // old requests, and a reply to an earlier request of the same shape
        // passes every check above. If it was one, this request's own reply
        // follows within the response timeout.
        if (socketReadable(line.fd, LibModbus485::kResponseTimeoutMs)) {
            qCDebug(lcLink) << "a second reply followed; the exchange is discarded";
            return fail(line, LinkOutcome::CrcError);
        }
        line.suspect = false;
    }
    if (exception) {
        exceptionCode_ = frame[2];
        return finish(line, LinkOutcome::Exception);
    }
    finish(line, LinkOutcome::Answered);
    return 0;
}

int RtuOverTcp485::readBits(int port, int slave, int first, quint8 fn, std::span<qint32> buffer)
{
    if (buffer.size() < 1) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    std::array<quint8, 7> reply{}; // slave fn count b0 b1 crc crc
    if (exchange(port, slave, fn, first - 1, 16, reply) != 0)
        return -1;
    buffer[0] = qint32(reply[3] | (reply[4] << 8));
    return 0;
}

int RtuOverTcp485::readRegisters(int port, int slave, int first, int count, quint8 fn, std::span<qint32> buffer)
{
    if (buffer.size() < std::size_t(count)) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    std::array<quint8, 5 + 2 * 16> reply{};
    if (exchange(port, slave, fn, first - 1, count, std::span<quint8>(reply.data(), std::size_t(5 + 2 * count))) != 0)
        return -1;
    for (int i = 0; i < count; ++i)
        buffer[i] =
            qint16(quint16((reply[3 + 2 * i] << 8) | reply[4 + 2 * i])); // the instrument's registers are signed
    return 0;
}

int RtuOverTcp485::Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer)
{
    return readBits(port, slave, firstCoil, 0x01, buffer);
}

int RtuOverTcp485::Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer)
{
    return readBits(port, slave, firstInput, 0x02, buffer);
}

int RtuOverTcp485::Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, 0x04, buffer);
}

int RtuOverTcp485::Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, 0x03, buffer);
}

int RtuOverTcp485::Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 16, 0x03, buffer);
}

int RtuOverTcp485::Set_4X_D1(int port, int slave, int holdingRegister, int value)
{
    std::array<quint8, 8> reply{};
    return exchange(port, slave, 0x06, holdingRegister - 1, quint16(qint16(value)), reply) == 0 ? 0 : kWriteFailed;
}

int RtuOverTcp485::writeCoil(int port, int slave, int coil, bool on)
{
    std::array<quint8, 8> reply{};
    return exchange(port, slave, 0x05, coil - 1, on ? 0xFF00 : 0x0000, reply);
}

int RtuOverTcp485::Set_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, true); }
int RtuOverTcp485::Rst_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, false); }
