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
    if (getenv("PTYSLAVE_DEBUG")) modbus_set_debug(ctx_, 1);
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
        modbus_reply(ctx_, query, rc, map_);
    }
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
