#pragma once
#include "DeviceLock.h"
#include "Modbus485.h"
#include "PortSettings.h"

#include <QHash>
#include <chrono>
#include <map>

struct _modbus;
typedef struct _modbus modbus_t;

// The library calls on libmodbus RTU: one context per opened port, 8 data
// bits, 1 stop bit, baud and parity from the indices, the slave set per call,
// protocol address = station number - 1.
//
// Timing: a reply must start within kResponseTimeoutMs. The input is cleared
// immediately before every request, so nothing that arrived between two
// exchanges is ever taken as an answer. A reply that comes after its exchange
// was given up may still land inside a later exchange, and the protocol cannot
// tell two replies of the same shape (function code and byte count) apart: a
// busy slave that finishes a late answer while ignoring the next request would
// pass its old registers off as the new ones. So after a timeout or a garbled
// reply that shape is held back: the next exchange of it goes out only after
// one clean exchange of a shape still trusted (a short read of the first
// input registers, each attempt of a shape of its own, when the caller's own
// next request does not already differ). A reply later than
// kLateReplyLimitMs is not expected; a held-back shape is trusted again after
// that long. This covers every caller at once: the polling cycle, the windows'
// reads, writes and the repeat of a failed write.
//
// Each opened device is locked (DeviceLock) for one opener at a time; a
// device held by another program fails the open with PortInUse.
class LibModbus485 final : public Modbus485 {
public:
    static constexpr int kResponseTimeoutMs = 400;
    static constexpr int kByteTimeoutMs = 60;
    static constexpr int kLateReplyWindowMs = 600; // how long a garbled frame's rest may trail it
    static constexpr int kLateReplyLimitMs = 3000;
    static constexpr int kMaxProbes = 3;

    explicit LibModbus485(PortMap ports);
    ~LibModbus485() override;

    int OpenPort_Modbus(int port, int baudIndex, int parityIndex) override;
    int ClosePort_Modbus(int port) override;
    int Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer) override;
    int Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer) override;
    int Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Set_4X_D1(int port, int slave, int holdingRegister, int value) override;
    int Set_0X_Bit1(int port, int slave, int coil) override;
    int Rst_0X_Bit1(int port, int slave, int coil) override;
    LinkOutcome lastOutcome() const override { return last_; }
    int lastExceptionCode() const override { return lastException_; }

private:
    enum class Table { Coils, Inputs, InputRegisters, HoldingRegisters };
    modbus_t* contextFor(int port, int slave, int address);
    int readBits(int port, int slave, int first, Table table, std::span<qint32> buffer);
    int readRegisters(int port, int slave, int first, int count, Table table, std::span<qint32> buffer);
    int writeCoil(int port, int slave, int coil, bool on);
    int fail(modbus_t* ctx, int errnum, int shape);
    bool inStepFor(modbus_t* ctx, int shape);
    void answered();
    void closeContext(int port);

    PortMap ports_;
    QHash<int, modbus_t*> contexts_;
    std::map<int, DeviceLock> locks_;
    QHash<int, int> lastOpenError_; // errno of the last failed open per port (-1: in use)
    using Clock = std::chrono::steady_clock;
    // Per port: reply shapes whose late answers may still be on their way, and when they failed.
    QHash<int, std::map<int, Clock::time_point>> heldBack_;
    int currentPort_ = 0;
    LinkOutcome last_ = LinkOutcome::NotOpen;
    int lastException_ = 0;
};
