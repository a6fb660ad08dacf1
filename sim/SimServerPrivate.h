#pragma once
// Internals shared by the server's line handling and its console commands.
#include "SimRtu.h"
#include "SimServer.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// One instrument on the line, with the faults the console has set on it.
struct SimUnit {
    using Clock = std::chrono::steady_clock;

    SimUnit(int a, quint32 seed, const SimPlant& plant) : address(a), model(seed, plant) {}

    int address;
    SimInstrument model;
    Clock::time_point silentUntil;
    int lateMs = 0;
    int lateCount = -1; // replies still to delay; -1: every reply until "late 0"
    int garbageCount = 0;
    int deafWrites = 0; // write requests still to lose, unanswered and not acted on
    quint64 requests = 0;
    quint64 replies = 0;
    quint64 dropped = 0;
};

struct SimServer::Private {
    using Clock = std::chrono::steady_clock;

    explicit Private(SimOptions o);

    SimOptions options;
    int fd = -1;
    bool pty = false;
    QString slavePath;
    QString linkMade;
    std::thread worker;
    std::atomic<bool> stopping{false};
    bool running = false;

    // Guards everything below, and the units.
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::unique_ptr<SimUnit>> units; // ascending address; fixed after construction
    double speed = 1.0;
    Clock::time_point lastAdvance;
    quint64 ignored = 0; // requests for addresses nobody here serves

    bool openPty(QString* error);
    bool openDevice(QString* error);
    bool makeLink(QString* error);
    void run();
    void handle(const SimRtuFramer::Frame& frame, Clock::time_point receivedAt);
    // Carries out a request for `unit`; returns the reply PDU's length (0: no reply).
    int serveLocked(SimUnit& unit, const SimRtuFramer::Frame& frame, bool broadcast, Clock::time_point receivedAt,
                    std::span<quint8, kSimMaxPdu> pdu, int* delayMs, bool* corrupt);
    SimUnit* unitAt(int address) const;
    bool several() const { return units.size() > 1; }
    bool sleepUntil(Clock::time_point when);
    bool masterGone() const;
    bool writeAll(const std::vector<quint8>& data);
    void advanceLocked(Clock::time_point now);
    QString statusLocked(const SimUnit& unit) const;
    // `unit` null: the command is for every instrument.
    QString commandLocked(SimUnit* unit, const QStringList& words);
    QString unitCommandLocked(SimUnit& unit, const QStringList& words);
};
