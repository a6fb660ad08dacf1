#pragma once
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The PV/SV scale shared by both trend windows: span (top minus bottom) and
// bottom. The span is 1500 from start-up until the operator sets a range.
struct TrendScale {
    qint16 span = 1500; // TrendSpan
    qint16 bottom = 0;  // TrendBottom
};

// The Y-range editor's rule ("修改Y"): maximum and minimum read from their
// boxes by the numeric-prefix rule; a maximum outside -2300..12000, a minimum
// outside -2400..11900 or above the maximum is refused. Bottom and span are
// the minimum and the difference, rounded half to even. Equal entries are
// accepted and give a zero span.
std::optional<TrendScale> trendScaleFromEntries(QStringView maxText, QStringView minText);
