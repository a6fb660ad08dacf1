#include "SimInstrument.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kTicksPerScan = 5;  // kScanPeriod / kPlantStep
constexpr double kValveLag = 5.0; // s, the valve the second input may follow

// Euler integration stays stable only with a time constant above the plant step.
SimPlant sanePlant(SimPlant p)
{
    p.timeConstant = std::max(p.timeConstant, SimInstrument::kPlantStep);
    p.deadTime = std::max(p.deadTime, 0.0);
    return p;
}

qint16 toRegister(double value)
{
    const long r = std::lround(value);
    return qint16(std::clamp<long>(r, -32768, 32767));
}

} // namespace

SimInstrument::SimInstrument(quint32 seed, SimPlant plant)
    : plant_(sanePlant(plant))
      // One slot is the shortest line: a dead time of 0 still delays by one plant step.
      ,
      deadLine_(std::max<std::size_t>(1, std::size_t(std::lround(plant_.deadTime / kPlantStep))), 0.0),
      rng_(quint64(seed) * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL)
{
    using namespace SimReg;
    auto set = [this](int reg, int value) { holding_[std::size_t(reg)] = qint16(value); };
    set(Sv, 100);
    set(ManualOutput, 0);
    set(Alarm1Value, 150);
    set(Alarm1Hysteresis, 2);
    set(Alarm1Delay, 5);
    set(Alarm2Value, 50);
    set(Alarm2Hysteresis, 2);
    set(Alarm2Delay, 5);
    set(BreakAlarmValue, 0);
    set(BreakOutput, 0);

    set(InputType, 0);
    set(DecimalPoint, 0);
    set(RangeHigh, 1300);
    set(RangeLow, 0);
    set(Filter, 5);
    set(Offset, 0);
    set(AuxEnable, 1);
    set(AuxFunction, 0);
    set(AuxHigh, 100);
    set(AuxLow, 0);
    set(ControlMode, 0);
    set(Output1Type, 2);
    set(Output1Signal, 0);
    set(Output1Action, 0);
    set(Output2Type, 1);
    set(Output2Signal, 0);
    set(Output2Action, 1);
    set(Alarm1Type, 1);
    set(Alarm2Type, 2);
    set(CommAddress, 1);
    set(CommBaud, 1);
    set(CommParity, 0);
    set(CommDelay, 0);
    set(TransmitEnable, 0);
    set(TransmitSignal, 0);
    set(TransmitHigh, 1300);
    set(TransmitLow, 0);
    set(TransmitQuantity, 0);
    set(TemperatureUnit, 0);
    set(Band1, 30);
    set(Band2, 30);
    set(IntegralTime, 120);
    set(DerivativeTime, 100);
    set(CycleTime, 20);
    set(ControlHysteresis, 2);
    set(OutputHigh, 1000);
    set(OutputLow, 0);
    set(FaultPreset, 0);
    set(FaultHandling, 0);

    // Segments of 130 units across the default range, two per PID group.
    set(Grouping, 0);
    for (int row = 1; row <= SegmentRows; ++row) {
        set(segmentField(row, 1), 130 * row);
        set(segmentField(row, 2), 1000);
        set(segmentField(row, 3), 0);
        set(segmentField(row, 4), (row + 1) / 2);
    }
    for (int g = 1; g <= PidGroups; ++g) {
        set(groupField(g, 0), 30);
        set(groupField(g, 2), 120);
        set(groupField(g, 3), 100);
    }

    coils_[std::size_t(Automatic)] = true;
    coils_[std::size_t(ManualPermitted)] = true;

    scan();
}

void SimInstrument::setCommSettings(int address, int baudIndex, int parityIndex)
{
    holding_[std::size_t(SimReg::CommAddress)] = qint16(std::clamp(address, 1, 255));
    holding_[std::size_t(SimReg::CommBaud)] = qint16(std::clamp(baudIndex, 0, 2));
    holding_[std::size_t(SimReg::CommParity)] = qint16(std::clamp(parityIndex, 0, 2));
}

// ---------------------------------------------------------------- registers

