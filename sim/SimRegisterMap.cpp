#include "SimRegisterMap.h"

namespace {

// Bit tables answer 16-point reads from point 1 (the station reads them as a
// 16-bit word); only the first few points carry meaning, the rest read 0.
constexpr SimBlock kCoilBlocks[] = {{1, 16}};
constexpr SimBlock kInputBitBlocks[] = {{1, 16}};
constexpr SimBlock kInputRegisterBlocks[] = {{1, 8}};
constexpr SimBlock kHoldingBlocks[] = {
    {1, 2},     // set value, manual output
    {257, 8},   // alarm and break settings
    {4097, 40}, // 39 configuration parameters and one spare
    {4609, 48}, // grouping switch, ten segments, spares
    {5121, 32}, // five PID groups of six, spares
};

struct LimitRow {
    int reg;
    SimLimits limits;
};

// Writable registers outside the segment and group tables, one row each.
constexpr LimitRow kLimits[] = {
    {SimReg::Sv, {-1999, 9999}},
    {SimReg::ManualOutput, {0, 1000}},
    {SimReg::Alarm1Value, {-1999, 9999}},
    {SimReg::Alarm1Hysteresis, {0, 1000}},
    {SimReg::Alarm1Delay, {0, 600}},
    {SimReg::Alarm2Value, {-1999, 9999}},
    {SimReg::Alarm2Hysteresis, {0, 1000}},
    {SimReg::Alarm2Delay, {0, 600}},
    {SimReg::BreakAlarmValue, {-1999, 9999}},
    {SimReg::BreakOutput, {0, 1000}},
    {SimReg::InputType, {0, 28}},
    {SimReg::DecimalPoint, {0, 3}},
    {SimReg::RangeHigh, {-1999, 9999}},
    {SimReg::RangeLow, {-1999, 9999}},
    {SimReg::Filter, {1, 11}},
    {SimReg::Offset, {-500, 500}},
    {SimReg::AuxEnable, {0, 2}},
    {SimReg::AuxFunction, {0, 2}},
    {SimReg::AuxHigh, {-1999, 9999}},
    {SimReg::AuxLow, {-1999, 9999}},
    {SimReg::ControlMode, {0, 1}},
    {SimReg::Output1Type, {0, 3}},
    {SimReg::Output1Signal, {0, 2}},
    {SimReg::Output1Action, {0, 1}},
    {SimReg::Output2Type, {0, 3}},
    {SimReg::Output2Signal, {0, 2}},
    {SimReg::Output2Action, {0, 1}},
    {SimReg::Alarm1Type, {0, 6}},
    {SimReg::Alarm2Type, {0, 6}},
    {SimReg::CommAddress, {1, 255}},
    {SimReg::CommBaud, {0, 2}},
    {SimReg::CommParity, {0, 2}},
    {SimReg::CommDelay, {0, 60}},
    {SimReg::TransmitEnable, {0, 1}},
    {SimReg::TransmitSignal, {0, 2}},
    {SimReg::TransmitHigh, {-1999, 9999}},
    {SimReg::TransmitLow, {-1999, 9999}},
    {SimReg::TransmitQuantity, {0, 3}},
    {SimReg::TemperatureUnit, {0, 2}},
    {SimReg::Band1, {0, 9999}},
    {SimReg::Band2, {0, 9999}},
    {SimReg::IntegralTime, {0, 5000}},
    {SimReg::DerivativeTime, {0, 9999}},
    {SimReg::CycleTime, {0, 2000}},
    {SimReg::ControlHysteresis, {0, 2000}},
    {SimReg::OutputHigh, {0, 1000}},
    {SimReg::OutputLow, {0, 1000}},
    {SimReg::FaultPreset, {0, 1000}},
    {SimReg::FaultHandling, {0, 1}},
    {SimReg::Grouping, {0, 1}},
};

// Segment row fields 1..4 and PID group offsets 0, 2, 3.
constexpr SimLimits kSegmentLimits[] = {{-1999, 9999}, {0, 1000}, {0, 1000}, {0, SimReg::PidGroups}};
constexpr SimLimits kGroupBand{0, 9999};
constexpr SimLimits kGroupIntegral{0, 5000};
constexpr SimLimits kGroupDerivative{0, 9999};

} // namespace

std::span<const SimBlock> simReadableBlocks(SimTable table)
{
    switch (table) {
    case SimTable::Coils: return kCoilBlocks;
    case SimTable::DiscreteInputs: return kInputBitBlocks;
    case SimTable::InputRegisters: return kInputRegisterBlocks;
    case SimTable::HoldingRegisters: return kHoldingBlocks;
    }
    return {};
}

bool simIsReadable(SimTable table, int first, int count)
{
    if (count < 1)
        return false;
    for (const SimBlock& b : simReadableBlocks(table))
        if (first >= b.first && first + count <= b.first + b.count)
            return true;
    return false;
}

std::optional<SimLimits> simWritableLimits(int reg)
{
    for (const LimitRow& row : kLimits)
        if (row.reg == reg)
            return row.limits;
    const int segmentFirst = SimReg::segmentField(1, 1);
    const int segmentLast = SimReg::segmentField(SimReg::SegmentRows, 4);
    if (reg >= segmentFirst && reg <= segmentLast)
        return kSegmentLimits[(reg - segmentFirst) % 4];
    const int groupFirst = SimReg::groupField(1, 0);
    const int groupLast = SimReg::groupField(SimReg::PidGroups, 5);
    if (reg >= groupFirst && reg <= groupLast) {
        switch ((reg - groupFirst) % 6) {
        case 0: return kGroupBand;
        case 2: return kGroupIntegral;
        case 3: return kGroupDerivative;
        default: return std::nullopt; // offsets 1, 4, 5 are spares
        }
    }
    return std::nullopt;
}
