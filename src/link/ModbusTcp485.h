#pragma once
#include "NetworkBus485.h"

// The library calls as Modbus TCP through libmodbus's TCP backend, for a
// gateway that turns them into RTU on its line: unit id = instrument
// address, protocol address = station number - 1. libmodbus numbers every
// request (transaction id) and refuses a reply carrying another number, so
// a late reply to an earlier request is never taken; it fails the exchange
// it lands in, which is then drained like a garbled reply on a serial line.
class ModbusTcp485 final : public NetworkBus485 {
public:
    explicit ModbusTcp485(PortMap ports) : NetworkBus485(std::move(ports)) {}
    ~ModbusTcp485() override;

    int Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer) override;
    int Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer) override;
    int Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Set_4X_D1(int port, int slave, int holdingRegister, int value) override;
    int Set_0X_Bit1(int port, int slave, int coil) override;
    int Rst_0X_Bit1(int port, int slave, int coil) override;

protected:
    void attach(Line& line) override;
    void detach(Line& line) override;

private:
    enum class Table { Coils, Inputs, InputRegisters, HoldingRegisters };
    modbus_t* contextFor(int port, int slave, int address, Line** line);
    int readBits(int port, int slave, int first, Table table, std::span<qint32> buffer);
    int readRegisters(int port, int slave, int first, int count, Table table, std::span<qint32> buffer);
    int writeCoil(int port, int slave, int coil, bool on);
    int fail(Line& line, int errnum);
};
