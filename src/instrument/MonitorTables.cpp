#include "MonitorTables.h"

#include <QCoreApplication>

#include <array>
#include <vector>

namespace MonitorTables {

namespace {

// Texts are looked up in the "MonitorTables" context where they are shown.

// The alarm frame keeps the instrument's two-row arrangement, columns as on
// the instrument's panel: top row (SV, shown in the value panel) alarm 1
// hysteresis, alarm 2 value, alarm 2 delay, break output; bottom row alarm 1
// value, alarm 1 delay, alarm 2 hysteresis, break alarm value, and under the
// break output's caption its entry box and button.
constexpr std::array<EditRow, 10> kEdits{{
    {0, "Command11", QT_TRANSLATE_NOOP("MonitorTables", "修改SV"), QT_TRANSLATE_NOOP("MonitorTables", "SV值"), "D_3W_2",
     1, -1999, 9999, 1, true, true, Place::ValuePanel, 0, 0},
    {256, "Command12", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警1值"),
     "D_4W_256", 257, -1999, 9999, 1, true, true, Place::AlarmFrame, 1, 0},
    {257, "Command13", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警1回差"),
     "D_4W_257", 258, 0, 1000, 1, true, true, Place::AlarmFrame, 0, 1},
    {258, "Command14", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警1延迟"),
     "D_4W_258", 259, 0, 600, 1, true, true, Place::AlarmFrame, 1, 1},
    {259, "Command15", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警2值"),
     "D_4W_259", 260, -1999, 9999, 1, true, true, Place::AlarmFrame, 0, 2},
    {260, "Command16", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警2回差"),
     "D_4W_260", 261, 0, 1000, 1, true, true, Place::AlarmFrame, 1, 2},
    {261, "Command17", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "报警2延迟"),
     "D_4W_261", 262, 0, 600, 1, true, true, Place::AlarmFrame, 0, 3},
    {262, "Command18", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "断线报警值"),
     "D_4W_262", 263, -1999, 9999, 1, true, true, Place::AlarmFrame, 1, 3},
    {263, "Command27", QT_TRANSLATE_NOOP("MonitorTables", "修改"), QT_TRANSLATE_NOOP("MonitorTables", "断线输出值"),
     "D_4W_263", 264, 0, 100, 10, true, true, Place::AlarmFrame, 0, 4, true},
    // The manual output stays sendable while the instrument is in manual
    // mode: its button is shown and hidden by the display tick only.
    {1, "Command25", QT_TRANSLATE_NOOP("MonitorTables", "手动OP"), nullptr, "D_3W_1", 2, 0, 100, 10, false, false,
     Place::ModePanel, 0, 0},
}};

constexpr std::array<AlarmTypeRow, 2> kAlarmTypeRows{{
    {"D_3W_6", 0, QT_TRANSLATE_NOOP("MonitorTables", "报警1无报警")},
    {"D_3W_7", 1, QT_TRANSLATE_NOOP("MonitorTables", "报警2无报警")},
}};

using C = StateColourChoice;
constexpr std::array<StateRow, 7> kStates{{
    {"D_1RW_0",
     QT_TRANSLATE_NOOP("MonitorTables", "手自动"),
     true,
     BitTable::Coil,
     1,
     {QT_TRANSLATE_NOOP("MonitorTables", "手动"), C::Unchanged},
     {QT_TRANSLATE_NOOP("MonitorTables", "自动"), C::Unchanged},
     StateEffect::ManualEntry},
    {"D_1RW_1",
     QT_TRANSLATE_NOOP("MonitorTables", "整定关"),
     true,
     BitTable::Coil,
     0,
     {QT_TRANSLATE_NOOP("MonitorTables", "整定关"), C::Quiet},
     {QT_TRANSLATE_NOOP("MonitorTables", "自整定开"), C::Active},
     StateEffect::None},
    {"D_1RW_2",
     QT_TRANSLATE_NOOP("MonitorTables", "手动禁止"),
     true,
     BitTable::Coil,
     2,
     {QT_TRANSLATE_NOOP("MonitorTables", "禁止手动"), C::Quiet},
     {QT_TRANSLATE_NOOP("MonitorTables", "允许手动"), C::Active},
     StateEffect::None},
    {"D_2R_0",
     QT_TRANSLATE_NOOP("MonitorTables", "报警一OFF"),
     true,
     BitTable::Input,
     0,
     {QT_TRANSLATE_NOOP("MonitorTables", "报警一OFF"), C::Quiet},
     {QT_TRANSLATE_NOOP("MonitorTables", "报警一ON"), C::Active},
     StateEffect::None},
    {"D_2R_1",
     QT_TRANSLATE_NOOP("MonitorTables", "报警二OFF"),
     true,
     BitTable::Input,
     1,
     {QT_TRANSLATE_NOOP("MonitorTables", "报警二OFF"), C::Quiet},
     {QT_TRANSLATE_NOOP("MonitorTables", "报警二ON"), C::Active},
     StateEffect::None},
    {"D_2R_2",
     QT_TRANSLATE_NOOP("MonitorTables", "报警二OFF"),
     false,
     BitTable::Input,
     2,
     {nullptr, C::Unchanged},
     {QT_TRANSLATE_NOOP("MonitorTables", "传感器开路"), C::Active},
     StateEffect::ShowWhenOn},
    {"D_2R_3",
     QT_TRANSLATE_NOOP("MonitorTables", "报警二OFF"),
     false,
     BitTable::Input,
     3,
     {nullptr, C::Unchanged},
     {QT_TRANSLATE_NOOP("MonitorTables", "传感器短路"), C::Active},
     StateEffect::ShowWhenOn},
}};

