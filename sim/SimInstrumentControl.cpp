#include "SimInstrument.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

// The control algorithm: PID with on/off fallback, bumpless mode changes and
// the relay self-tune.

namespace {

constexpr double kDerivativeFilter = 4.0; // derivative term filtered over Td / 4
constexpr std::size_t kTuneCycles = 4;    // relay cycles measured; the first is a run-in

} // namespace

double SimInstrument::control(const Loop& loop, double pv, double sv)
{
    const double e = reverseAction() ? sv - pv : pv - sv;
    if (loop.band <= 0.0) {
        // On/off control: the output switches at half the hysteresis either side of SV.
        const double h = holding(SimReg::ControlHysteresis) / 2.0;
        if (e > h)
            onOffHigh_ = true;
        else if (e < -h)
            onOffHigh_ = false;
        integral_ = 0.0;
        derivative_ = 0.0;
        lastPv_ = pv;
        return onOffHigh_ ? loop.high : loop.low;
    }

    const double kc = 100.0 / loop.band; // percent per instrument unit
    const double p = kc * e;
    // Derivative on the measurement, so that a set-value step does not kick the output.
    const double slope = (pv - lastPv_) / kScanPeriod;
    lastPv_ = pv;
    if (loop.derivative > 0.0) {
        const double sign = reverseAction() ? -1.0 : 1.0;
        const double tf = loop.derivative / kDerivativeFilter;
        derivative_ += kScanPeriod / (tf + kScanPeriod) * (sign * kc * loop.derivative * slope - derivative_);
    } else {
        derivative_ = 0.0;
    }
    double u = p + integral_ + derivative_;
    if (loop.integral > 0.0) {
        // Conditional integration: no further wind-up while the output is at a clamp.
        const double step = kc * e * kScanPeriod / loop.integral;
        const bool windingUp = (u >= loop.high && step > 0.0) || (u <= loop.low && step < 0.0);
        if (!windingUp)
            integral_ += step;
        integral_ = std::clamp(integral_, loop.low, loop.high);
        u = p + integral_ + derivative_;
    }
    return std::clamp(u, loop.low, loop.high);
}

void SimInstrument::enterManual()
{
    // Bumpless: manual mode starts from the output the loop had.
    holding_[std::size_t(SimReg::ManualOutput)] = qint16(std::clamp<long>(std::lround(output_ * 10.0), 0, 1000));
}

void SimInstrument::enterAutomatic()
{
    // Bumpless: the integral term takes over the present output.
    const Loop loop = loopSettings(pv_);
    const double sv = holding(SimReg::Sv);
    const double e = reverseAction() ? sv - pv_ : pv_ - sv;
    const double p = loop.band > 0.0 ? 100.0 / loop.band * e : 0.0;
    // Far from SV the proportional term alone saturates the output and no
    // integral value is bumpless; the present output is then the better
    // guess of what will hold the process once it gets there.
    const double bumpless = output_ - p;
    integral_ = bumpless >= loop.low && bumpless <= loop.high ? bumpless : std::clamp(output_, loop.low, loop.high);
    derivative_ = 0.0;
    lastPv_ = pv_;
    onOffHigh_ = output_ > loop.low;
}

// ---------------------------------------------------------------- self-tune

void SimInstrument::startTune()
{
    tune_ = Tune{};
    tune_.active = true;
    tune_.started = simulatedTime();
}

void SimInstrument::stopTune()
{
    tune_ = Tune{};
    coils_[std::size_t(SimReg::SelfTune)] = false;
}

double SimInstrument::runTune(const Loop& loop, double pv, double sv)
{
    // Relay test around SV: full output below, lowest output above, with a
    // switching band wide enough that noise cannot chatter the relay.
    const double e = reverseAction() ? sv - pv : pv - sv;
    const double band = std::max(1.0, 4.0 * noiseSigma_ * unitsPerDegree());
    const bool wasHigh = tune_.high;
    if (e > band)
        tune_.high = true;
    else if (e < -band)
        tune_.high = false;

    const double now = simulatedTime();
    if (tune_.lastRise >= 0.0) {
        tune_.cycleMax = std::max(tune_.cycleMax, pv);
        tune_.cycleMin = std::min(tune_.cycleMin, pv);
        tune_.outputSum += output_ * kScanPeriod;
        tune_.outputTime += kScanPeriod;
    }
    if (!wasHigh && tune_.high) {
        if (tune_.lastRise >= 0.0) {
            tune_.periods.push_back(now - tune_.lastRise);
            tune_.amplitudes.push_back((tune_.cycleMax - tune_.cycleMin) / 2.0);
        }
        tune_.lastRise = now;
        tune_.cycleMax = tune_.cycleMin = pv;
        if (tune_.periods.size() >= kTuneCycles) {
            finishTune(loop, pv, sv);
            return control(loop, pv, sv);
        }
    }
    if (now - tune_.started > kTuneTimeout) {
        stopTune(); // no oscillation: keep the old settings
        return control(loop, pv, sv);
    }
    return tune_.high ? loop.high : loop.low;
}

void SimInstrument::finishTune(const Loop& loop, double pv, double sv)
{
    // The first cycle is a run-in; average the others.
    auto mean = [](const std::vector<double>& v) {
        return std::accumulate(v.begin() + 1, v.end(), 0.0) / double(v.size() - 1);
    };
    const double tu = mean(tune_.periods);
    const double amplitude = std::max(mean(tune_.amplitudes), 0.1);
    const double relay = (loop.high - loop.low) / 2.0;
    const double ku = 4.0 * relay / (std::numbers::pi * amplitude);
    // Conservative rules: little overshoot rather than the fastest response.
    const double kc = ku / 2.2;
    const double ti = 2.2 * tu;
    const double td = tu / 6.3;
    const double meanOutput = tune_.outputTime > 0.0 ? tune_.outputSum / tune_.outputTime : output_;

    using namespace SimReg;
    holding_[std::size_t(Band1)] = qint16(std::clamp<long>(std::lround(100.0 / kc), 1, 9999));
    holding_[std::size_t(IntegralTime)] = qint16(std::clamp<long>(std::lround(ti), 1, 5000));
    holding_[std::size_t(DerivativeTime)] = qint16(std::clamp<long>(std::lround(td * 10.0), 0, 9999));
    stopTune();

    // Continue from the relay's mean output rather than from its last extreme.
    const Loop tuned = loopSettings(pv);
    const double e = reverseAction() ? sv - pv : pv - sv;
    const double p = tuned.band > 0.0 ? 100.0 / tuned.band * e : 0.0;
    integral_ = std::clamp(meanOutput - p, tuned.low, tuned.high);
    derivative_ = 0.0;
    lastPv_ = pv;
}
