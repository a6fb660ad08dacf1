#include "PtySlave.h"

#include <modbus.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtySlave::PtySlave(int slaveId) : slaveId_(slaveId) {}

PtySlave::~PtySlave() { stop(); }

bool PtySlave::start()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        return false;
    path_ = ptsname(master_);
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    // Keep one slave-side descriptor so the master never sees a hang-up
    // while the station has the port closed.
    slaveKeep_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slaveKeep_ >= 0) {
        termios s{};
        tcgetattr(slaveKeep_, &s);
        cfmakeraw(&s);
        tcsetattr(slaveKeep_, TCSANOW, &s);
    }
    ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    modbus_set_slave(ctx_, slaveId_);
    if (getenv("PTYSLAVE_DEBUG"))
        modbus_set_debug(ctx_, 1);
    modbus_set_socket(ctx_, master_);
    map_ = modbus_mapping_new(64, 64, 5200, 64);
    for (int i = 0; i < 5200; ++i)
        map_->tab_registers[i] = uint16_t(1000 + i + 1);
    for (int i = 0; i < 64; ++i)
        map_->tab_input_registers[i] = uint16_t(2000 + i + 1);
    map_->tab_bits[0] = 1;
    map_->tab_bits[2] = 1;
    map_->tab_input_bits[1] = 1;
    map_->tab_input_bits[2] = 1;
    thread_ = std::thread([this] { run(); });
    return true;
}

void PtySlave::run()
{
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
            continue;
        const int rc = modbus_receive(ctx_, query);
        if (rc == 0) {
            // A request for another slave: libmodbus would now swallow the next
            // frame as that slave's reply. There is no other slave on this
            // line, so start afresh instead.
            modbus_free(ctx_);
            ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
            modbus_set_slave(ctx_, slaveId_);
            modbus_set_socket(ctx_, master_);
            continue;
        }
        if (rc < 0)
            continue;
        const int delay = delayOnceMs_.exchange(0);
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (busyPass_ >= 0 && busyPass_-- == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMs_.load()));
            uint8_t scratch[256];
            for (pollfd q{master_, POLLIN, 0}; ::poll(&q, 1, 0) > 0 && (q.revents & POLLIN);)
                if (::read(master_, scratch, sizeof scratch) <= 0)
                    break;
        }
        const auto fault = Fault(fault_.exchange(0));
        if (fault != Fault::None && (query[1] == 3 || query[1] == 4))
            writeFalseReply(query, fault);
        else
            modbus_reply(ctx_, query, rc, map_);
    }
}

namespace {
uint16_t crc16(const uint8_t* data, int length)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}
} // namespace

// A well-formed frame (valid CRC) that answers the query wrongly.
void PtySlave::writeFalseReply(const uint8_t* query, Fault fault)
{
    const int first = (query[2] << 8) | query[3];
    int count = (query[4] << 8) | query[5];
    const uint16_t* table = query[1] == 3 ? map_->tab_registers : map_->tab_input_registers;
    if (fault == Fault::ShortByteCount)
        --count;
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    int n = 0;
    frame[n++] = uint8_t(fault == Fault::OtherSlave ? query[0] + 1 : query[0]);
    frame[n++] = uint8_t(fault == Fault::OtherFunction ? (query[1] == 3 ? 4 : 3) : query[1]);
    frame[n++] = uint8_t(2 * count);
    for (int i = 0; i < count; ++i) {
        frame[n++] = uint8_t(table[first + i] >> 8);
        frame[n++] = uint8_t(table[first + i]);
    }
    const uint16_t crc = crc16(frame, n);
    frame[n++] = uint8_t(crc);
    frame[n++] = uint8_t(crc >> 8);
    [[maybe_unused]] const ssize_t written = ::write(master_, frame, std::size_t(n));
}

void PtySlave::closeMaster()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    slaveKeep_ = -1;
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

int PtySlave::holding(int number) const { return int16_t(map_->tab_registers[number - 1]); }

void PtySlave::stop()
{
    closeMaster();
    if (ctx_) {
        modbus_free(ctx_); // the socket was closed above
        ctx_ = nullptr;
    }
    if (map_) {
        modbus_mapping_free(map_);
        map_ = nullptr;
    }
}
