#pragma once
#include <QStringView>

// How every entry box and choice entry of the station turns its text into a
// number: leading blanks skipped, blanks between digits ignored, an optional
// sign, digits, decimal point and exponent taken as far as they go, "&H" and
// "&O" for hexadecimal and octal integers; the first other character ends the
// number and a text without a number reads as 0 ("12abc" -> 12, "" -> 0).
// Full-width digits, signs and points (what an input method in full-width
// mode types) read as their ASCII forms. Independent of the C locale.
struct NumericPrefix {
    double value = 0.0;
    // False when the text holds a number that a double cannot represent
    // ("1e400"); callers treat that like an out-of-range entry.
    bool representable = true;
    // False when the text starts with no number at all ("", "abc", "-",
    // "nan"); an operator's entry is then refused, never written as 0.
    bool found = true;
};

NumericPrefix parseNumericPrefix(QStringView text);

// Shorthand when the caller only needs the value (0 for unrepresentable text).
double numericPrefix(QStringView text);
