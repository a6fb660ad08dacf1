#pragma once
#include <QtGlobal>
#include <array>

// What the polling cycle last read from the instrument. Zero at start, never
// cleared; written only by the polling cycle, on the GUI thread.
struct LiveImage {
    std::array<float, 301> Values{};       // 0 PV, 1 OP %, 2 SV, 3 aux; 256..263 alarm/break settings
    std::array<qint32, 501> InputRegs{};   // input registers 1..8 -> 0..7
    std::array<qint32, 501> HoldingRegs{}; // 257..264 -> 256..263; 4114..4121 -> 13..20
    std::array<qint32, 101> InputBits{};   // discrete inputs 1..4 -> 0..3
    std::array<qint32, 101> CoilBits{};    // coils 1..3 -> 0..2
};
