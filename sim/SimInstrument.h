#pragma once
#include "SimRegisterMap.h"

#include <QtGlobal>

#include <array>
#include <deque>
#include <optional>
#include <span>
#include <vector>

// The simulated controller and its heated process, stepped in simulated time.
// No I/O and no clock: the owner calls advance() with the simulated seconds
// that have passed, which keeps it deterministic for tests.
//
// Process: first order with dead time, driven by the output (heating with
// reverse action, cooling with direct action), ambient 25 °C, small
// measurement noise. The instrument scans every 0.5 s: measure, select the
// segment, control, alarms, then publish the input registers.
// The heated process: steady-state rise per percent output, time constant
// and dead time. Tests vary it to exercise tuning against different plants.
struct SimPlant {
    double gain = 5.0;           // °C of steady-state rise per percent output
    double timeConstant = 300.0; // s, above 0
    double deadTime = 10.0;      // s, 0 or more; carried in whole plant steps
};

class SimInstrument {
public:
    enum class SensorFault { None, Open, Short };

    static constexpr double kAmbient = 25.0;       // °C
    static constexpr double kPlantStep = 0.1;      // s of simulated time per integration step
    static constexpr double kScanPeriod = 0.5;     // s between two control scans
    static constexpr double kTuneTimeout = 7200.0; // s before an unfinished self-tune gives up

    explicit SimInstrument(quint32 seed = 1, SimPlant plant = {});

    const SimPlant& plant() const { return plant_; }

    // Register access in the station's numbering. Reads fill `out` (bits as
    // 0/1); a read outside one readable block or a write to an unmapped or
    // read-only register gives IllegalAddress, a value outside its limits
    // IllegalValue. A rejected write changes nothing.
    SimException read(SimTable table, int first, int count, std::span<quint16> out) const;
    SimException writeRegisters(int first, std::span<const qint16> values);
    SimException writeCoils(int first, std::span<const bool> values);

    qint16 holding(int reg) const;

    // Accepted holding-register writes, oldest first (register, value), so a
    // test can see what a master wrote and in which order. Keeps the last
    // kWriteLogSize.
    static constexpr std::size_t kWriteLogSize = 4096;
    const std::deque<std::pair<int, qint16>>& writeLog() const { return writeLog_; }
    void clearWriteLog() { writeLog_.clear(); }
    qint16 input(int reg) const;
    bool coil(int number) const;
    bool discreteInput(int number) const;

    // Communication parameters the instrument reports in 4116..4118.
    void setCommSettings(int address, int baudIndex, int parityIndex);

    void advance(double seconds);
    double simulatedTime() const { return ticks_ * kPlantStep; }

    // Faults and disturbances.
    void setSensorFault(SensorFault fault);
    SensorFault sensorFault() const { return sensorFault_; }
    void setHeaterBroken(bool broken);
    bool heaterBroken() const { return heaterBroken_; }
    // Moves the set value by `delta`, or the other way when that would leave the input range.
    void setpointStep(int delta);
    // An extra heat loss worth `percent` of output for `seconds` of simulated time.
    void disturb(double percent, double seconds);
    // Holds the process at a temperature (°C) until released with nullopt.
    void pinTemperature(std::optional<double> celsius);

private:
    // Tests that compare exact responses run without measurement noise, and
    // the plant's tests look at the process behind the measurement.
    friend class TestSimModel;
    friend class TestTuning;
    void setNoise(double sigmaCelsius) { noiseSigma_ = sigmaCelsius; }
    double temperature() const { return temperature_; } // °C, the process itself
    bool tuning() const { return tune_.active; }

    std::deque<std::pair<int, qint16>> writeLog_;
    struct Alarm {
        bool on = false;
        double since = -1.0; // simulated time the raise condition was first seen, -1 when it does not hold
    };
    struct Tune {
        bool active = false;
        bool high = true;
        double started = 0.0;
        double lastRise = -1.0;
        double cycleMax = 0.0;
        double cycleMin = 0.0;
        double outputSum = 0.0; // percent-seconds since the first rising switch
        double outputTime = 0.0;
        std::vector<double> periods;
        std::vector<double> amplitudes;
    };
    struct Loop {
        double band;       // instrument units
        double integral;   // s
        double derivative; // s
        double low;        // percent
        double high;       // percent
        int segment;
        int group;
    };

    void plantStep();
    void scan();
    double measure();
    double toUnits(double celsius) const;
    Loop loopSettings(double pv) const;
    double control(const Loop& loop, double pv, double sv);
    double runTune(const Loop& loop, double pv, double sv);
    void startTune();
    void finishTune(const Loop& loop, double pv, double sv);
    void stopTune();
    void updateAlarm(Alarm& alarm, int type, int value, int hysteresis, int delay, int pv, int sv, int aux) const;
    int auxiliary(double sv);
    void enterManual();
    void enterAutomatic();
    void publish(const Loop& loop, int aux);
    double noise();
    double unitsPerDegree() const;
    int rangeHigh() const;
    int rangeLow() const;
    bool reverseAction() const { return holding(SimReg::Output1Action) == 0; }

    std::array<qint16, SimReg::HighestHolding + 1> holding_{};
    std::array<qint16, 9> inputs_{};
    std::array<bool, 17> coils_{};
    std::array<bool, 17> discrete_{};

    // Process.
    SimPlant plant_;
    quint64 ticks_ = 0;
    double remainder_ = 0.0;
    double temperature_ = kAmbient;
    std::vector<double> deadLine_; // output percent, one entry per plant step
    std::size_t deadIndex_ = 0;
    std::optional<double> pinned_;
    double disturbance_ = 0.0;
    double disturbanceLeft_ = 0.0;
    bool heaterBroken_ = false;
    SensorFault sensorFault_ = SensorFault::None;

    // Instrument.
    double pv_ = 0.0;           // filtered measurement, instrument units
    bool filterPrimed_ = false; // false until a good reading has started the filter
    double output_ = 0.0;       // percent
    double integral_ = 0.0;     // integral term, percent
    double derivative_ = 0.0;   // filtered derivative term, percent
    double lastPv_ = 0.0;
    bool onOffHigh_ = false;
    double valve_ = 0.0;     // position followed by the second input, percent
    double faultHold_ = 0.0; // output before the sensor failed
    bool faultActive_ = false;
    Alarm alarm1_;
    Alarm alarm2_;
    Tune tune_;

    // Measurement noise.
    quint64 rng_;
    double noiseSigma_ = 0.1;
    std::optional<double> spareGaussian_;
};
