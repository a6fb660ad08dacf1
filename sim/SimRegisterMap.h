#pragma once
#include <QtGlobal>

#include <optional>
#include <span>

// The simulated instrument's Modbus map. Registers and points are numbered as
// the station numbers them: the first is 1, sent on the wire as address 0.

enum class SimTable { Coils, DiscreteInputs, InputRegisters, HoldingRegisters };

enum class SimException : quint8 {
    None = 0,
    IllegalFunction = 1,
    IllegalAddress = 2,
    IllegalValue = 3,
};

namespace SimReg {

// Input registers.
inline constexpr int Pv = 1;            // measured value, instrument units
inline constexpr int Op = 2;            // output, tenths of a percent
inline constexpr int SvCopy = 3;        // set value in use
inline constexpr int Aux = 4;           // second input, in its own range
inline constexpr int ActiveSegment = 5; // segment row in use, 0 with grouping off
inline constexpr int ActiveGroup = 6;   // PID group in use, 0 for the main parameters
inline constexpr int TuneCycles = 7;    // relay cycles measured by a running self-tune
inline constexpr int PlantTenths = 8;   // process temperature without noise, tenths of a unit

// Holding registers: operator panel.
inline constexpr int Sv = 1;
inline constexpr int ManualOutput = 2; // tenths of a percent
inline constexpr int Alarm1Value = 257;
inline constexpr int Alarm1Hysteresis = 258;
inline constexpr int Alarm1Delay = 259; // seconds
inline constexpr int Alarm2Value = 260;
inline constexpr int Alarm2Hysteresis = 261;
inline constexpr int Alarm2Delay = 262;
inline constexpr int BreakAlarmValue = 263;
inline constexpr int BreakOutput = 264; // tenths of a percent

// Holding registers: configuration block, 4097 + parameter index.
inline constexpr int InputType = 4097;
inline constexpr int DecimalPoint = 4098;
inline constexpr int RangeHigh = 4099;
inline constexpr int RangeLow = 4100;
inline constexpr int Filter = 4101; // tenths of a second
inline constexpr int Offset = 4102;
inline constexpr int AuxEnable = 4103;
inline constexpr int AuxFunction = 4104; // 0 heater current, 1 valve position, 2 remote set value
inline constexpr int AuxHigh = 4105;
inline constexpr int AuxLow = 4106;
inline constexpr int ControlMode = 4107;
inline constexpr int Output1Type = 4108;
inline constexpr int Output1Signal = 4109;
inline constexpr int Output1Action = 4110; // 0 reverse (heating), 1 direct (cooling)
inline constexpr int Output2Type = 4111;
inline constexpr int Output2Signal = 4112;
inline constexpr int Output2Action = 4113;
inline constexpr int Alarm1Type = 4114;
inline constexpr int Alarm2Type = 4115;
inline constexpr int CommAddress = 4116;
inline constexpr int CommBaud = 4117;
inline constexpr int CommParity = 4118;
inline constexpr int CommDelay = 4119;
inline constexpr int TransmitEnable = 4120;
inline constexpr int TransmitSignal = 4121;
inline constexpr int TransmitHigh = 4122;
inline constexpr int TransmitLow = 4123;
inline constexpr int TransmitQuantity = 4124;
inline constexpr int TemperatureUnit = 4125; // 0 Celsius, 1 Fahrenheit, 2 kelvin
inline constexpr int Band1 = 4126;           // proportional band in instrument units; 0 = on/off
inline constexpr int Band2 = 4127;
inline constexpr int IntegralTime = 4128;   // seconds; 0 = no integral action
inline constexpr int DerivativeTime = 4129; // tenths of a second
inline constexpr int CycleTime = 4130;      // tenths of a second
inline constexpr int ControlHysteresis = 4131;
inline constexpr int OutputHigh = 4132; // tenths of a percent
inline constexpr int OutputLow = 4133;
inline constexpr int FaultPreset = 4134;   // tenths of a percent
inline constexpr int FaultHandling = 4135; // 0 go to the preset, 1 hold the output
inline constexpr int ConfigSpare = 4136;

// Holding registers: segment table and PID groups.
inline constexpr int Grouping = 4609;
inline constexpr int SegmentRows = 10;
inline constexpr int PidGroups = 5;
// Field f of segment row k (1..10): 1 temperature, 2 upper limit, 3 lower limit (tenths), 4 PID group.
constexpr int segmentField(int row, int field) { return Grouping + 4 * (row - 1) + field; }
// PID group g (1..5): offset 0 band, 2 integral time, 3 derivative time (tenths).
constexpr int groupField(int group, int offset) { return 5121 + 6 * (group - 1) + offset; }

// Coils.
inline constexpr int SelfTune = 1;
inline constexpr int Automatic = 2;
inline constexpr int ManualPermitted = 3;

// Discrete inputs.
inline constexpr int Alarm1Output = 1;
inline constexpr int Alarm2Output = 2;
inline constexpr int SensorOpen = 3;
inline constexpr int SensorShort = 4;

inline constexpr int HighestHolding = 5152;

} // namespace SimReg

struct SimBlock {
    int first;
    int count;
};

struct SimLimits {
    int min;
    int max;
};

// The readable blocks of one table. A read must lie wholly inside one block.
std::span<const SimBlock> simReadableBlocks(SimTable table);

// Whether first..first+count-1 lies inside one readable block.
bool simIsReadable(SimTable table, int first, int count);

// Accepted values of a writable holding register; empty for registers that
// are unmapped or read-only (spares).
std::optional<SimLimits> simWritableLimits(int holdingRegister);

// Highest writable coil.
inline constexpr int kSimWritableCoils = 3;
