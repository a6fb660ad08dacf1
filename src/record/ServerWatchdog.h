#pragma once
#include <QSqlDatabase>
#include <memory>

// Bounds every round trip to a history or journal server. The client library
// waits on its socket without any limit of its own, and a network that stops
// carrying packets without a reset (a cut cable past the switch, a frozen
// router) leaves a query waiting for a quarter of an hour. One thread looks at
// every watched TCP connection twice a second: one that sent a request and has
// heard nothing back for kSilenceLimitMs has its socket shut down, so the
// waiting call returns with an error and its owner treats the server as away.
// Unix-socket connections (a server on this machine) are not watched.
class ServerWatchdog {
public:
    // Longer than the server's own statement timeout: a slow statement is
    // cancelled by the server, cleanly, before it is cut here.
    static constexpr int kSilenceLimitMs = 6000;
    // Once the station stops, whatever still waits gets this long.
    static constexpr int kStopLimitMs = 1000;
    // The server cancels a statement after this long.
    static constexpr int kStatementTimeoutMs = 5000;

    // While alive, `db` (an open QPSQL connection) is watched. Reset it before
    // the connection closes. Null for a connection that cannot be watched.
    class Watch {
    public:
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        friend class ServerWatchdog;
        explicit Watch(int id) : id_(id) {}
        int id_;
    };
    static std::unique_ptr<Watch> watch(const QSqlDatabase& db);

    // The station is ending: waiting round trips get kStopLimitMs at most and
    // no new server connection is opened.
    static void beginStop();
    static bool stopping();

private:
    // The frozen-network test waits one second, not six.
    friend class TestHistorian;
    // 0 or less restores kSilenceLimitMs.
    static void setSilenceLimitMs(int ms);
};
