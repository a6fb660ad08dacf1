#pragma once
#include "FopdtFit.h"
#include "LinkTypes.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// Where the step test's writes go. The station's implementation is its one
// instrument write path (bounds checks, journal); tests record the calls.
// `done` gets whether the instrument answered; it may run inside write().
class InstrumentWriter {
public:
    using Done = std::function<void(bool answered)>;
    virtual ~InstrumentWriter() = default;
    virtual void write(const WriteRequest& request, const QString& why, Done done) = 0;
};

// An open-loop output step, guided: the instrument goes to manual holding the
// present output, is stepped after a short baseline once a read shows it in
// manual, recorded, and put back to its previous mode and output at the end,
// on stop, when the PV leaves the operator's band, or when the link drops.
//
// The restore is not done until the instrument has answered it: a write that
// fails is sent again at the next sample (a read that came back means the
// line answers), and the mode is switched back only once a read shows the
// output restored, so automatic starts from that output.
//
// The owner feeds samples (time in seconds, any cadence, with the mode read)
// and reports a lost link; the test moves on from those and the writes'
// answers alone, so it runs the same against the instrument, the simulator
// at any speed, or a fake.
class StepTest {
public:
    static constexpr int kManualOutputRegister = 2; // tenths of a percent
    static constexpr int kAutomaticCoil = 2;
    static constexpr int kManualPermittedCoil = 3;
    // How long a read may take to show manual after the switch was answered.
    static constexpr double kManualWaitS = 10.0;
    // How long a read may take to show the restored output before the mode
    // is switched back regardless.
    static constexpr double kOutputSettleS = 5.0;

    enum class State { Idle, Baseline, Stepped, Finished, Aborted };
    enum class Abort { None, Stopped, OutOfBand, LinkLost, NotManual, WriteFailed };

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
        bool manualPermitted = true;
    };

    explicit StepTest(InstrumentWriter& writer) : writer_(writer) {}

    // Starts the test at time `now`; refuses (returns the reason, nothing
    // written) when a test runs or its restore is still due, manual is not
    // permitted, the step is 0, the stepped output would leave 0..100 %, or
    // the PV is already outside the band.
    QString start(const Settings& settings, const Present& present, double now);

    // A read that came back: PV, output and whether the instrument is in automatic.
    void sample(double t, double pv, double op, bool automatic);
    void stop() { abort(Abort::Stopped); }
    void linkLost() { abort(Abort::LinkLost); }
    // The owner goes away and no answer will reach it: what the restore
    // still has to write is sent at once, output then mode, unanswered.
    void sendRestoreAtOnce();

    State state() const { return state_; }
    Abort abortReason() const { return abort_; }
    bool running() const { return state_ == State::Baseline || state_ == State::Stepped; }
    // The test has ended but the instrument is not yet back in its mode at its output.
    bool restorePending() const { return restore_ != Restore::Done; }
    const std::vector<TimedSample>& samples() const { return samples_; }
    const Settings& settings() const { return settings_; }

    // Runs whenever the state or the restore's progress changes.
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

    static QString abortText(Abort reason);

private:
    // The tests feed reads that follow the step as the plant would.
    friend class TestTuning;
    friend class TestTuningE2e;
    double stepTime() const { return stepTime_; }

    enum class Restore { Done, Output, Settling, Mode };

    void writeOutput(double percent, const QString& why, InstrumentWriter::Done done);
    void abort(Abort reason);
    void beginRestore(double now);
    void advanceRestore(double now, std::optional<double> op);
    void sendRestore();
    void notify();

    InstrumentWriter& writer_;
    Settings settings_;
    Present before_;
    State state_ = State::Idle;
    Abort abort_ = Abort::None;
    double startTime_ = 0.0;
    double stepTime_ = 0.0;
    double lastTime_ = 0.0;
    bool manualSeen_ = false;
    bool stepSent_ = false;
    std::vector<TimedSample> samples_;

    Restore restore_ = Restore::Done;
    bool restoreInFlight_ = false;
    bool restoreFailed_ = false; // the last restore write went unanswered: send it again
    double settleSince_ = 0.0;
    std::optional<double> lastOp_;
    quint64 generation_ = 0; // answers of an earlier test's writes do not speak for this one
    std::function<void()> observer_;
};
