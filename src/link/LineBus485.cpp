#include "LineBus485.h"
#include "LibModbus485.h"
#include "ModbusTcp485.h"
#include "PortEndpoint.h"
#include "RtuOverTcp485.h"

LineBus485::LineBus485(const PortMap& ports)
    : serial_(std::make_unique<LibModbus485>(ports)), modbusTcp_(std::make_unique<ModbusTcp485>(ports)),
      rtuOverTcp_(std::make_unique<RtuOverTcp485>(ports))
{
    for (int port = 0; port <= kLastPort; ++port) {
        PortEndpoint endpoint; // a text that does not parse stays serial and fails to open
        parsePortEndpoint(ports.deviceFor(port), &endpoint, nullptr);
        switch (endpoint.kind) {
        case PortEndpoint::Kind::ModbusTcp: byPort_[port] = modbusTcp_.get(); break;
        case PortEndpoint::Kind::RtuOverTcp: byPort_[port] = rtuOverTcp_.get(); break;
        case PortEndpoint::Kind::Serial: byPort_[port] = serial_.get(); break;
        }
    }
}

LineBus485::~LineBus485() = default;

Modbus485& LineBus485::busFor(int port)
{
    last_ = port >= 0 && port <= kLastPort ? byPort_[std::size_t(port)] : serial_.get();
    return *last_;
}

int LineBus485::OpenPort_Modbus(int port, int baudIndex, int parityIndex)
{
    return busFor(port).OpenPort_Modbus(port, baudIndex, parityIndex);
}

int LineBus485::ClosePort_Modbus(int port) { return busFor(port).ClosePort_Modbus(port); }

int LineBus485::Get_0X_B16(int port, int slave, int first, std::span<qint32> buffer)
{
    return busFor(port).Get_0X_B16(port, slave, first, buffer);
}

int LineBus485::Get_1X_B16(int port, int slave, int first, std::span<qint32> buffer)
{
    return busFor(port).Get_1X_B16(port, slave, first, buffer);
}

int LineBus485::Get_3X_D8(int port, int slave, int first, std::span<qint32> buffer)
{
    return busFor(port).Get_3X_D8(port, slave, first, buffer);
}

int LineBus485::Get_4X_D8(int port, int slave, int first, std::span<qint32> buffer)
{
    return busFor(port).Get_4X_D8(port, slave, first, buffer);
}

int LineBus485::Get_4X_D16(int port, int slave, int first, std::span<qint32> buffer)
{
    return busFor(port).Get_4X_D16(port, slave, first, buffer);
}

int LineBus485::Set_4X_D1(int port, int slave, int reg, int value)
{
    return busFor(port).Set_4X_D1(port, slave, reg, value);
}
int LineBus485::Set_0X_Bit1(int port, int slave, int coil) { return busFor(port).Set_0X_Bit1(port, slave, coil); }
int LineBus485::Rst_0X_Bit1(int port, int slave, int coil) { return busFor(port).Rst_0X_Bit1(port, slave, coil); }

std::unique_ptr<Modbus485> makeLineBus(const PortMap& ports) { return std::make_unique<LineBus485>(ports); }
