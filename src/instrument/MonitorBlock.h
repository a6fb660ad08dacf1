#pragma once
#include "LiveImage.h"

#include <QtGlobal>
#include <span>

// The main window's register block as one descriptor table: what each value
// and bit of the polled block is, where it sits in the LiveImage, how it is
// scaled and written back, how the station words it and under which names
// it leaves the station (MQTT, `px5800-cli status --json`, the journal).
// The five reads themselves belong to the link (PollingCycle::cycleRequests(),
// which the line scheduler and the link health use too); rows here name their
// read by its place in that cycle.
//
// Texts are UTF-8 Chinese in the "MonitorTables" translation context
// (MonitorTables::shown()).
namespace MonitorBlock {

// The reads of one polling cycle, by their place in PollingCycle::cycleRequests().
enum Block : int {
    Process = 0,  // input registers 1..8: PV, OP, SV, aux and four more
    Settings = 1, // holding registers 257..264: alarm and sensor-break settings
    Types = 2,    // holding registers 4114..4121: the alarm types and the rest
    Inputs = 3,   // discrete inputs: alarm outputs, sensor open / short
    Coils = 4,    // coils: self-tuning, automatic, manual permitted
};

struct Value {
    int index;                 // LiveImage::Values index
    Block block;               // read by
    int divisor;               // Values[index] / divisor is the value as shown (the break output is kept in tenths)
    int written;               // holding register an operator write goes to; 0: not written from the main window
    int readBackInput;         // input register the written value is polled back from; 0: the written register itself
    const char* caption;       // the operator's name; null where the window gives it none
    const char* group;         // MQTT settings object the value belongs to; null: a live value
    const char* key;           // MQTT name in the live message or in its settings group
    const char* statusKey;     // `status --json` name of a live value; null for the settings
    const char* statusCaption; // `status` text caption of a live value
};
// PV, SV, OP, aux, then the settings in register order.
std::span<const Value> values();
const Value* valueAt(int index);        // by LiveImage::Values index
const Value* valueWritten(int holding); // the value holding register `holding` writes

enum class BitTable { Coil, Input };
enum class BitTest {
    NonZero,   // on when the bit is not 0
    ExactlyOne // on only when the bit is exactly 1 (the sensor faults)
};
struct Bit {
    BitTable table;
    int bit; // index into CoilBits / InputBits
    BitTest test;
    const char* statusKey;     // `status --json`
    const char* statusCaption; // `status` text
    const char* mqttKey;       // live message; null: not published
    bool mqttWhenOff;          // published as true while the bit is off ("manual" is the automatic coil off)
    const char* journalSource; // journal event source
    const char* journalOff;    // journal message when it goes off ...
    const char* journalOn;     // ... and on ("JournalMessage" translation context)
};
// Alarm outputs and sensor faults (discrete inputs 1..4), then the coils 1..3.
std::span<const Bit> bits();
const Bit* bitOf(BitTable table, int bit);
bool isOn(const Bit& bit, qint32 value);
bool isOn(const Bit& bit, const LiveImage& image);
qint32 rawBit(const Bit& bit, const LiveImage& image);

// The two alarms: where their type and their three settings sit.
struct Alarm {
    const char* key; // "alarm1", "alarm2": MQTT settings group
    int typeIndex;   // LiveImage::HoldingRegs index of the type (registers 4114, 4115)
    int firstValue;  // Values index of its value; hysteresis and delay follow
};
std::span<const Alarm> alarms();

// Alarm type codes in the instrument's order.
struct AlarmType {
    const char* name;       // published name
    const char* alarm1Text; // the main window's wording for alarm 1 ...
    const char* alarm2Text; // ... and for alarm 2
    bool active;            // shown on the active colour
};
// Nothing for codes the instrument does not define.
const AlarmType* alarmType(qint32 code);
inline constexpr char kUnknownAlarmType[] = "unknown";

} // namespace MonitorBlock