qint16 SimInstrument::holding(int reg) const
{
    return reg >= 1 && reg <= SimReg::HighestHolding ? holding_[std::size_t(reg)] : 0;
}

qint16 SimInstrument::input(int reg) const
{
    return reg >= 1 && reg < int(inputs_.size()) ? inputs_[std::size_t(reg)] : 0;
}

bool SimInstrument::coil(int number) const
{
    return number >= 1 && number < int(coils_.size()) && coils_[std::size_t(number)];
}

bool SimInstrument::discreteInput(int number) const
{
    return number >= 1 && number < int(discrete_.size()) && discrete_[std::size_t(number)];
}

SimException SimInstrument::read(SimTable table, int first, int count, std::span<quint16> out) const
{
    if (!simIsReadable(table, first, count))
        return SimException::IllegalAddress;
    if (out.size() < std::size_t(count))
        return SimException::IllegalValue;
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        switch (table) {
        case SimTable::Coils: out[std::size_t(i)] = coil(n) ? 1 : 0; break;
        case SimTable::DiscreteInputs: out[std::size_t(i)] = discreteInput(n) ? 1 : 0; break;
        case SimTable::InputRegisters: out[std::size_t(i)] = quint16(input(n)); break;
        case SimTable::HoldingRegisters: out[std::size_t(i)] = quint16(holding(n)); break;
        }
    }
    return SimException::None;
}

SimException SimInstrument::writeRegisters(int first, std::span<const qint16> values)
{
    if (values.empty())
        return SimException::IllegalValue;
    // Every address is checked before any value, and nothing is stored
    // unless the whole request is acceptable.
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!simWritableLimits(first + int(i)))
            return SimException::IllegalAddress;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const SimLimits limits = *simWritableLimits(first + int(i));
        if (values[i] < limits.min || values[i] > limits.max)
            return SimException::IllegalValue;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        holding_[std::size_t(first) + i] = values[i];
        if (writeLog_.size() == kWriteLogSize)
            writeLog_.pop_front();
        writeLog_.emplace_back(first + int(i), values[i]);
    }
    return SimException::None;
}

SimException SimInstrument::writeCoils(int first, std::span<const bool> values)
{
    if (values.empty())
        return SimException::IllegalValue;
    if (first < 1 || first + int(values.size()) - 1 > kSimWritableCoils)
        return SimException::IllegalAddress;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int number = first + int(i);
        const bool on = values[i];
        if (number == SimReg::Automatic && on != coils_[std::size_t(number)]) {
            coils_[std::size_t(number)] = on;
            if (on)
                enterAutomatic();
            else
                enterManual();
        } else if (number == SimReg::SelfTune) {
            if (on && !tune_.active)
                startTune();
            else if (!on && tune_.active)
                stopTune();
        }
        coils_[std::size_t(number)] = on;
    }
    return SimException::None;
}

// ------------------------------------------------------------------ process

void SimInstrument::advance(double seconds)
{
    if (!(seconds > 0.0))
        return;
    remainder_ += seconds;
    while (remainder_ >= kPlantStep * (1.0 - 1e-9)) {
        remainder_ -= kPlantStep;
        ++ticks_;
        plantStep();
        if (ticks_ % kTicksPerScan == 0)
            scan();
    }
}

void SimInstrument::plantStep()
{
    // The output reaches the process after the dead time.
    const double delayed = deadLine_[deadIndex_];
    deadLine_[deadIndex_] = output_;
    deadIndex_ = (deadIndex_ + 1) % deadLine_.size();

    double drive = heaterBroken_ ? 0.0 : (reverseAction() ? delayed : -delayed);
    if (disturbanceLeft_ > 0.0) {
        drive -= disturbance_;
        disturbanceLeft_ -= kPlantStep;
    }
    if (pinned_)
        temperature_ = *pinned_;
    else
        temperature_ += kPlantStep * (kAmbient + plant_.gain * drive - temperature_) / plant_.timeConstant;
}

void SimInstrument::setSensorFault(SensorFault fault) { sensorFault_ = fault; }

void SimInstrument::setHeaterBroken(bool broken) { heaterBroken_ = broken; }