constexpr std::array<ModeRow, 3> kModes{{
    {0, "Command19", QT_TRANSLATE_NOOP("MonitorTables", "手动"), 2},     // automatic / manual
    {1, "Command20", QT_TRANSLATE_NOOP("MonitorTables", "自整定"), 1},   // self-tuning
    {2, "Command28", QT_TRANSLATE_NOOP("MonitorTables", "使能手动"), 3}, // manual operation permitted
}};

} // namespace

QString shown(const char* text) { return QCoreApplication::translate("MonitorTables", text); }

std::span<const ValueRow> valueRows()
{
    // One label a value: D_3W_<index> for the process values, D_4W_<index>
    // for the settings.
    static const std::vector<QByteArray> labels = [] {
        std::vector<QByteArray> out;
        for (const MonitorBlock::Value& v : MonitorBlock::values())
            out.push_back((v.block == MonitorBlock::Process ? QByteArray("D_3W_") : QByteArray("D_4W_"))
                          + QByteArray::number(v.index));
        return out;
    }();
    static const std::vector<ValueRow> rows = [] {
        std::vector<ValueRow> out;
        for (const MonitorBlock::Value& v : MonitorBlock::values())
            out.push_back(ValueRow{labels[out.size()].constData(), v.index, double(v.divisor), v.block});
        return out;
    }();
    return rows;
}
std::span<const EditRow> editRows() { return kEdits; }
std::span<const AlarmTypeRow> alarmTypeRows() { return kAlarmTypeRows; }
std::span<const StateRow> stateRows() { return kStates; }
std::span<const ModeRow> modeRows() { return kModes; }

const EditRow* editRowForBox(int box)
{
    for (const EditRow& row : kEdits)
        if (row.box == box)
            return &row;
    return nullptr;
}

const EditRow* editRowForRegister(int reg)
{
    for (const EditRow& row : kEdits)
        if (row.reg == reg)
            return &row;
    return nullptr;
}

EntryRule::Bounds bounds(const EditRow& row) { return EntryRule::Bounds{row.lower, row.upper, row.factor}; }

EntryRule::Verdict entryVerdict(QStringView text, const EditRow& row) { return EntryRule::read(text, bounds(row)); }

std::optional<qint32> entryToRegister(QStringView text, const EditRow& row) { return entryVerdict(text, row).value; }

int typeIndex(const AlarmTypeRow& row) { return MonitorBlock::alarms()[std::size_t(row.alarm)].typeIndex; }

std::optional<AlarmTypeShown> alarmTypeText(int alarm, qint32 type)
{
    const MonitorBlock::AlarmType* t = MonitorBlock::alarmType(type);
    if (!t || alarm < 0 || alarm > 1)
        return std::nullopt;
    return AlarmTypeShown{shown(alarm == 0 ? t->alarm1Text : t->alarm2Text), t->active};
}

bool stateIsOn(const StateRow& row, qint32 bit)
{
    return MonitorBlock::isOn(*MonitorBlock::bitOf(row.table, row.bit), bit);
}

bool stateIsOn(const StateRow& row, const LiveImage& image)
{
    return MonitorBlock::isOn(*MonitorBlock::bitOf(row.table, row.bit), image);
}

QString stateText(const StateRow& row, bool on)
{
    const char* text = (on ? row.on : row.off).text;
    return text ? shown(text) : QString();
}

} // namespace MonitorTables
