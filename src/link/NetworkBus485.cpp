#include "NetworkBus485.h"
#include "LinkLog.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

NetworkBus485::NetworkBus485(PortMap ports) : ports_(std::move(ports)) {}

NetworkBus485::~NetworkBus485()
{
    // detach() is virtual and the derived part is gone: the derived
    // destructors close their lines themselves.
    for (auto& [port, line] : lines_)
        if (line.fd >= 0)
            ::close(line.fd);
}

bool NetworkBus485::connect(int port, Line& line)
{
    const auto now = ReconnectBackoff::Clock::now();
    if (!line.backoff.mayTry(now))
        return false;
    const int fd = connectTcp(line.endpoint.host, line.endpoint.tcpPort, kConnectTimeoutMs);
    if (fd < 0) {
        const int err = errno;
        line.backoff.failed(now);
        if (line.lastError != err)
            qCInfo(lcLink) << "port" << port << "connect to" << ports_.deviceFor(port)
                           << "failed:" << std::strerror(err) << "- next attempts spaced up to"
                           << ReconnectBackoff::kMaxMs / 1000 << "s";
        line.lastError = err;
        return false;
    }
    if (line.lastError != 0)
        qCInfo(lcLink) << "port" << port << "connected to" << ports_.deviceFor(port);
    line.lastError = 0;
    line.fd = fd;
    line.suspect = false;
    line.timeoutsInRow = 0;
    attach(line);
    return true;
}

void NetworkBus485::disconnect(Line& line)
{
    if (line.fd < 0)
        return;
    detach(line);
    if (line.fd >= 0)
        ::close(line.fd);
    line.fd = -1;
}

int NetworkBus485::OpenPort_Modbus(int port, int, int)
{
    ClosePort_Modbus(port);
    PortEndpoint endpoint;
    if (!parsePortEndpoint(ports_.deviceFor(port), &endpoint, nullptr) || !endpoint.isNetwork()) {
        last_ = LinkOutcome::NotOpen;
        return -1;
    }
    Line& line = lines_[port];
    line.endpoint = endpoint;
    if (!connect(port, line)) {
        last_ = LinkOutcome::NotOpen;
        return -1;
    }
    line.wanted = true;
    last_ = LinkOutcome::Answered;
    return 0;
}

int NetworkBus485::ClosePort_Modbus(int port)
{
    const auto it = lines_.find(port);
    if (it != lines_.end()) {
        disconnect(it->second);
        it->second.wanted = false; // the back-off stays: closing is no reason to hammer a dead gateway
    }
    last_ = LinkOutcome::Answered;
    return 0;
}

NetworkBus485::Line* NetworkBus485::lineFor(int port, int slave, int address)
{
    const auto it = lines_.find(port);
    if (it == lines_.end() || !it->second.wanted) {
        last_ = LinkOutcome::NotOpen;
        return nullptr;
    }
    if (slave < 0 || slave > 247 || address < 1 || address > 65536) {
        last_ = LinkOutcome::Other;
        return nullptr;
    }
    Line& line = it->second;
    if (line.fd < 0 && !connect(port, line)) {
        last_ = LinkOutcome::DeviceGone;
        return nullptr;
    }
    // Whatever arrived between two exchanges belongs to nobody.
    if (!discardPendingInput(line.fd)) {
        finish(line, LinkOutcome::DeviceGone);
        return nullptr;
    }
    return &line;
}

int NetworkBus485::finish(Line& line, LinkOutcome outcome)
{
    last_ = outcome;
    switch (outcome) {
    case LinkOutcome::Answered:
    case LinkOutcome::Exception:
        line.timeoutsInRow = 0;
        line.backoff.succeeded();
        break;
    case LinkOutcome::Timeout:
        if (++line.timeoutsInRow >= kTimeoutsBeforeReconnect) {
            qCDebug(lcLink) << "no answer" << line.timeoutsInRow << "times in a row; connecting afresh";
            disconnect(line);
            line.timeoutsInRow = 0;
        }
        break;
    case LinkOutcome::DeviceGone:
        qCInfo(lcLink) << "connection to" << line.endpoint.host << line.endpoint.tcpPort << "lost";
        disconnect(line);
        line.lastError = ECONNRESET; // say so when it is back
        break;
    default: break;
    }
    return -1;
}
