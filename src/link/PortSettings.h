#pragma once
#include <QMap>
#include <QString>
#include <array>

// The line and instrument chosen at the last "打开". Every library call
// passes port and address as its first two arguments.
struct PortSettings {
    int port = 0;        // 1-20; 0 before the first open
    int baudIndex = 0;   // 0 = 4800, 1 = 9600, 2 = 19200 bit/s
    int parityIndex = 0; // 0 none, 1 odd, 2 even
    int address = 0;     // instrument address 1-16
};

// The line speeds the instrument offers, in bit/s, by baudIndex: the one
// list behind the port panel, the command lines, parameter-set files and
// the journal's port text.
inline constexpr std::array<int, 3> kBaudRates{4800, 9600, 19200};
inline constexpr int kDefaultBaudIndex = 1;

int baudRateOf(int baudIndex);        // kBaudRates[baudIndex]; the default rate for an unknown index
int baudIndexOf(int rate);            // -1 for a rate not offered
QString baudRatesText();              // "4800, 9600 or 19200"
char parityLetterOf(int parityIndex); // 'N', 'O', 'E'; 'N' for an unknown index

// The line options of the station's and px5800-cli's command lines, one
// rule for both: --port-number 1..20, --address 1..16, --baud
// 4800|9600|19200 and --parity none|odd|even (any case) as their indexes.
enum class LineOption { PortNumber, Address, Baud, Parity };
// Sets `*out` and returns an empty text, or returns what the option expects
// ("--baud expects 4800, 9600 or 19200") and leaves `*out` alone.
QString parseLineOption(LineOption option, const QString& text, int* out);

// Port number -> serial device or network endpoint. Port n opens
// /dev/ttyUSB<n-1> unless the command line mapped it to another path (a
// /dev/serial/by-id link, a pseudo-terminal, ...) or to a gateway
// (tcp://HOST[:PORT], rtu+tcp://HOST:PORT; see PortEndpoint).
class PortMap {
public:
    QString deviceFor(int port) const;
    void map(int port, const QString& device);
    // Parses "N=DEVICE" or "N=URL"; on failure returns false and says why.
    bool parseMapping(const QString& text, QString* error);

private:
    QMap<int, QString> overrides_;
};

#include <QMetaType>
Q_DECLARE_METATYPE(PortSettings)
