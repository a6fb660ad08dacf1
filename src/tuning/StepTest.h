#pragma once
#include "FopdtFit.h"
#include "LinkTypes.h"

#include <QString>

#include <vector>

// Where the step test's writes go. The station's implementation is its one
// instrument write path (bounds checks, journal); tests record the calls.
class InstrumentWriter {
public:
    virtual ~InstrumentWriter() = default;
    virtual void write(const WriteRequest& request, const QString& why) = 0;
};

// An open-loop output step, guided: the instrument goes to manual holding the
// present output, is stepped after a short baseline, recorded, and put back
// to its previous mode and output at the end, on stop, when the PV leaves
// the operator's band, or when the link drops.
//
// The owner feeds samples (time in seconds, any cadence) and reports a lost
// link; the test moves on from those alone, so it runs the same against the
// instrument, the simulator at any speed, or a fake.
class StepTest {
public:
    static constexpr int kManualOutputRegister = 2; // tenths of a percent
    static constexpr int kAutomaticCoil = 2;

    enum class State { Idle, Baseline, Stepped, Finished, Aborted };
    enum class Abort { None, Stopped, OutOfBand, LinkLost };

    struct Settings {
        double stepPercent = 10.0; // signed
        double baselineS = 30.0;   // held output before the step
        double durationS = 900.0;  // recorded after the step
        double bandLow = -1999.0;  // PV limits, instrument units
        double bandHigh = 9999.0;
    };
    struct Present {
        bool automatic = true;
        double outputPercent = 0.0;
        double pv = 0.0;
    };

    explicit StepTest(InstrumentWriter& writer) : writer_(writer) {}

    // Starts the test at time `now`; refuses (returns the reason, nothing
    // written) when a test runs, the step is 0, the stepped output would
    // leave 0..100 %, or the PV is already outside the band.
    QString start(const Settings& settings, const Present& present, double now);

    void sample(double t, double pv, double op);
    void stop() { abort(Abort::Stopped); }
    void linkLost() { abort(Abort::LinkLost); }

    State state() const { return state_; }
    Abort abortReason() const { return abort_; }
    bool running() const { return state_ == State::Baseline || state_ == State::Stepped; }
    const std::vector<TimedSample>& samples() const { return samples_; }
    const Settings& settings() const { return settings_; }
    double stepTime() const { return stepTime_; }

    static QString abortText(Abort reason);

private:
    void writeOutput(double percent, const QString& why);
    void abort(Abort reason);
    void restore();

    InstrumentWriter& writer_;
    Settings settings_;
    Present before_;
    State state_ = State::Idle;
    Abort abort_ = Abort::None;
    double startTime_ = 0.0;
    double stepTime_ = 0.0;
    std::vector<TimedSample> samples_;
};
