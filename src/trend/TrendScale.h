#pragma once
#include <QtGlobal>

// The PV/SV scale shared by both trend windows: span (top minus bottom) and
// bottom. The span is 1500 from start-up until the operator sets a range.
struct TrendScale {
    qint16 span = 1500;  // TrendSpan
    qint16 bottom = 0;   // TrendBottom
};