void SimInstrument::setpointStep(int delta)
{
    const int sv = holding(SimReg::Sv);
    int target = sv + delta;
    if (target > rangeHigh() || target < rangeLow())
        target = sv - delta;
    holding_[std::size_t(SimReg::Sv)] = qint16(std::clamp(target, -1999, 9999));
}

void SimInstrument::disturb(double percent, double seconds)
{
    disturbance_ = percent;
    disturbanceLeft_ = std::max(0.0, seconds);
}

void SimInstrument::pinTemperature(std::optional<double> celsius)
{
    pinned_ = celsius;
    if (pinned_)
        temperature_ = *pinned_;
}

double SimInstrument::noise()
{
    if (noiseSigma_ <= 0.0)
        return 0.0;
    if (spareGaussian_) {
        const double g = *spareGaussian_;
        spareGaussian_.reset();
        return noiseSigma_ * g;
    }
    auto uniform = [this] {
        // xorshift64*: small, fast and the same on every platform.
        rng_ ^= rng_ >> 12;
        rng_ ^= rng_ << 25;
        rng_ ^= rng_ >> 27;
        const quint64 x = rng_ * 2685821657736338717ULL;
        return (double(x >> 11) + 0.5) / 9007199254740992.0;
    };
    const double r = std::sqrt(-2.0 * std::log(uniform()));
    const double theta = 2.0 * std::numbers::pi * uniform();
    spareGaussian_ = r * std::sin(theta);
    return noiseSigma_ * r * std::cos(theta);
}

// --------------------------------------------------------------- instrument

int SimInstrument::rangeHigh() const { return std::max(holding(SimReg::RangeHigh), holding(SimReg::RangeLow)); }

int SimInstrument::rangeLow() const { return std::min(holding(SimReg::RangeHigh), holding(SimReg::RangeLow)); }

double SimInstrument::unitsPerDegree() const
{
    const double scale = std::pow(10.0, std::clamp<int>(holding(SimReg::DecimalPoint), 0, 3));
    return (holding(SimReg::TemperatureUnit) == 1 ? 1.8 : 1.0) * scale;
}

double SimInstrument::toUnits(double celsius) const
{
    const double scale = std::pow(10.0, std::clamp<int>(holding(SimReg::DecimalPoint), 0, 3));
    switch (holding(SimReg::TemperatureUnit)) {
    case 1: return (celsius * 1.8 + 32.0) * scale;
    case 2: return (celsius + 273.15) * scale;
    default: return celsius * scale;
    }
}

double SimInstrument::measure()
{
    switch (sensorFault_) {
    case SensorFault::Open: filterPrimed_ = false; return pv_ = rangeHigh(); // an open thermocouple reads upscale
    case SensorFault::Short: filterPrimed_ = false; return pv_ = rangeLow();
    case SensorFault::None: break;
    }
    const double raw = toUnits(temperature_ + noise()) + holding(SimReg::Offset);
    if (!filterPrimed_) {
        pv_ = raw;
        lastPv_ = raw;
        filterPrimed_ = true;
    } else {
        const double tf = holding(SimReg::Filter) / 10.0;
        pv_ += kScanPeriod / (tf + kScanPeriod) * (raw - pv_);
    }
    pv_ = std::clamp(pv_, double(rangeLow()), double(rangeHigh()));
    return pv_;
}

SimInstrument::Loop SimInstrument::loopSettings(double pv) const
{
    using namespace SimReg;
    Loop loop{};
    loop.band = holding(Band1);
    loop.integral = holding(IntegralTime);
    loop.derivative = holding(DerivativeTime) / 10.0;
    loop.high = holding(OutputHigh) / 10.0;
    loop.low = std::min(holding(OutputLow) / 10.0, loop.high);
    if (holding(Grouping) == 0)
        return loop;

    // The first row whose temperature is at or above the PV covers it; the
    // last row covers everything above.
    int row = SegmentRows;
    for (int k = 1; k <= SegmentRows; ++k) {
        if (pv <= holding(segmentField(k, 1))) {
            row = k;
            break;
        }
    }
    loop.segment = row;
    loop.high = holding(segmentField(row, 2)) / 10.0;
    loop.low = std::min(holding(segmentField(row, 3)) / 10.0, loop.high);
    const int group = holding(segmentField(row, 4));
    if (group >= 1 && group <= PidGroups) {
        loop.group = group;
        loop.band = holding(groupField(group, 0));
        loop.integral = holding(groupField(group, 2));
        loop.derivative = holding(groupField(group, 3)) / 10.0;
    }
    return loop;
}

