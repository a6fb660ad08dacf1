#pragma once
#include <QtGlobal>

#include <array>
#include <optional>
#include <span>
#include <vector>

class SimInstrument;

// Modbus RTU for the simulated instrument: CRC, request framing and the
// request/reply logic. Pure code, no I/O.

inline constexpr int kSimMaxAdu = 256; // slave address + PDU (253) + CRC
inline constexpr int kSimMaxPdu = 253;

// CRC-16/MODBUS; on the wire the low byte goes first.
quint16 simCrc16(std::span<const quint8> data);

// Cuts the byte stream from the master into request frames.
//
// A frame is complete when the bytes its function code announces have
// arrived and its CRC is right. Anything else (a bad CRC, a frame too long,
// a function whose length is not known) is held until the line goes quiet
// and then judged as a whole: RTU frames are delimited by silence, so that
// is where the receiver regains step. The buffer never grows beyond one
// maximal frame; excess bytes are dropped until the next silence.
class SimRtuFramer {
public:
    struct Frame {
        std::array<quint8, kSimMaxAdu> bytes{};
        int length = 0;
        std::span<const quint8> view() const { return {bytes.data(), std::size_t(length)}; }
    };

    void feed(std::span<const quint8> data);
    // The next complete request, if one is ready.
    std::optional<Frame> take();
    // The line has been quiet for a frame gap: a frame of unknown length
    // with a good CRC is returned; everything else left over is dropped.
    std::optional<Frame> lineIdle();
    bool hasPending() const { return length_ > 0 || discarding_; }
    void reset();

private:
    // Total length of the request at the front of the buffer: > 0 known,
    // 0 not yet known (more bytes needed), -1 not known from the function code.
    int expectedLength() const;

    std::array<quint8, kSimMaxAdu> buffer_{};
    int length_ = 0;
    bool discarding_ = false;
};

// Answers one request PDU (function code and data, no slave address or CRC)
// and writes the reply PDU to `reply`; returns its length. A broadcast
// request is carried out but gets no reply (length 0).
int simHandleRequest(SimInstrument& instrument, std::span<const quint8> pdu, bool broadcast,
                     std::span<quint8, kSimMaxPdu> reply);

// Builds the RTU reply frame for `slave` around a reply PDU.
std::vector<quint8> simBuildAdu(int slave, std::span<const quint8> pdu);
