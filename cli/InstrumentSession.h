#pragma once
#include "CliCommon.h"
#include "LinkTypes.h"
#include "LiveImage.h"
#include "Modbus485.h"

#include <QMap>
#include <functional>
#include <memory>

// The cli's line to the instrument: the station's library calls, made
// directly and blocking (there is no window to keep alive). Opened once per
// command, closed when the session ends.
class InstrumentSession {
public:
    // `bus` replaces the libmodbus implementation (tests); null: libmodbus
    // on the options' port map.
    explicit InstrumentSession(InstrumentOptions options, std::unique_ptr<Modbus485> bus = nullptr);
    ~InstrumentSession();

    // Opens the line; false with one line saying why (the device missing,
    // held by another program, not openable).
    bool open(QString* error);

    // One polling cycle of the station (its five reads, in order) into
    // `image`; stops at the first read without a valid answer, leaving that
    // block of the image as it was, and says which read failed.
    bool poll(LiveImage& image, QString* error);
    // The same cycle with the instrument at `address` on this line; `onRead`
    // (may be empty) hears each read's outcome and response time.
    using ReadObserver = std::function<void(LinkOutcome outcome, double responseMs)>;
    bool pollAt(int address, LiveImage& image, QString* error, const ReadObserver& onRead = {});

    // One holding register through the station's write path (repeated once
    // when the library reports -8888).
    WriteResult writeRegister(int holdingRegister, qint32 value);
    // One coil, set or reset, never repeated.
    WriteResult writeCoil(int coil, bool on);

    // The library itself, for reads beyond the polling cycle's (parameter sets).
    Modbus485& bus() { return *bus_; }

    // Exchanges so far, by outcome.
    const QMap<LinkOutcome, int>& counters() const { return counters_; }
    const InstrumentOptions& options() const { return options_; }
    QString lineText() const; // "port 1 (/dev/ttyUSB0), address 1, 9600 8N1"
    QString busText() const;  // "port 1 (/dev/ttyUSB0), 9600 8N1"

private:
    void count(LinkOutcome outcome) { ++counters_[outcome]; }
    QString frameText() const; // "9600 8N1"

    InstrumentOptions options_;
    std::unique_ptr<Modbus485> bus_;
    bool open_ = false;
    QMap<LinkOutcome, int> counters_;
};

// Short English names of the outcomes for messages and counters.
QString outcomeText(LinkOutcome outcome);
// With the instrument's exception code, when it refused ("... (Modbus exception 02 illegal data address)").
QString outcomeText(LinkOutcome outcome, int exceptionCode);
