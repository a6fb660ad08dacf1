#pragma once
#include "DeviceLock.h"
#include "Modbus485.h"
#include "PortSettings.h"

#include <QHash>
#include <QSet>
#include <map>

struct _modbus;
typedef struct _modbus modbus_t;

// The library calls on libmodbus RTU: one context per opened port, 8 data
// bits, 1 stop bit, baud and parity from the indices, the slave set per call,
// protocol address = station number - 1.
//
// Timing: a reply must start within kResponseTimeoutMs. After a timeout the
// input is drained for a further kLateReplyWindowMs, so that a reply arriving
// late is thrown away instead of being taken as the answer to the next
// request (which would shift every later read by one). The input is also
// cleared immediately before every request, so nothing that arrived between
// two exchanges is ever taken as an answer. After a timeout or a garbled
// reply, the next reply is accepted only when no second reply follows it
// within the response timeout: a slave still answering old requests would
// otherwise pass a reply to an earlier request of the same shape (libmodbus
// checks slave address, function code, byte count and CRC, which such a
// reply all has right). A dead line costs about one second per exchange.
//
// Each opened device is locked (DeviceLock) for one opener at a time; a
// device held by another program fails the open with PortInUse.
class LibModbus485 final : public Modbus485 {
public:
    static constexpr int kResponseTimeoutMs = 400;
    static constexpr int kByteTimeoutMs = 60;
    static constexpr int kLateReplyWindowMs = 600;

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

private:
    enum class Table { Coils, Inputs, InputRegisters, HoldingRegisters };
    modbus_t* contextFor(int port, int slave, int address);
    int readBits(int port, int slave, int first, Table table, std::span<qint32> buffer);
    int readRegisters(int port, int slave, int first, int count, Table table, std::span<qint32> buffer);
    int writeCoil(int port, int slave, int coil, bool on);
    int fail(modbus_t* ctx, int errnum);
    bool acceptReply(modbus_t* ctx);
    void closeContext(int port);

    PortMap ports_;
    QHash<int, modbus_t*> contexts_;
    std::map<int, DeviceLock> locks_;
    QHash<int, int> lastOpenError_; // errno of the last failed open per port (-1: in use)
    QSet<int> suspect_;             // ports whose last failure may leave old replies coming
    int currentPort_ = 0;
    LinkOutcome last_ = LinkOutcome::NotOpen;
};
