#pragma once
#include "SimInstrument.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// Plant figures given for one address; what is left out keeps its default.
struct SimPlantOverride {
    std::optional<double> gain;
    std::optional<double> timeConstant;
    std::optional<double> deadTime;
};

struct SimOptions {
    int slave = 1; // instrument address, 1..247, when `addresses` is empty
    // Several instruments on the one line, each with its own register map and
    // plant. Empty: the one instrument at `slave`, exactly as without it.
    std::vector<int> addresses;
    std::map<int, SimPlantOverride> plantOverrides; // by address
    int baud = 9600;                                // line speed for wire timing, and of a given device
    char parity = 'N';                              // 'N', 'O' or 'E'
    double speed = 1.0;                             // simulated seconds per wall-clock second
    bool wireTiming = false;                        // hold each reply until a real line could have carried the exchange
    int turnaroundMs = 20;                          // the instrument's think time, added with wire timing
    QString device;                                 // serial device to serve; empty: create a pseudo-terminal
    QString link;     // optional stable symlink to the device (an existing symlink is replaced)
    quint32 seed = 1; // measurement noise
    SimPlant plant;   // the heated process
};

// "1-4,7": addresses 1..16, ascending ranges, each address once. Empty on
// any fault, with the reason in `error`.
std::vector<int> simParseAddressList(const QString& text, QString* error);
// "3=gain:2,tau:120,dead:10" (any of the three) into `overrides`; false with
// the reason in `error` on a bad form or value.
bool simParsePlantOverride(const QString& text, std::map<int, SimPlantOverride>& overrides, QString* error);

// The simulated instrument as a Modbus RTU slave, running on its own thread:
// it answers requests and advances the process in simulated time.
//
// Line behaviour the master can rely on:
// - a reply is written as one block as soon as the request is complete,
//   or, with wire timing, once (reply bytes + 7 characters) at the baud rate
//   plus the turnaround have passed since the request was complete;
// - requests for other addresses and broadcasts get no reply (broadcast
//   writes are carried out); a read or write outside the map gets exception
//   02, a value out of range exception 03, an unknown function exception 01;
// - on a pseudo-terminal, whatever is still queued towards the master when
//   it closes its side is discarded, so a master that reopens starts clean;
//   the slave side stays openable for the server's whole life.
// With several addresses each instrument answers only its own requests, a
// broadcast write reaches all of them, and a silent one leaves the line free
// for the others. Instrument N (from address 1 on) differs from the first in
// its plant (gain x(1 + 0.1*((N-1) mod 5)), time constant x(1 + 0.25*((N-1)
// mod 4)), dead time x(1 + 0.5*((N-1) mod 3))), its noise seed (+N-1) and its
// initial set value (100 + 10*(N-1)), so every loop reads differently.
class SimServer {
public:
    explicit SimServer(SimOptions options = {});
    ~SimServer(); // stops and joins
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    bool start(QString* error = nullptr);
    void stop();
    bool isRunning() const;

    // The path for the master to open: the link if one was asked for, else
    // the device, else the pseudo-terminal's slave side (/dev/pts/N).
    QString devicePath() const;

    // One control command, as read from the simulator's standard input; safe
    // from any thread. Returns the answer: "ok", the value asked for, a status
    // line, or "error: ..." (see commandHelp()).
    QString command(const QString& line);
    static QString commandHelp();

    // The plant of the instrument at `address` on a line of several, before
    // overrides: `base` varied by address as described above.
    static SimPlant plantFor(const SimPlant& base, int address);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
