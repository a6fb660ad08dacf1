#include "SimRtu.h"
#include "SimInstrument.h"
#include "ModbusCrc.h"

#include <algorithm>
#include <cstring>

quint16 simCrc16(std::span<const quint8> data) { return modbusCrc16(data); }

// ------------------------------------------------------------------ framing

void SimRtuFramer::reset()
{
    length_ = 0;
    discarding_ = false;
}

void SimRtuFramer::feed(std::span<const quint8> data)
{
    if (discarding_)
        return;
    if (length_ + int(data.size()) > kSimMaxAdu) {
        // Longer than any request can be: wait for silence to find the next one.
        length_ = 0;
        discarding_ = true;
        return;
    }
    std::memcpy(buffer_.data() + length_, data.data(), data.size());
    length_ += int(data.size());
}

int SimRtuFramer::expectedLength() const
{
    if (length_ < 2)
        return 0;
    switch (buffer_[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08: return 8;
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x11: return 4;
    case 0x0F:
    case 0x10: // address, quantity, byte count, data
        return length_ < 7 ? 0 : 9 + buffer_[6];
    case 0x14:
    case 0x15: // file records: byte count, data
        return length_ < 3 ? 0 : 5 + buffer_[2];
    case 0x16: return 10;
    case 0x17: // read/write multiple registers
        return length_ < 11 ? 0 : 13 + buffer_[10];
    case 0x18: return 6;
    default: return -1;
    }
}

std::optional<SimRtuFramer::Frame> SimRtuFramer::take()
{
    if (discarding_)
        return std::nullopt;
    const int expected = expectedLength();
    if (expected > kSimMaxAdu) {
        length_ = 0;
        discarding_ = true;
        return std::nullopt;
    }
    if (expected <= 0 || length_ < expected)
        return std::nullopt;
    const std::span<const quint8> candidate(buffer_.data(), std::size_t(expected));
    const quint16 crc = simCrc16(candidate.first(std::size_t(expected - 2)));
    if (buffer_[expected - 2] != (crc & 0xFF) || buffer_[expected - 1] != (crc >> 8)) {
        // Out of step or corrupted: drop everything up to the next silence.
        length_ = 0;
        discarding_ = true;
        return std::nullopt;
    }
    Frame frame;
    std::memcpy(frame.bytes.data(), buffer_.data(), std::size_t(expected));
    frame.length = expected;
    std::memmove(buffer_.data(), buffer_.data() + expected, std::size_t(length_ - expected));
    length_ -= expected;
    return frame;
}

std::optional<SimRtuFramer::Frame> SimRtuFramer::lineIdle()
{
    std::optional<Frame> frame;
    if (!discarding_ && length_ >= 4 && expectedLength() < 0) {
        const std::span<const quint8> all(buffer_.data(), std::size_t(length_));
        const quint16 crc = simCrc16(all.first(std::size_t(length_ - 2)));
        if (buffer_[length_ - 2] == (crc & 0xFF) && buffer_[length_ - 1] == (crc >> 8)) {
            frame.emplace();
            std::memcpy(frame->bytes.data(), buffer_.data(), std::size_t(length_));
            frame->length = length_;
            length_ = 0;
        }
    }
    reset();
    return frame;
}

// ----------------------------------------------------------------- requests

namespace {

int word(std::span<const quint8> pdu, std::size_t at) { return (pdu[at] << 8) | pdu[at + 1]; }

int exception(std::span<quint8, kSimMaxPdu> reply, quint8 function, SimException code)
{
    reply[0] = quint8(function | 0x80);
    reply[1] = quint8(code);
    return 2;
}

// Echo of address and quantity (or value), as the write functions answer.
int echo(std::span<quint8, kSimMaxPdu> reply, std::span<const quint8> pdu)
{
    std::copy_n(pdu.begin(), 5, reply.begin());
    return 5;
}

} // namespace

int simHandleRequest(SimInstrument& instrument, std::span<const quint8> pdu, bool broadcast,
                     std::span<quint8, kSimMaxPdu> reply)
{
    if (pdu.empty())
        return 0;
    const quint8 function = pdu[0];
    int length = 0;

    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04: {
        if (broadcast)
            return 0; // a broadcast read has nobody to answer to
        const bool bits = function <= 0x02;
        const int maxCount = bits ? 2000 : 125;
        if (pdu.size() != 5)
            return exception(reply, function, SimException::IllegalValue);
        const int address = word(pdu, 1);
        const int count = word(pdu, 3);
        if (count < 1 || count > maxCount)
            return exception(reply, function, SimException::IllegalValue);
        static constexpr SimTable tables[] = {SimTable::Coils, SimTable::DiscreteInputs, SimTable::HoldingRegisters,
                                              SimTable::InputRegisters};
        std::array<quint16, 2000> values{};
        const SimException ex =
            instrument.read(tables[function - 1], address + 1, count, std::span(values.data(), std::size_t(count)));
        if (ex != SimException::None)
            return exception(reply, function, ex);
        reply[0] = function;
        if (bits) {
            const int bytes = (count + 7) / 8;
            reply[1] = quint8(bytes);
            std::fill_n(reply.begin() + 2, bytes, quint8(0));
            for (int i = 0; i < count; ++i)
                if (values[std::size_t(i)])
                    reply[std::size_t(2 + i / 8)] |= quint8(1 << (i % 8));
            length = 2 + bytes;
        } else {
            reply[1] = quint8(2 * count);
            for (int i = 0; i < count; ++i) {
                reply[std::size_t(2 + 2 * i)] = quint8(values[std::size_t(i)] >> 8);
                reply[std::size_t(3 + 2 * i)] = quint8(values[std::size_t(i)] & 0xFF);
            }
            length = 2 + 2 * count;
        }
        break;
    }
    case 0x05: {
        if (pdu.size() != 5)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        const int value = word(pdu, 3);
        SimException ex = SimException::IllegalValue;
        if (value == 0xFF00 || value == 0x0000) {
            const bool on = value == 0xFF00;
            ex = instrument.writeCoils(word(pdu, 1) + 1, std::span(&on, 1));
        }
        if (ex != SimException::None)
            return broadcast ? 0 : exception(reply, function, ex);
        length = echo(reply, pdu);
        break;
    }
    case 0x06: {
        if (pdu.size() != 5)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        const qint16 value = qint16(word(pdu, 3));
        const SimException ex = instrument.writeRegisters(word(pdu, 1) + 1, std::span(&value, 1));
        if (ex != SimException::None)
            return broadcast ? 0 : exception(reply, function, ex);
        length = echo(reply, pdu);
        break;
    }
    case 0x0F: {
        if (pdu.size() < 6)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        const int count = word(pdu, 3);
        const int bytes = pdu[5];
        if (count < 1 || count > 1968 || bytes != (count + 7) / 8 || int(pdu.size()) != 6 + bytes)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        std::array<bool, 1968> values{};
        for (int i = 0; i < count; ++i)
            values[std::size_t(i)] = (pdu[std::size_t(6 + i / 8)] >> (i % 8)) & 1;
        const SimException ex = instrument.writeCoils(word(pdu, 1) + 1, std::span(values.data(), std::size_t(count)));
        if (ex != SimException::None)
            return broadcast ? 0 : exception(reply, function, ex);
        length = echo(reply, pdu);
        break;
    }
    case 0x10: {
        if (pdu.size() < 6)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        const int count = word(pdu, 3);
        const int bytes = pdu[5];
        if (count < 1 || count > 123 || bytes != 2 * count || int(pdu.size()) != 6 + bytes)
            return broadcast ? 0 : exception(reply, function, SimException::IllegalValue);
        std::array<qint16, 123> values{};
        for (int i = 0; i < count; ++i)
            values[std::size_t(i)] = qint16(word(pdu, std::size_t(6 + 2 * i)));
        const SimException ex =
            instrument.writeRegisters(word(pdu, 1) + 1, std::span(values.data(), std::size_t(count)));
        if (ex != SimException::None)
            return broadcast ? 0 : exception(reply, function, ex);
        length = echo(reply, pdu);
        break;
    }
    default: return broadcast ? 0 : exception(reply, function, SimException::IllegalFunction);
    }
    return broadcast ? 0 : length;
}

std::vector<quint8> simBuildAdu(int slave, std::span<const quint8> pdu)
{
    std::vector<quint8> adu;
    adu.reserve(pdu.size() + 3);
    adu.push_back(quint8(slave));
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    const quint16 crc = simCrc16(adu);
    adu.push_back(quint8(crc & 0xFF));
    adu.push_back(quint8(crc >> 8));
    return adu;
}
