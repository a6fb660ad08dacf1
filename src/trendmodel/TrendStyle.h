#pragma once
#include "HistoryTypes.h"

#include <QColor>

// What differs between the real-time trend of the main window and the
// long-period trend of the history window. Everything else (buffer, routines,
// navigation) is shared.
struct TrendStyle {
    HistoryRing ring = HistoryRing::Short;
    QColor background;
    QColor grid;
    QColor gapMarker;
    QColor sv;
    QColor pv;
    QColor op;
    // The live view's time labels 7 and 8 lie this many times d (= ten
    // samples' worth of seconds at zoom 1 on the one-second ring) beyond the
    // newest sample of the page.
    int extrapolationFactor = 1;
    // The history window's Y editor has no minimum box: its hidden text "0"
    // makes every range set there start at 0.
    bool yMinBoxShown = true;
    // F3 prints / exports the window.
    bool printKey = true;

    static const TrendStyle& realTime(); // main window, one-second history
    static const TrendStyle& history();  // history window, ten-second history
};
