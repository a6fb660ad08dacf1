#pragma once
#include "LinkTypes.h"

#include <span>

// The instrument's Modbus RS-485 master library: ten synchronous calls.
// Port and slave are the station's port number (1-20) and instrument
// address; register, coil and input numbers are 1-based as the station
// numbers them. Reads return 0 when the exchange succeeded and -1 when it
// did not (lastOutcome() says why); a read that fails leaves the buffer as
// it was. Set_4X_D1 returns -8888 when the write failed. A buffer smaller
// than the call fills is refused (-1, Other) and never written past.
class Modbus485 {
public:
    static constexpr int kWriteFailed = -8888;

    virtual ~Modbus485() = default;

    virtual int OpenPort_Modbus(int port, int baudIndex, int parityIndex) = 0;
    virtual int ClosePort_Modbus(int port) = 0;
    virtual int Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer) = 0;
    virtual int Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer) = 0;
    virtual int Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) = 0;
    virtual int Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) = 0;
    virtual int Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer) = 0;
    virtual int Set_4X_D1(int port, int slave, int holdingRegister, int value) = 0;
    virtual int Set_0X_Bit1(int port, int slave, int coil) = 0;
    virtual int Rst_0X_Bit1(int port, int slave, int coil) = 0;

    // How the most recent call ended.
    virtual LinkOutcome lastOutcome() const = 0;
    // The Modbus exception code (1 illegal function, 2 illegal address, ...)
    // when the most recent call ended in LinkOutcome::Exception, else 0.
    virtual int lastExceptionCode() const { return 0; }
};

// Dispatches a ReadRequest to the matching call.
int callRead(Modbus485& bus, int port, int slave, const ReadRequest& request, std::span<qint32> buffer);

// Every single-register write goes through here: issued again, exactly once,
// when the library answers -8888; the repeat's result is not examined.
WriteResult writeWithOneRepeat(Modbus485& bus, int port, int slave, int holdingRegister, qint32 value);

// Coil writes are never repeated.
WriteResult performWrite(Modbus485& bus, int port, int slave, const WriteRequest& request);
