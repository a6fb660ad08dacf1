#pragma once
#include <QString>

// Shortest plain decimal text of a single-precision value (at most 7
// significant digits, no trailing zeros, no leading blank): 1234 -> "1234",
// 45.6f -> "45.6", -25 -> "-25".
QString singleText(float value);

// Same for a double-precision value (at most 15 significant digits):
// 455 / 10.0 -> "45.5".
QString doubleText(double value);

// Shortest text that reads back as exactly the stored value, for data that
// leaves the station (CSV): a value a float holds exactly is written as that
// float's shortest text (45.6f -> "45.6", not "45.59999847"), any other
// double as the double's (0.1 -> "0.1"). Exponent form only where it is
// shorter (1e+20). Writes into [first, last) and returns the end, or nullptr
// when the space (32 bytes always suffice) is too small.
char* appendExactText(char* first, char* last, double value);
QString exactText(double value);

// The double written as the float's shortest exact text (45.6f -> 45.6, not
// 45.599998474121094), for JSON, whose writer prints a double's own shortest
// text. Non-finite values come back unchanged.
double jsonNumber(float value);
