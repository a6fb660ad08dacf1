#include "Modbus485.h"

int callRead(Modbus485& bus, int port, int slave, const ReadRequest& r, std::span<qint32> buffer)
{
    switch (r.fn) {
    case ReadFn::Get_0X_B16: return bus.Get_0X_B16(port, slave, r.first, buffer);
    case ReadFn::Get_1X_B16: return bus.Get_1X_B16(port, slave, r.first, buffer);
    case ReadFn::Get_3X_D8: return bus.Get_3X_D8(port, slave, r.first, buffer);
    case ReadFn::Get_4X_D8: return bus.Get_4X_D8(port, slave, r.first, buffer);
    case ReadFn::Get_4X_D16: return bus.Get_4X_D16(port, slave, r.first, buffer);
    }
    return -1;
}

WriteResult writeWithOneRepeat(Modbus485& bus, int port, int slave, int holdingRegister, qint32 value)
{
    WriteResult result;
    result.request = {WriteFn::Set_4X_D1, holdingRegister, value};
    result.firstResult = bus.Set_4X_D1(port, slave, holdingRegister, value);
    result.calls = 1;
    if (result.firstResult == Modbus485::kWriteFailed) {
        bus.Set_4X_D1(port, slave, holdingRegister, value);
        result.calls = 2;
    }
    result.outcome = bus.lastOutcome();
    result.exceptionCode = result.outcome == LinkOutcome::Exception ? bus.lastExceptionCode() : 0;
    return result;
}

WriteResult performWrite(Modbus485& bus, int port, int slave, const WriteRequest& request)
{
    if (request.fn == WriteFn::Set_4X_D1)
        return writeWithOneRepeat(bus, port, slave, request.address, request.value);
    WriteResult result;
    result.request = request;
    result.firstResult = request.fn == WriteFn::Set_0X_Bit1 ? bus.Set_0X_Bit1(port, slave, request.address)
                                                            : bus.Rst_0X_Bit1(port, slave, request.address);
    result.calls = 1;
    result.outcome = bus.lastOutcome();
    result.exceptionCode = result.outcome == LinkOutcome::Exception ? bus.lastExceptionCode() : 0;
    return result;
}
