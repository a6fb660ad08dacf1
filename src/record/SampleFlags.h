#pragma once

// How the recorder tells the trend windows that it stored a sample. The
// flags are raised only while a trend window is loaded (trendLinkEnabled).
struct SampleFlags {
    bool trendLinkEnabled = false; // TrendLinkEnabled
    bool newSample = false;        // NewSampleFlag
    bool newLongSample = false;    // NewLongSampleFlag
};
