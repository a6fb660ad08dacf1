#pragma once
#include <QString>

#include <span>
#include <vector>

// First order plus dead time, the process model the tuning rules start from:
//   τ dy/dt = -y + K u(t - θ)
// y in the instrument's PV units, u (the output) in percent.
struct FopdtModel {
    double gain = 0.0;         // K, PV units per percent
    double timeConstant = 0.0; // τ, s
    double deadTime = 0.0;     // θ, s
};

struct FopdtFit {
    enum class Verdict {
        Good,
        PoorFit,       // R² below kMinR2
        SmallStep,     // the modelled response is small against the residual noise
        NoInputChange, // the output never moved: nothing to identify
        TooFewSamples,
        StaleStretch,    // PV and output held still, then PV jumped: rows repeated while the link was lost
        BelowResolution, // the PV moved only a few steps of its resolution
        DeadTimeAtLimit, // the best dead time is the longest searched: no response seen
        TooShort,        // the record after the step is short against the fitted response
    };

    Verdict verdict = Verdict::TooFewSamples;
    FopdtModel model;
    double r2 = 0.0;
    double residualRms = 0.0;  // PV units
    double responseSpan = 0.0; // PV units the output's moves account for
    double resolution = 0.0;   // smallest PV change in the record, PV units
    // StaleStretch: where (s from the start) and how long; TooShort: how long
    // the record after the step is and must be.
    double detailAt = 0.0;
    double detailLength = 0.0;
    std::vector<double> modelPv; // the model's PV at every sample, for the chart

    bool usable() const { return verdict == Verdict::Good; }
};

namespace Fopdt {

constexpr double kMinR2 = 0.9;
// The output's effect must stand this far above the residual noise (RMS).
constexpr double kMinSignalToNoise = 10.0;
constexpr int kMinSamples = 20;
// Rows repeated this long and then left by a PV jump of more than two steps
// of the PV's resolution are not measurements.
constexpr int kStaleRunSamples = 15;
// The PV must move at least this many steps of its resolution.
constexpr double kMinResolutionSteps = 10.0;
// After the step the record must cover the dead time and this many time constants.
constexpr double kMinTimeConstantsAfterStep = 2.0;

// Least-squares fit of PV against OP, both sampled every `period` seconds.
// The start need not be settled: a decaying free response with the model's
// own time constant is fitted alongside, and the output before the first
// sample is taken to equal the first. The dead time is found in whole
// samples, the gain and time constant continuously.
FopdtFit fit(std::span<const double> pv, std::span<const double> op, double period);

QString verdictText(FopdtFit::Verdict verdict); // Chinese, for the window and the command line
QString verdictText(const FopdtFit& fit);       // with the stretch or the length needed

} // namespace Fopdt

// Samples taken at irregular moments (a poll every half second, timestamps
// in seconds) put on a regular grid: each grid point takes the latest sample
// at or before it, as the recorder does.
struct TimedSample {
    double t = 0.0;
    double pv = 0.0;
    double op = 0.0;
};

struct RegularSeries {
    double period = 1.0;
    double start = 0.0;
    std::vector<double> pv;
    std::vector<double> op;
};

RegularSeries resample(std::span<const TimedSample> samples, double period);
