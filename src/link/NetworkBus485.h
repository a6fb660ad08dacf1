#pragma once
#include "Modbus485.h"
#include "PortEndpoint.h"
#include "PortSettings.h"
#include "SocketLine.h"

#include <map>

struct _modbus;
typedef struct _modbus modbus_t;

// What the two network transports share: one TCP connection per opened
// port, made on the link's worker thread within kConnectTimeoutMs.
// Baud rate and parity belong to the gateway's serial side and are ignored.
//
// A refused connection fails the open (NotOpen); a connection that drops
// fails the exchange with DeviceGone, as an unplugged adapter does, and the
// link opens the port again. Attempts are spaced by ReconnectBackoff: an
// open inside the back-off fails at once without touching the network.
// kTimeoutsBeforeReconnect timeouts in a row end the connection too (a
// half-open one never reports an error), and the next exchange connects
// afresh, so a gateway that accepts and never answers costs one response
// timeout per exchange and no more.
class NetworkBus485 : public Modbus485 {
public:
    static constexpr int kConnectTimeoutMs = 1000;
    static constexpr int kTimeoutsBeforeReconnect = 3;

    explicit NetworkBus485(PortMap ports);
    ~NetworkBus485() override;

    int OpenPort_Modbus(int port, int baudIndex, int parityIndex) override;
    int ClosePort_Modbus(int port) override;
    LinkOutcome lastOutcome() const override { return last_; }
    int lastExceptionCode() const override { return last_ == LinkOutcome::Exception ? exceptionCode_ : 0; }

protected:
    struct Line {
        PortEndpoint endpoint;
        int fd = -1;
        modbus_t* ctx = nullptr; // Modbus TCP only
        bool wanted = false;     // opened by the caller and not closed since
        bool suspect = false;    // a failure since the last clean exchange may leave old replies coming
        int timeoutsInRow = 0;
        int lastError = 0; // errno of the last failed connect, to log changes only
        ReconnectBackoff backoff;
    };

    // The connected line of an opened port, reconnecting a dropped one when
    // the back-off allows; nullptr with last_ set when there is none.
    Line* lineFor(int port, int slave, int address);
    // Sets last_ and keeps the per-line counts; closes a lost connection.
    // Returns -1 for the callers' convenience.
    int finish(Line& line, LinkOutcome outcome);

    virtual void attach(Line&) {}
    virtual void detach(Line&) {}

    LinkOutcome last_ = LinkOutcome::NotOpen;
    int exceptionCode_ = 0; // the slave's code with the last Exception outcome

private:
    bool connect(int port, Line& line);
    void disconnect(Line& line);

    PortMap ports_;
    std::map<int, Line> lines_;
};
