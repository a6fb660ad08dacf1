// Cost of identifying the process model from a period of the one-second
// history: the fit searches every whole-sample dead time, so it grows with
// the period's length. The window runs it off the GUI thread; the command
// line waits for it.
#include "BenchStats.h"
#include "FopdtFit.h"

#include <cmath>
#include <cstdio>
#include <vector>

using bench::measure;
using bench::print;

int main()
{
    for (int n : {300, 900, 1800, 3600}) {
        // K = 5, τ = n/3 s, θ = n/60 s, a 10 % step after 30 s, a little ripple.
        const double tau = n / 3.0;
        const int delay = n / 60;
        std::vector<double> pv(static_cast<std::size_t>(n)), op(static_cast<std::size_t>(n));
        double y = 100.0;
        for (int k = 0; k < n; ++k) {
            op[std::size_t(k)] = k >= 30 ? 25.0 : 15.0;
            const double u = k - 1 - delay >= 30 ? 25.0 : 15.0;
            pv[std::size_t(k)] = y + 0.3 * std::sin(k * 0.7);
            y += (5.0 * u + 25.0 - y) * (1.0 - std::exp(-1.0 / tau));
        }
        FopdtFit last;
        const auto stats = measure(3, [&](int) { last = Fopdt::fit(pv, op, 1.0); });
        char label[64];
        std::snprintf(label, sizeof label, "fit %d samples (K %.2f, tau %.0f)", n, last.model.gain,
                      last.model.timeConstant);
        print(label, 3, stats);
    }
    return 0;
}
