#pragma once
#include <QtGlobal>
#include <optional>

// Entries are rounded to the nearest integer with halves going to the even
// neighbour (12.5 -> 12, 13.5 -> 14). Values that do not fit the target type
// (or are not finite) give no result, so callers can refuse them.
std::optional<qint32> roundHalfEven32(double value);
std::optional<qint16> roundHalfEven16(double value);

// Half-to-even rounding for geometry, where the value is known to be small.
int roundHalfEven(double value);
