#pragma once
#include "EntryRule.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <span>
#include <string_view>

// The instrument's configuration block: 39 parameters in the consecutive
// holding registers 4097..4135. One constant row per parameter drives the
// value labels, the editors and the write rules of the configuration window;
// this file holds no widgets so the rules can be checked on their own.

namespace ParamTable {

constexpr int kCount = 39;
constexpr int kFirstRegister = 4097; // parameter i lives in register 4097 + i

enum class Page { Input, Output, Alarm, Comm, Return, Pid };

enum class Encoding {
    Enumeration,  // small code, shown through displayTexts
    OptionPair,   // code 0/1, shown through displayTexts, edited with two options
    Integer,      // plain decimal integer
    Tenths,       // register = 10 x shown value
    DecimalPoint, // code 0..3 shown as "0000", "001.0", "02.00", "3.000"
    Filter,       // tenths shown with the pattern "00.0"
};

enum class Editor { Choice, Options, NumberBox };

using Texts = std::span<const std::u16string_view>;

struct ParamDef {
    int index;
    int address;
    Page page;
    std::u16string_view caption;
    Encoding encoding;
    Editor editor;
    std::u16string_view editorName; // objectName of the combo box, number box or option pair
    std::u16string_view frameName;  // frame holding an option pair; empty otherwise
    // Number boxes: inclusive bounds of the typed number, in shown units
    // (checked before scaling). Choices and options: the codes offered.
    double minimum;
    double maximum;
    Texts displayTexts;                         // per code; empty for numeric encodings
    Texts entries;                              // choice-list entries, byte for byte
    std::array<std::u16string_view, 2> options; // option captions (code 0, code 1)
    // Writing this parameter also writes parameter `linkedIndex` with
    // linkedValues[code written] (output 1 type sets the control cycle time).
    int linkedIndex;
    std::span<const qint32> linkedValues;
};

const ParamDef& param(int index); // 0..38; asserts on anything else
std::span<const ParamDef> all();

QString pageCaption(Page page); // "Input ", "Output", "Alarm", "Comm", "Return", "PID"

// Row order on a tab page, top to bottom, per column.
struct PageLayout {
    Page page;
    std::span<const int> left;
    std::span<const int> right;
};
std::span<const PageLayout> pageLayouts(); // in tab order

// Parameter indices of the choice lists in the order the window fills them.
std::span<const int> choiceFillOrder();

QString text(std::u16string_view view); // as it stands: object names, codes
// A caption, option, entry or display text as the operator reads it: through
// the "ParamTable" translation context, the Chinese itself when none is loaded.
QString shown(std::u16string_view view);
// Every Chinese text of the table, as marked for the translation tools.
std::span<const char* const> translatableTexts();

// Text the value label shows for a register value; nullopt when the code has
// no text (the label keeps what it showed).
std::optional<QString> displayText(int index, qint32 value);
// Same, resolved against what the label shows now.
QString displayText(int index, qint32 value, const QString& previousText);

// What the editor's state writes to the parameter's register; nullopt means
// the entry is refused (out of bounds, not representable, wrong editor kind).
struct ChoiceEntry {
    int entry;
};
struct OptionChoice {
    int option;
};
std::optional<qint32> valueToWrite(int index, ChoiceEntry choice);
std::optional<qint32> valueToWrite(int index, OptionChoice option);
std::optional<qint32> valueToWrite(int index, QStringView boxText); // number boxes only

// Bounds and factor of a number box's entry; nothing for other editors.
std::optional<EntryRule::Bounds> bounds(int index);
// Any parameter given as text, with the reason when it is refused: a number
// box by the entry rule, a choice by the leading number of one of its entries
// (the code, or the filter's value "0.7"), an option pair by 0 or 1.
EntryRule::Verdict entryVerdict(int index, QStringView text);

// The second write that follows writing `written` to parameter `index`.
struct LinkedWrite {
    int address;
    qint32 value;
};
std::optional<LinkedWrite> linkedWrite(int index, qint32 written);

} // namespace ParamTable

// The register image of the configuration block: element k holds the value
// last read from register 4097 + k (k = 0..39; 39 is read with the last block
// but never shown). Owned by the application so that it keeps its contents
// from one opening of the window to the next.
struct ParamRegs {
    static constexpr int kSize = 101;
    std::array<qint32, kSize> values{};

    qint32& operator[](int k) { return values.at(std::size_t(k)); }
    qint32 operator[](int k) const { return values.at(std::size_t(k)); }
};
