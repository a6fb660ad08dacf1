#pragma once
#include <QString>

// What a port number leads to: a serial device, a Modbus TCP gateway
// ("tcp://HOST[:PORT]", port 502 by default, unit id = instrument address)
// or a transparent serial device server carrying raw RTU frames
// ("rtu+tcp://HOST:PORT"). HOST is an IPv4 address, "[IPv6]" or localhost:
// a name would need a resolver that can stall far beyond the one-second
// connect budget.
struct PortEndpoint {
    enum class Kind { Serial, ModbusTcp, RtuOverTcp };
    Kind kind = Kind::Serial;
    QString device;  // Serial: the device path
    QString host;    // TCP: the address as given, without brackets
    int tcpPort = 0; // TCP: 1-65535

    bool isNetwork() const { return kind != Kind::Serial; }
};

// Reads a port's text. Text without "://" is a device path. Returns false
// and says why for a URL of an unknown scheme, a missing or unusable host,
// or a bad port.
bool parsePortEndpoint(const QString& text, PortEndpoint* out, QString* error);
