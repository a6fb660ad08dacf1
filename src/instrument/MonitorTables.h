#pragma once
#include "EntryRule.h"
#include "MonitorBlock.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>
#include <span>

// What the main window shows and writes, as tables: one row per label, entry
// row or mode switch. The panels build their widgets from these rows, the
// display tick fills them from the LiveImage, and the operator commands send
// from them; no label or button has a handler of its own.
namespace MonitorTables {

// A value label and the LiveImage element it shows (MonitorBlock::values()).
struct ValueRow {
    const char* label;         // objectName
    int index;                 // LiveImage::Values index
    double divisor;            // the instrument keeps some values in tenths
    MonitorBlock::Block block; // the read that fills it
};
std::span<const ValueRow> valueRows();

// Where an entry row sits on the window.
enum class Place {
    ValuePanel, // the set value, top left beside PV and OP
    AlarmFrame, // the alarm and break settings frame
    ModePanel,  // the manual output, beside the mode labels
};

// Table texts are UTF-8 Chinese, the source text of the "MonitorTables"
// translation context: widgets show them through shown().
QString shown(const char* text);

// One entry box, the button that sends it and what is written.
struct EditRow {
    int box;            // T_3RW index (objectName "T_3RW_<box>")
    const char* button; // objectName of the send button
    const char* buttonText;
    const char* caption;    // row caption; null for the manual output box
    const char* valueLabel; // label showing the instrument's current value
    int reg;                // holding register written
    double lower, upper;    // accepted input, inclusive, tested before scaling
    int factor;             // percent rows are written in tenths
    bool revealOnFocus;     // focusing the box shows the button
    bool hideAfterSend;     // a sent row hides its button again
    Place place;
    int gridRow, gridColumn; // cell in the alarm frame
    bool entryBelow = false; // box and button sit in the row below the caption
};
std::span<const EditRow> editRows();
const EditRow* editRowForBox(int box);
const EditRow* editRowForRegister(int reg); // the row that writes holding register `reg`

// The register value an entry sends, or the reason it is refused, by the
// station's entry rule (EntryRule.h) with the row's bounds and factor.
EntryRule::Bounds bounds(const EditRow& row);
EntryRule::Verdict entryVerdict(QStringView text, const EditRow& row);
// The value alone; nothing when the entry is refused.
std::optional<qint32> entryToRegister(QStringView text, const EditRow& row);

// The alarm type labels D_3W_6 (alarm 1) and D_3W_7 (alarm 2).
struct AlarmTypeRow {
    const char* label;
    int alarm; // 0 for alarm 1, 1 for alarm 2
    const char* initialText;
};
// LiveImage::HoldingRegs index of the row's type parameter (MonitorBlock::alarms()).
int typeIndex(const AlarmTypeRow& row);
std::span<const AlarmTypeRow> alarmTypeRows();

struct AlarmTypeShown {
    QString text;
    bool active; // set alarm types are shown on the active colour
};
// Text for alarm `alarm` (0 or 1) of type `type`; nothing for types the
// instrument does not define, which leave the label as it was.
std::optional<AlarmTypeShown> alarmTypeText(int alarm, qint32 type);

// Mode and alarm-output state labels, each showing one bit of
// MonitorBlock::bits() (which says when it counts as on).
using MonitorBlock::BitTable;
enum class StateColourChoice { Unchanged, Quiet, Active };
enum class StateEffect {
    None,
    ManualEntry, // the manual output box and button are shown while off (manual mode)
    ShowWhenOn,  // the label itself is shown only while on
};
struct StateShown {
    const char* text; // null: text unchanged
    StateColourChoice colour;
};
struct StateRow {
    const char* label;
    const char* initialText;
    bool initiallyVisible;
    BitTable table;
    int bit; // index into CoilBits / InputBits
    StateShown off, on;
    StateEffect effect;
};
// In the order the display tick applies them.
std::span<const StateRow> stateRows();
// `bit` is the row's element of CoilBits or InputBits.
bool stateIsOn(const StateRow& row, qint32 bit);
// The row's wording for the state; empty where the label shows nothing of
// its own (a sensor fault that is not there).
QString stateText(const StateRow& row, bool on);
// Same, looked up in a polled image (the LiveImage: CoilBits, InputBits).
bool stateIsOn(const StateRow& row, const LiveImage& image);

// Mode switches: double-click on the label reveals the button; one click
// toggles the coil once.
struct ModeRow {
    int label;          // D_1RW index
    const char* button; // objectName
    const char* buttonText;
    int coil; // coil number written; its polled state is CoilBits[coil - 1]
};
std::span<const ModeRow> modeRows();

} // namespace MonitorTables
