#pragma once
#include <QColor>

// The station's small fixed palette.
namespace StateColour {
inline QColor quiet() { return QColor(0xC0, 0xFF, 0xFF); }   // off / normal
inline QColor active() { return QColor(0xFF, 0xC0, 0xC0); }  // on / alarm
inline QColor value() { return QColor(0xFF, 0xC0, 0xFF); }   // PV, OP, SV labels
inline QColor clock() { return QColor(0x80, 0xFF, 0x80); }   // trend date and time labels
inline QColor focus() { return QColor(0xFF, 0xFF, 0xC0); }   // focused entry box
inline QColor readout() { return QColor(0xFF, 0xFF, 0x00); } // ruler readout
inline QColor white() { return QColor(0xFF, 0xFF, 0xFF); }
inline QColor stale() { return QColor(0xD0, 0xD0, 0xD0); } // values no longer confirmed by the instrument
} // namespace StateColour
