#include "ModbusTcp485.h"
#include "LibModbus485.h"

#include <modbus.h>

#include <cerrno>

ModbusTcp485::~ModbusTcp485()
{
    for (int port = 1; port <= 20; ++port)
        ClosePort_Modbus(port);
}

void ModbusTcp485::attach(Line& line)
{
    const QByteArray service = QByteArray::number(line.endpoint.tcpPort);
    line.ctx = modbus_new_tcp_pi(line.endpoint.host.toLatin1().constData(), service.constData());
    if (!line.ctx)
        return;
    modbus_set_socket(line.ctx, line.fd); // connected by us, within our own time limit
    modbus_set_response_timeout(line.ctx, 0, LibModbus485::kResponseTimeoutMs * 1000);
    modbus_set_byte_timeout(line.ctx, 0, LibModbus485::kByteTimeoutMs * 1000);
    modbus_set_error_recovery(line.ctx, MODBUS_ERROR_RECOVERY_NONE);
}

void ModbusTcp485::detach(Line& line)
{
    if (!line.ctx)
        return;
    modbus_close(line.ctx); // closes the socket
    modbus_free(line.ctx);
    line.ctx = nullptr;
    line.fd = -1;
}

modbus_t* ModbusTcp485::contextFor(int port, int slave, int address, Line** out)
{
    Line* line = lineFor(port, slave, address);
    if (!line)
        return nullptr;
    if (!line->ctx || modbus_set_slave(line->ctx, slave) != 0) {
        last_ = LinkOutcome::Other;
        return nullptr;
    }
    *out = line;
    return line->ctx;
}

int ModbusTcp485::fail(Line& line, int errnum)
{
    if (connectionLost(errnum))
        return finish(line, LinkOutcome::DeviceGone);
    // A gateway that says its path is down or the instrument did not answer
    // on the line speaks for a silent instrument: that is no answer (it goes
    // offline like one), not a refusal. The gateway itself answered, so the
    // connection counts as alive, and the reply was whole: nothing to drain.
    if (errnum == EMBXGPATH || errnum == EMBXGTAR) {
        finish(line, LinkOutcome::Answered);
        last_ = LinkOutcome::Timeout;
        return -1;
    }
    LinkOutcome outcome = LinkOutcome::Other;
    if (errnum == ETIMEDOUT)
        outcome = LinkOutcome::Timeout;
    else if (errnum > MODBUS_ENOBASE && errnum <= EMBXGTAR) {
        outcome = LinkOutcome::Exception;
        exceptionCode_ = errnum - MODBUS_ENOBASE;
    } else if (errnum == EMBBADCRC || errnum == EMBBADDATA || errnum == EMBBADEXC || errnum == EMBMDATA
               || errnum == EMBBADSLAVE)
        outcome = LinkOutcome::CrcError; // among them a reply of another transaction
    bool alive = true;
    if (outcome == LinkOutcome::Timeout)
        alive = drainSocketInput(line.fd, LibModbus485::kLateReplyWindowMs, 0);
    else if (outcome != LinkOutcome::Exception)
        alive = drainSocketInput(line.fd, LibModbus485::kResponseTimeoutMs, 30);
    return finish(line, alive ? outcome : LinkOutcome::DeviceGone);
}

int ModbusTcp485::readBits(int port, int slave, int first, Table table, std::span<qint32> buffer)
{
    if (buffer.size() < 1) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    Line* line = nullptr;
    modbus_t* ctx = contextFor(port, slave, first, &line);
    if (!ctx)
        return -1;
    uint8_t bits[16] = {};
    const int rc = table == Table::Coils ? modbus_read_bits(ctx, first - 1, 16, bits)
                                         : modbus_read_input_bits(ctx, first - 1, 16, bits);
    if (rc != 16)
        return fail(*line, rc < 0 ? errno : EMBBADDATA);
    qint32 word = 0;
    for (int k = 0; k < 16; ++k)
        if (bits[k])
            word |= 1 << k;
    buffer[0] = word;
    finish(*line, LinkOutcome::Answered);
    return 0;
}

int ModbusTcp485::readRegisters(int port, int slave, int first, int count, Table table, std::span<qint32> buffer)
{
    if (buffer.size() < std::size_t(count)) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    Line* line = nullptr;
    modbus_t* ctx = contextFor(port, slave, first, &line);
    if (!ctx)
        return -1;
    uint16_t regs[16] = {};
    const int rc = table == Table::InputRegisters ? modbus_read_input_registers(ctx, first - 1, count, regs)
                                                  : modbus_read_registers(ctx, first - 1, count, regs);
    if (rc != count)
        return fail(*line, rc < 0 ? errno : EMBBADDATA);
    for (int i = 0; i < count; ++i)
        buffer[i] = qint16(regs[i]); // the instrument's registers are signed
    finish(*line, LinkOutcome::Answered);
    return 0;
}

int ModbusTcp485::Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer)
{
    return readBits(port, slave, firstCoil, Table::Coils, buffer);
}

int ModbusTcp485::Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer)
{
    return readBits(port, slave, firstInput, Table::Inputs, buffer);
}

int ModbusTcp485::Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, Table::InputRegisters, buffer);
}

int ModbusTcp485::Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 8, Table::HoldingRegisters, buffer);
}

int ModbusTcp485::Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return readRegisters(port, slave, firstRegister, 16, Table::HoldingRegisters, buffer);
}

int ModbusTcp485::Set_4X_D1(int port, int slave, int holdingRegister, int value)
{
    Line* line = nullptr;
    modbus_t* ctx = contextFor(port, slave, holdingRegister, &line);
    if (!ctx)
        return kWriteFailed;
    if (modbus_write_register(ctx, holdingRegister - 1, uint16_t(qint16(value))) != 1) {
        fail(*line, errno);
        return kWriteFailed;
    }
    finish(*line, LinkOutcome::Answered);
    return 0;
}

int ModbusTcp485::writeCoil(int port, int slave, int coil, bool on)
{
    Line* line = nullptr;
    modbus_t* ctx = contextFor(port, slave, coil, &line);
    if (!ctx)
        return -1;
    if (modbus_write_bit(ctx, coil - 1, on ? 1 : 0) != 1)
        return fail(*line, errno);
    finish(*line, LinkOutcome::Answered);
    return 0;
}

int ModbusTcp485::Set_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, true); }
int ModbusTcp485::Rst_0X_Bit1(int port, int slave, int coil) { return writeCoil(port, slave, coil, false); }
