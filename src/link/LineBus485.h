#pragma once
#include "Modbus485.h"
#include "PortSettings.h"

#include <array>
#include <memory>

// The library calls for every port, each port on the transport its text
// names (PortEndpoint): libmodbus RTU for a serial device, Modbus TCP for
// tcp://, RTU frames over TCP for rtu+tcp://. The choice is made once per
// port, from the text it has when the bus is built.
class LineBus485 final : public Modbus485 {
public:
    explicit LineBus485(const PortMap& ports);
    ~LineBus485() override;

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
    LinkOutcome lastOutcome() const override { return last_ ? last_->lastOutcome() : LinkOutcome::NotOpen; }
    int lastExceptionCode() const override { return last_ ? last_->lastExceptionCode() : 0; }

private:
    Modbus485& busFor(int port);

    std::unique_ptr<Modbus485> serial_, modbusTcp_, rtuOverTcp_;
    static constexpr int kLastPort = 20;
    std::array<Modbus485*, kLastPort + 1> byPort_{};
    Modbus485* last_ = nullptr;
};

// The bus the station and px5800-cli use.
std::unique_ptr<Modbus485> makeLineBus(const PortMap& ports);
