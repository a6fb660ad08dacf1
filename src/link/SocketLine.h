#pragma once
#include <QString>

#include <chrono>

// Socket helpers shared by the two network transports.

// Connects to host:port (an IP address) within `timeoutMs`; returns the
// socket, blocking, with TCP keepalive on so that a half-open connection
// (a gateway switched off without a word) ends in an error within seconds.
// Returns -1 and sets errno on failure (ETIMEDOUT when the time ran out).
int connectTcp(const QString& host, int port, int timeoutMs);

// Whether something can be read from `fd` within `ms` (EOF counts).
bool socketReadable(int fd, int ms);

// Throws away whatever is waiting, without waiting. Returns false when the
// peer has closed the connection.
bool discardPendingInput(int fd);

// Reads and discards for `windowMs`, or until quiet for `quietMs` when that
// is positive. Returns false when the peer has closed the connection.
bool drainSocketInput(int fd, int windowMs, int quietMs);

// Reconnect spacing for one endpoint: after a failure the next attempt
// waits 1 s, then 2, 4, 8 and at most 10 s; an answered exchange resets it.
class ReconnectBackoff {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFirstMs = 1000;
    static constexpr int kMaxMs = 10000;

    bool mayTry(Clock::time_point now) const { return now >= notBefore_; }
    void failed(Clock::time_point now);
    void succeeded()
    {
        delayMs_ = 0;
        notBefore_ = {};
    }

private:
    int delayMs_ = 0;
    Clock::time_point notBefore_{};
};

// Whether errno from a socket call means the connection is gone.
bool connectionLost(int errnum);
