#pragma once
#include <QtGlobal>
#include <array>

// One trend window's samples. Slots are filled from 1 upwards, oldest first;
// slot 0 stays 0 and is the "previous sample" of slot 1. A live page fills
// 1..241 and live samples run on up to 321; a paged view fills 1..321.
// Fixed arrays: appending a sample never allocates.
constexpr int kTrendSlots = 323;    // slots 0..322
constexpr int kTrendChannels = 25;  // 0 PV, 1 OP (percent), 2 SV; the rest stay 0
constexpr int kLivePageSize = 241;  // samples of a live page; slot of its newest sample
constexpr int kPagedPageSize = 321; // samples of a paged view
// Gap threshold in days: a little under five minutes.
constexpr double kGapThreshold = 0.00347222;

struct TrendBuffer {
    std::array<double, kTrendSlots> sampleDate{};                              // SampleDate: OLE day number
    std::array<double, kTrendSlots> sampleTime{};                              // SampleTime: fraction of a day
    std::array<std::array<float, kTrendSlots>, kTrendChannels> channelValue{}; // ChannelValue[channel][slot]
    std::array<qint16, kTrendSlots> gapMark{}; // GapMark: the slot's own index after a gap, else 0

    enum Channel { PV = 0, OP = 1, SV = 2 };
};
