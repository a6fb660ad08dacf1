#pragma once

// What the main window's display tick needs from the real-time trend. The
// trend widget implements it through a small adapter; tests may use a fake.
class LiveTrend {
public:
    virtual ~LiveTrend() = default;
    // While the ruler is on its readout owns the PV/OP/SV labels and the
    // trend's clock labels.
    virtual bool rulerOn() const = 0;
    // The trend's clock labels back on their own colour.
    virtual void restoreReadoutColours() = 0;
    // The PV/SV scale labels from the shared Y scale.
    virtual void updateYAxisLabels() = 0;
    // A sample the recorder has just stored, appended to the live page (the
    // trend starts a new live page when its run-on area is full).
    virtual void appendLiveSample(float pv, float op, float sv) = 0;
};
