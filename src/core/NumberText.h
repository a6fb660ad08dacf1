#pragma once
#include <QString>

// Shortest plain decimal text of a single-precision value (at most 7
// significant digits, no trailing zeros, no leading blank): 1234 -> "1234",
// 45.6f -> "45.6", -25 -> "-25".
QString singleText(float value);

// Same for a double-precision value (at most 15 significant digits):
// 455 / 10.0 -> "45.5".
QString doubleText(double value);
