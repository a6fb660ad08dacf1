#pragma once
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <optional>

// How an operator's text becomes a register value, the same for every entry
// box of every window and for the command line: the numeric-prefix rule
// reads the number, the bounds are tested on the number as typed (600.4 is
// above 600 although it would round to 600), then the number is scaled by
// the field's factor and rounded half to even.
//
// Every register of the instrument is a signed 16-bit word, so the written
// bounds are narrowed to what still fits after scaling: a tenths field with
// an upper bound of 9999 takes at most 3276.7 (32767). A value that would
// wrap around on the wire is refused like any out-of-range entry.
namespace EntryRule {

inline constexpr qint32 kRegisterMin = -32768;
inline constexpr qint32 kRegisterMax = 32767;

struct Bounds {
    double lower = 0; // inclusive, in the units the operator types
    double upper = 0;
    int factor = 1; // 10 for values the instrument holds in tenths
};

// The written bounds narrowed to what a signed 16-bit register can hold
// after scaling.
Bounds effective(Bounds written);

// "超出范围 -1999 ~ 3276.7": the effective bounds, as the operator is told.
QString refusalText(Bounds written);
// "超出范围 lower ~ upper", the one wording of every range refusal.
QString outOfRangeText(double lower, double upper);

struct Verdict {
    std::optional<qint32> value; // the register value; empty when refused
    QString refusal;             // why it was refused; empty when accepted
    bool accepted() const { return value.has_value(); }
};

// "不是数值": the refusal of a text that starts with no number ("", "abc",
// "-", "nan"), which is never written as 0.
QString noNumberText();

// A verdict that refuses with `reason`, and one that accepts `value`.
Verdict refused(QString reason);
Verdict accepted(qint32 value);

// The whole rule for one typed text. A number no double can hold ("1e400")
// is refused like an out-of-range one, a text without a number as such.
Verdict read(QStringView text, Bounds written);

} // namespace EntryRule
