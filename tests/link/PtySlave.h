#pragma once
#include <atomic>
#include <string>
#include <thread>

struct _modbus;
typedef struct _modbus modbus_t;
struct _modbus_mapping_t;

// A minimal libmodbus RTU slave on a pseudo-terminal, for testing the master
// side against a real protocol peer. Register n (1-based) holds 1000 + n,
// input register n holds 2000 + n, coil word 0b101, input word 0b110.
class PtySlave {
public:
    explicit PtySlave(int slaveId = 1);
    ~PtySlave();
    bool start();
    void stop();
    std::string devicePath() const { return path_; }
    void delayNextReplyMs(int ms) { delayOnceMs_ = ms; }
    // After `pass` more requests, one is answered `ms` late, and whatever
    // arrives meanwhile is ignored: a slave busy finishing an old answer.
    void busyLater(int pass, int ms)
    {
        busyMs_ = ms;
        busyPass_ = pass;
    }
    // The next reply to a register read is built wrong in one way.
    enum class Fault { None, OtherSlave, OtherFunction, ShortByteCount };
    void falsifyNextReply(Fault fault) { fault_ = int(fault); }
    void closeMaster(); // the device disappears
    int holding(int number) const;

private:
    void run();
    void writeFalseReply(const uint8_t* query, Fault fault);
    int master_ = -1;
    int slaveKeep_ = -1;
    std::string path_;
    int slaveId_;
    modbus_t* ctx_ = nullptr;
    _modbus_mapping_t* map_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> delayOnceMs_{0};
    std::atomic<int> fault_{0};
    std::atomic<int> busyMs_{0};
    std::atomic<int> busyPass_{-1};
};
