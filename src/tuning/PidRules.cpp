#include "PidRules.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <limits>

namespace Simc {

std::optional<PidSettings> suggest(const FopdtModel& model, ControllerKind kind, TuningSpeed speed)
{
    const double k = std::abs(model.gain);
    const double tau = model.timeConstant;
    if (!(k > 0.0) || !(tau > 0.0) || !std::isfinite(k) || !std::isfinite(tau))
        return std::nullopt;
    const double theta = std::max(model.deadTime, kMinDeadTime);
    const double tauC = speed == TuningSpeed::Fast ? theta : 3.0 * theta;

    if (kind == ControllerKind::PI) {
        PidSettings pi;
        pi.gain = tau / (k * (tauC + theta));
        pi.integralTime = std::min(tau, 4.0 * (tauC + theta));
        return pi;
    }
    // Series form first.
    const double tauEff = tau + theta / 3.0;
    const double kc = tauEff / (k * (tauC + theta));
    const double ti = std::min(tauEff, 4.0 * (tauC + theta));
    const double td = theta / 3.0;
    const double f = 1.0 + td / ti;
    return PidSettings{kc * f, ti * f, td / f};
}

QString speedText(TuningSpeed speed)
{
    return speed == TuningSpeed::Fast ? QCoreApplication::translate("Simc", "快速")
                                      : QCoreApplication::translate("Simc", "稳健");
}

} // namespace Simc

std::optional<PidSettings> InstrumentPid::settings() const
{
    if (band <= 0)
        return std::nullopt;
    // Integral time 0 switches integral action off; report it as infinite.
    const double ti = integral > 0 ? double(integral) : std::numeric_limits<double>::infinity();
    return PidSettings{100.0 / band, ti, derivativeTenths / 10.0};
}

InstrumentPid InstrumentPid::fromSettings(const PidSettings& pid)
{
    InstrumentPid r;
    // In register units, within the table's entry bounds. A suggestion never
    // reaches 0 band or 0 integral time: those switch the control mode.
    auto fit = [&r](double value, int param, int lowest) {
        const EntryRule::Bounds b = *ParamTable::bounds(param);
        const double low = std::max(double(lowest), std::round(b.lower * b.factor));
        const double high = std::round(b.upper * b.factor);
        const double v = std::isfinite(value) ? std::round(value) : high;
        if (v < low || v > high)
            r.clamped = true;
        return qint32(std::clamp(v, low, high));
    };
    r.band = fit(pid.gain > 0.0 ? 100.0 / pid.gain : qInf(), kBandParam, 1);
    r.integral = fit(pid.integralTime, kIntegralParam, 1);
    r.derivativeTenths = fit(pid.derivativeTime * 10.0, kDerivativeParam, 0);
    return r;
}
