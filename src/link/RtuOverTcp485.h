#pragma once
#include "NetworkBus485.h"

#include <span>

// The library calls as raw RTU frames in a TCP stream, for a transparent
// serial device server: the frames and CRC of the serial line, protocol
// address = station number - 1. A reply is complete when the bytes its
// function code announces have arrived (5 for an exception); it must start
// within the serial line's response timeout and keep coming within its byte
// timeout. There are no transaction ids, so late replies are kept off as on
// a serial line: input is cleared before every request, drained after a
// timeout or a garbled reply, and after such a failure the next reply is
// taken only when no second reply follows it within the response timeout.
class RtuOverTcp485 final : public NetworkBus485 {
public:
    explicit RtuOverTcp485(PortMap ports) : NetworkBus485(std::move(ports)) {}
    ~RtuOverTcp485() override;

    int Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer) override;
    int Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer) override;
    int Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Set_4X_D1(int port, int slave, int holdingRegister, int value) override;
    int Set_0X_Bit1(int port, int slave, int coil) override;
    int Rst_0X_Bit1(int port, int slave, int coil) override;

private:
    // Sends function `fn` with two 16-bit fields and reads a reply of
    // `replyLength` bytes (whole frame) into `reply`; 0 or -1 (last_ set).
    int exchange(int port, int slave, quint8 fn, int field1, int field2, std::span<quint8> reply);
    int readBits(int port, int slave, int first, quint8 fn, std::span<qint32> buffer);
    int readRegisters(int port, int slave, int first, int count, quint8 fn, std::span<qint32> buffer);
    int writeCoil(int port, int slave, int coil, bool on);
    int fail(Line& line, LinkOutcome outcome);
};
