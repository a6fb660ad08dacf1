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

struct SimServer::Private {
    using Clock = std::chrono::steady_clock;

    explicit Private(SimOptions o) : options(std::move(o)), model(options.seed, options.plant) {}

    SimOptions options;
    int fd = -1;
    bool pty = false;
    QString slavePath;
    QString linkMade;
    std::thread worker;
    std::atomic<bool> stopping{false};
    bool running = false;

    // Guards everything below, and the model.
    mutable std::mutex mutex;
    std::condition_variable wake;
    SimInstrument model;
    double speed = 1.0;
    Clock::time_point lastAdvance;
    Clock::time_point silentUntil;
    int lateMs = 0;
    int lateCount = -1; // replies still to delay; -1: every reply until "late 0"
    int garbageCount = 0;
    int deafWrites = 0; // write requests still to lose, unanswered and not acted on
    quint64 requests = 0;
    quint64 replies = 0;
    quint64 ignored = 0;
    quint64 dropped = 0;

    bool openPty(QString* error);
    bool openDevice(QString* error);
    bool makeLink(QString* error);
    void run();
    void handle(const SimRtuFramer::Frame& frame, Clock::time_point receivedAt);
    bool sleepUntil(Clock::time_point when);
    bool masterGone() const;
    bool writeAll(const std::vector<quint8>& data);
    void advanceLocked(Clock::time_point now);
    QString statusLocked() const;
    QString commandLocked(const QStringList& words);
};