void SimInstrument::scan()
{
    const double pv = measure();
    const double sv = holding(SimReg::Sv);
    const Loop loop = loopSettings(pv);

    double out;
    if (!coils_[std::size_t(SimReg::Automatic)]) {
        if (tune_.active)
            stopTune();
        faultActive_ = false;
        out = std::clamp(holding(SimReg::ManualOutput) / 10.0, 0.0, 100.0);
    } else if (sensorFault_ != SensorFault::None) {
        if (tune_.active)
            stopTune();
        if (!faultActive_) {
            faultActive_ = true;
            faultHold_ = output_;
        }
        out = holding(SimReg::FaultHandling) == 0 ? holding(SimReg::FaultPreset) / 10.0 : faultHold_;
    } else {
        if (faultActive_) {
            // Back from a sensor fault: resume from the output held meanwhile.
            faultActive_ = false;
            enterAutomatic();
        }
        out = tune_.active ? runTune(loop, pv, sv) : control(loop, pv, sv);
    }
    output_ = out;

    const int aux = auxiliary(sv);
    const int pvInt = toRegister(pv);
    const int svInt = holding(SimReg::Sv);
    using namespace SimReg;
    updateAlarm(alarm1_, holding(Alarm1Type), holding(Alarm1Value), holding(Alarm1Hysteresis), holding(Alarm1Delay),
                pvInt, svInt, aux);
    updateAlarm(alarm2_, holding(Alarm2Type), holding(Alarm2Value), holding(Alarm2Hysteresis), holding(Alarm2Delay),
                pvInt, svInt, aux);
    discrete_[std::size_t(Alarm1Output)] = alarm1_.on;
    discrete_[std::size_t(Alarm2Output)] = alarm2_.on;
    discrete_[std::size_t(SensorOpen)] = sensorFault_ == SensorFault::Open;
    discrete_[std::size_t(SensorShort)] = sensorFault_ == SensorFault::Short;
    publish(loop, aux);
}

int SimInstrument::auxiliary(double sv)
{
    valve_ += kScanPeriod / (kValveLag + kScanPeriod) * (output_ - valve_);
    if (holding(SimReg::AuxEnable) == 0)
        return 0;
    double fraction;
    switch (holding(SimReg::AuxFunction)) {
    case 0: // heater current
        fraction = heaterBroken_ ? 0.0 : output_ / 100.0;
        break;
    case 1: // valve position
        fraction = valve_ / 100.0;
        break;
    default: { // remote set value: the signal that would ask for the present SV
        const double span = rangeHigh() - rangeLow();
        fraction = span > 0.0 ? (sv - rangeLow()) / span : 0.0;
        break;
    }
    }
    const double lo = holding(SimReg::AuxLow);
    const double hi = holding(SimReg::AuxHigh);
    const double value = lo + (hi - lo) * fraction + noise();
    return std::clamp<int>(toRegister(value), int(std::min(lo, hi)), int(std::max(lo, hi)));
}

void SimInstrument::publish(const Loop& loop, int aux)
{
    using namespace SimReg;
    inputs_[std::size_t(Pv)] = toRegister(pv_);
    inputs_[std::size_t(Op)] = toRegister(output_ * 10.0);
    inputs_[std::size_t(SvCopy)] = holding(Sv);
    inputs_[std::size_t(Aux)] = qint16(aux);
    inputs_[std::size_t(ActiveSegment)] = qint16(loop.segment);
    inputs_[std::size_t(ActiveGroup)] = qint16(loop.group);
    inputs_[std::size_t(TuneCycles)] = qint16(tune_.active ? tune_.periods.size() : 0);
    inputs_[std::size_t(PlantTenths)] = toRegister(toUnits(temperature_) * 10.0);
}
