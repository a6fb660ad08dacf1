#include "MonitorBlock.h"

#include <QtGlobal>

#include <array>

namespace MonitorBlock {

namespace {

// Input register 2 is OP in tenths of a percent; the poll divides it, so
// Values[1] is in percent already. The set value is written to holding
// register 1 and polled as input register 3, the manual output written to
// holding register 2 shows as input register 2 (OP).
constexpr std::array<Value, 12> kValues{{
    {0, Process, 1, 0, 0, QT_TRANSLATE_NOOP("MonitorTables", "PV值"), nullptr, "pv", "pv", "PV"},
    {2, Process, 1, 1, 3, QT_TRANSLATE_NOOP("MonitorTables", "SV值"), nullptr, "sv", "sv", "SV"},
    {1, Process, 1, 2, 2, QT_TRANSLATE_NOOP("MonitorTables", "OP值"), nullptr, "op", "op_percent", "OP %"},
    {3, Process, 1, 0, 0, nullptr, nullptr, "aux", "aux", "aux"},
    {256, Settings, 1, 257, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警1值"), "alarm1", "value", nullptr, nullptr},
    {257, Settings, 1, 258, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警1回差"), "alarm1", "hysteresis", nullptr,
     nullptr},
    {258, Settings, 1, 259, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警1延迟"), "alarm1", "delay", nullptr, nullptr},
    {259, Settings, 1, 260, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警2值"), "alarm2", "value", nullptr, nullptr},
    {260, Settings, 1, 261, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警2回差"), "alarm2", "hysteresis", nullptr,
     nullptr},
    {261, Settings, 1, 262, 0, QT_TRANSLATE_NOOP("MonitorTables", "报警2延迟"), "alarm2", "delay", nullptr, nullptr},
    {262, Settings, 1, 263, 0, QT_TRANSLATE_NOOP("MonitorTables", "断线报警值"), "break", "value", nullptr, nullptr},
    {263, Settings, 10, 264, 0, QT_TRANSLATE_NOOP("MonitorTables", "断线输出值"), "break", "output", nullptr, nullptr},
}};

// The journal's words are its own (the window's labels say "报警一ON"), in
// the "JournalMessage" translation context.
constexpr std::array<Bit, 7> kBits{{
    {BitTable::Input, 0, BitTest::NonZero, "alarm1", "alarm 1", "alarm1", false, "alarm 1",
     QT_TRANSLATE_NOOP("JournalMessage", "报警1解除"), QT_TRANSLATE_NOOP("JournalMessage", "报警1")},
    {BitTable::Input, 1, BitTest::NonZero, "alarm2", "alarm 2", "alarm2", false, "alarm 2",
     QT_TRANSLATE_NOOP("JournalMessage", "报警2解除"), QT_TRANSLATE_NOOP("JournalMessage", "报警2")},
    {BitTable::Input, 2, BitTest::ExactlyOne, "sensor_open", "sensor open", "sensor_open", false, "sensor open",
     QT_TRANSLATE_NOOP("JournalMessage", "传感器开路解除"), QT_TRANSLATE_NOOP("JournalMessage", "传感器开路")},
    {BitTable::Input, 3, BitTest::ExactlyOne, "sensor_short", "sensor short", "sensor_short", false, "sensor short",
     QT_TRANSLATE_NOOP("JournalMessage", "传感器短路解除"), QT_TRANSLATE_NOOP("JournalMessage", "传感器短路")},
    {BitTable::Coil, 0, BitTest::NonZero, "self_tuning", "self-tuning", "tuning", false, "coil 1",
     QT_TRANSLATE_NOOP("JournalMessage", "自整定关"), QT_TRANSLATE_NOOP("JournalMessage", "自整定开")},
    {BitTable::Coil, 1, BitTest::NonZero, "automatic", "mode", "manual", true, "coil 2",
     QT_TRANSLATE_NOOP("JournalMessage", "手动"), QT_TRANSLATE_NOOP("JournalMessage", "自动")},
    {BitTable::Coil, 2, BitTest::NonZero, "manual_permitted", "manual", nullptr, false, "coil 3",
     QT_TRANSLATE_NOOP("JournalMessage", "禁止手动"), QT_TRANSLATE_NOOP("JournalMessage", "允许手动")},
}};

constexpr std::array<Alarm, 2> kAlarms{{
    {"alarm1", 13, 256},
    {"alarm2", 14, 259},
}};

constexpr std::array<AlarmType, 7> kAlarmTypes{{
    {"none", QT_TRANSLATE_NOOP("MonitorTables", "无报警"), QT_TRANSLATE_NOOP("MonitorTables", "无报警"), false},
    {"high", QT_TRANSLATE_NOOP("MonitorTables", "报警1上限报警"), QT_TRANSLATE_NOOP("MonitorTables", "报警2上限报警"),
     true},
    {"low", QT_TRANSLATE_NOOP("MonitorTables", "报警1下限报警"), QT_TRANSLATE_NOOP("MonitorTables", "报警2下限报警"),
     true},
    {"deviation_high", QT_TRANSLATE_NOOP("MonitorTables", "报警1上偏差报警"),
     QT_TRANSLATE_NOOP("MonitorTables", "报警2上偏差报警"), true},
    {"deviation_low", QT_TRANSLATE_NOOP("MonitorTables", "报警1下偏差报警"),
     QT_TRANSLATE_NOOP("MonitorTables", "报警2下偏差报警"), true},
    {"deviation_band", QT_TRANSLATE_NOOP("MonitorTables", "报警1偏差带报警"),
     QT_TRANSLATE_NOOP("MonitorTables", "报警2偏差带报警"), true},
    {"sensor_break", QT_TRANSLATE_NOOP("MonitorTables", "报警1断线报警"),
     QT_TRANSLATE_NOOP("MonitorTables", "报警2断线报警"), true},
}};

} // namespace

std::span<const Value> values() { return kValues; }

const Value* valueAt(int index)
{
    for (const Value& v : kValues)
        if (v.index == index)
            return &v;
    return nullptr;
}

const Value* valueWritten(int holding)
{
    for (const Value& v : kValues)
        if (v.written != 0 && v.written == holding)
            return &v;
    return nullptr;
}

std::span<const Bit> bits() { return kBits; }

const Bit* bitOf(BitTable table, int bit)
{
    for (const Bit& b : kBits)
        if (b.table == table && b.bit == bit)
            return &b;
    return nullptr;
}

bool isOn(const Bit& bit, qint32 value) { return bit.test == BitTest::NonZero ? value != 0 : value == 1; }

qint32 rawBit(const Bit& bit, const LiveImage& image)
{
    return (bit.table == BitTable::Coil ? image.CoilBits : image.InputBits)[std::size_t(bit.bit)];
}

bool isOn(const Bit& bit, const LiveImage& image) { return isOn(bit, rawBit(bit, image)); }

std::span<const Alarm> alarms() { return kAlarms; }

const AlarmType* alarmType(qint32 code)
{
    if (code < 0 || code >= qint32(kAlarmTypes.size()))
        return nullptr;
    return &kAlarmTypes[std::size_t(code)];
}

} // namespace MonitorBlock
