#include "TrendStyle.h"

const TrendStyle& TrendStyle::realTime()
{
    static const TrendStyle style{
        HistoryRing::Short,
        QColor(192, 255, 255), // background
        QColor(255, 128, 255), // grid
        QColor(255, 255, 0),   // gap marker
        QColor(0, 192, 0),     // SV
        QColor(255, 0, 0),     // PV
        QColor(0, 0, 255),     // OP
        1,
        true,
        true,
    };
    return style;
}

const TrendStyle& TrendStyle::history()
{
    static const TrendStyle style{
        HistoryRing::Long,
        QColor(192, 255, 192),
        QColor(0, 0, 192),
        QColor(255, 255, 0),
        QColor(0, 128, 0),
        QColor(255, 0, 0),
        QColor(0, 0, 255),
        10,
        false,
        // Printing was never wired up in this window; it costs nothing to
        // offer it here as well.
        true,
    };
    return style;
}
