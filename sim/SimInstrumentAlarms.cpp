#include "SimInstrument.h"

#include <cstdlib>

namespace {

constexpr double kOutputOn = 1.0; // percent from which the heater draws current

} // namespace

void SimInstrument::updateAlarm(Alarm& alarm, int type, int value, int hysteresis, int delay, int pv, int sv,
                                int aux) const
{
    bool raise = false;
    bool clear = false;
    // High-type conditions raise at x >= value and clear below value - hysteresis;
    // low-type ones raise at x <= value and clear above value + hysteresis.
    auto high = [&](int x) {
        raise = x >= value;
        clear = x < value - hysteresis;
    };
    switch (type) {
    case 1: // high
        high(pv);
        break;
    case 2: // low
        raise = pv <= value;
        clear = pv > value + hysteresis;
        break;
    case 3: // high deviation
        high(pv - sv);
        break;
    case 4: // low deviation
        high(sv - pv);
        break;
    case 5: // deviation band
        high(std::abs(pv - sv));
        break;
    case 6: { // heater break: output on but too little heater current
        const bool outputOn = output_ >= kOutputOn;
        raise = outputOn && aux <= value;
        clear = !outputOn || aux > value + hysteresis;
        break;
    }
    default: alarm = Alarm{}; return;
    }

    if (alarm.on) {
        if (clear)
            alarm = Alarm{};
        return;
    }
    if (!raise) {
        alarm.since = -1.0;
        return;
    }
    const double now = simulatedTime();
    if (alarm.since < 0.0)
        alarm.since = now;
    if (now - alarm.since >= delay - 1e-6)
        alarm.on = true;
}
