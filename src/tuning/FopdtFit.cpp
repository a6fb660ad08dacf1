#include "FopdtFit.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// Longest dead time searched, in samples; beyond a third of the record the
// step's effect is too short to judge anyway.
constexpr int kMaxDelaySamples = 600;
constexpr int kTauGridPoints = 40;
constexpr int kGoldenIterations = 24;
constexpr int kCoarseDelays = 30; // dead times tried before refining

struct Trial {
    double sse = std::numeric_limits<double>::infinity();
    double level = 0.0; // PV the model settles to with the first output
    double gain = 0.0;
    double free = 0.0; // size of the free response at the first sample
};

// Solves the 3 x 3 system in place (partial pivoting); false when singular.
bool solve3(std::array<std::array<double, 4>, 3>& m)
{
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::abs(m[r][c]) > std::abs(m[pivot][c]))
                pivot = r;
        std::swap(m[c], m[pivot]);
        if (std::abs(m[c][c]) < 1e-12)
            return false;
        for (int r = 0; r < 3; ++r) {
            if (r == c)
                continue;
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 4; ++k)
                m[r][k] -= f * m[c][k];
        }
    }
    for (int c = 0; c < 3; ++c)
        m[c][3] /= m[c][c];
    return true;
}

// The unit-gain response to the output's deviation from its first value,
// delayed by `delay` samples, with pole a = exp(-period / τ). The output is
// held between samples, so PV at sample k sees the output of sample k-1-delay.
void unitResponse(std::span<const double> du, int delay, double a, std::vector<double>& x)
{
    x[0] = 0.0;
    for (std::size_t k = 1; k < du.size(); ++k) {
        const std::ptrdiff_t j = std::ptrdiff_t(k) - 1 - delay;
        const double v = j > 0 ? du[std::size_t(j)] : 0.0;
        x[k] = a * x[k - 1] + (1.0 - a) * v;
    }
}

// For a given delay and pole the model is linear in level, gain and free
// response: solve those by least squares and return the squared error.
Trial evaluate(std::span<const double> pv, std::span<const double> du, int delay, double a, std::vector<double>& x)
{
    unitResponse(du, delay, a, x);
    std::array<std::array<double, 4>, 3> m{};
    double p = 1.0;
    for (std::size_t k = 0; k < pv.size(); ++k, p *= a) {
        const double b[3] = {1.0, x[k], p};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += b[i] * b[j];
            m[i][3] += b[i] * pv[k];
        }
    }
    Trial t;
    if (!solve3(m))
        return t;
    t.level = m[0][3];
    t.gain = m[1][3];
    t.free = m[2][3];
    double sse = 0.0;
    p = 1.0;
    for (std::size_t k = 0; k < pv.size(); ++k, p *= a) {
        const double r = pv[k] - (t.level + t.gain * x[k] + t.free * p);
        sse += r * r;
    }
    t.sse = sse;
    return t;
}

} // namespace

namespace Fopdt {

FopdtFit fit(std::span<const double> pv, std::span<const double> op, double period)
{
    FopdtFit result;
    const std::size_t n = std::min(pv.size(), op.size());
    if (n < std::size_t(kMinSamples) || !(period > 0.0))
        return result;
    pv = pv.first(n);
    std::vector<double> du(n);
    for (std::size_t k = 0; k < n; ++k)
        du[k] = op[k] - op[0];
    const auto [opLow, opHigh] = std::minmax_element(du.begin(), du.end());
    if (*opHigh - *opLow < 1e-9) {
        result.verdict = FopdtFit::Verdict::NoInputChange;
        return result;
    }
    std::size_t firstMove = 1;
    while (firstMove < n && du[firstMove] == 0.0)
        ++firstMove;

    // The PV's resolution: its smallest change. A whole-unit PV has 1.
    double resolution = std::numeric_limits<double>::infinity();
    for (std::size_t k = 1; k < n; ++k) {
        const double d = std::abs(pv[k] - pv[k - 1]);
        if (d > 1e-9)
            resolution = std::min(resolution, d);
    }
    result.resolution = std::isfinite(resolution) ? resolution : 0.0;
    // Rows the recorder repeated while no reading came in: PV and output
    // identical for a stretch, then the PV where the process had gone meanwhile.
    for (std::size_t k = 1, runStart = 0; k <= n; ++k) {
        if (k < n && pv[k] == pv[runStart] && op[k] == op[runStart])
            continue;
        const std::size_t length = k - runStart;
        const bool jumpAfter = k < n && std::abs(pv[k] - pv[k - 1]) > 2.0 * resolution;
        const bool jumpBefore = runStart > 0 && std::abs(pv[runStart] - pv[runStart - 1]) > 2.0 * resolution;
        if (length >= std::size_t(kStaleRunSamples) && (jumpAfter || jumpBefore)) {
            result.verdict = FopdtFit::Verdict::StaleStretch;
            result.detailAt = double(runStart) * period;
            result.detailLength = double(length) * period;
            return result;
        }
        runStart = k;
    }
    const auto [pvLow, pvHigh] = std::minmax_element(pv.begin(), pv.end());
    if (*pvHigh - *pvLow < kMinResolutionSteps * result.resolution) {
        result.verdict = FopdtFit::Verdict::BelowResolution;
        return result;
    }

    // Time constants from half a sample to twenty times the record, searched
    // on a logarithmic grid and then refined by golden section.
    const double tauLow = std::log(0.5 * period);
    const double tauHigh = std::log(20.0 * double(n) * period);
    std::vector<double> x(n);
    auto at = [&](int delay, double logTau) {
        return evaluate(pv, du, delay, std::exp(-period / std::exp(logTau)), x);
    };

    // Best time constant for one dead time: grid, then golden section.
    struct DelayFit {
        Trial trial;
        double logTau = 0.0;
        int delay = 0;
    };
    auto fitDelay = [&](int d) {
        const double step = (tauHigh - tauLow) / (kTauGridPoints - 1);
        DelayFit f{{}, tauLow, d};
        int bestJ = 0;
        for (int j = 0; j < kTauGridPoints; ++j) {
            const Trial t = at(d, tauLow + j * step);
            if (t.sse < f.trial.sse) {
                f.trial = t;
                f.logTau = tauLow + j * step;
                bestJ = j;
            }
        }
        double lo = tauLow + std::max(bestJ - 1, 0) * step;
        double hi = tauLow + std::min(bestJ + 1, kTauGridPoints - 1) * step;
        constexpr double g = 0.6180339887498949;
        double c1 = hi - g * (hi - lo);
        double c2 = lo + g * (hi - lo);
        Trial t1 = at(d, c1);
        Trial t2 = at(d, c2);
        for (int i = 0; i < kGoldenIterations; ++i) {
            if (t1.sse < t2.sse) {
                hi = c2;
                c2 = c1;
                t2 = t1;
                c1 = hi - g * (hi - lo);
                t1 = at(d, c1);
            } else {
                lo = c1;
                c1 = c2;
                t1 = t2;
                c2 = lo + g * (hi - lo);
                t2 = at(d, c2);
            }
        }
        if (t1.sse < f.trial.sse || t2.sse < f.trial.sse) {
            const bool first = t1.sse < t2.sse;
            f.trial = first ? t1 : t2;
            f.logTau = first ? c1 : c2;
        }
        return f;
    };

    // Dead times on a coarse grid first, then every sample around the two
    // best coarse ones: the error is smooth in the dead time, and a long
    // period costs tens of delays rather than hundreds.
    const int maxDelay = std::min<int>(kMaxDelaySamples, int(n / 3));
    const int stride = std::max(1, maxDelay / kCoarseDelays);
    std::vector<DelayFit> coarse;
    for (int d = 0; d <= maxDelay; d += stride)
        coarse.push_back(fitDelay(d));
    std::sort(coarse.begin(), coarse.end(),
              [](const DelayFit& a, const DelayFit& b) { return a.trial.sse < b.trial.sse; });
    DelayFit bestFit = coarse.front();
    for (std::size_t c = 0; c < std::min<std::size_t>(2, coarse.size()) && stride > 1; ++c) {
        const int centre = coarse[c].delay;
        for (int d = std::max(0, centre - stride + 1); d <= std::min(maxDelay, centre + stride - 1); ++d) {
            if (d == centre)
                continue;
            const DelayFit f = fitDelay(d);
            if (f.trial.sse < bestFit.trial.sse)
                bestFit = f;
        }
    }
    const Trial best = bestFit.trial;
    const double bestLogTau = bestFit.logTau;
    const int bestDelay = bestFit.delay;
    if (!std::isfinite(best.sse))
        return result; // every trial singular: TooFewSamples is the nearest truth

    result.model.gain = best.gain;
    result.model.timeConstant = std::exp(bestLogTau);
    result.model.deadTime = bestDelay * period;

    const double a = std::exp(-period / result.model.timeConstant);
    unitResponse(du, bestDelay, a, x);
    result.modelPv.resize(n);
    double p = 1.0;
    double mean = 0.0;
    for (std::size_t k = 0; k < n; ++k, p *= a) {
        result.modelPv[k] = best.level + best.gain * x[k] + best.free * p;
        mean += pv[k];
    }
    mean /= double(n);
    double sst = 0.0;
    for (double y : pv)
        sst += (y - mean) * (y - mean);
    result.r2 = sst > 0.0 ? 1.0 - best.sse / sst : 0.0;
    result.residualRms = std::sqrt(best.sse / double(n));
    const auto [xLow, xHigh] = std::minmax_element(x.begin(), x.end());
    result.responseSpan = std::abs(best.gain) * (*xHigh - *xLow);

    const double afterStep = double(n - firstMove) * period;
    const double needed = result.model.deadTime + kMinTimeConstantsAfterStep * result.model.timeConstant;
    if (bestDelay >= maxDelay) {
        result.verdict = FopdtFit::Verdict::DeadTimeAtLimit;
    } else if (result.responseSpan < kMinSignalToNoise * result.residualRms) {
        result.verdict = FopdtFit::Verdict::SmallStep;
    } else if (result.r2 < kMinR2) {
        result.verdict = FopdtFit::Verdict::PoorFit;
    } else if (afterStep < needed) {
        result.verdict = FopdtFit::Verdict::TooShort;
        result.detailAt = afterStep;
        result.detailLength = needed;
    } else
        result.verdict = FopdtFit::Verdict::Good;
    return result;
}

QString verdictText(FopdtFit::Verdict verdict)
{
    switch (verdict) {
    case FopdtFit::Verdict::Good: return QCoreApplication::translate("Fopdt", "拟合良好");
    case FopdtFit::Verdict::PoorFit: return QCoreApplication::translate("Fopdt", "拟合不佳(R²<0.9),不给出建议");
    case FopdtFit::Verdict::SmallStep: return QCoreApplication::translate("Fopdt", "阶跃相对噪声太小,不给出建议");
    case FopdtFit::Verdict::NoInputChange: return QCoreApplication::translate("Fopdt", "输出没有变化,无法辨识");
    case FopdtFit::Verdict::StaleStretch:
        return QCoreApplication::translate("Fopdt", "记录中有停滞的一段(通讯中断时重复的记录),不给出建议");
    case FopdtFit::Verdict::BelowResolution:
        return QCoreApplication::translate("Fopdt", "PV变化只有几个分辨率单位,阶跃太小,不给出建议");
    case FopdtFit::Verdict::DeadTimeAtLimit:
        return QCoreApplication::translate("Fopdt", "纯滞后达到搜索上限(记录的三分之一),看不到响应,不给出建议");
    case FopdtFit::Verdict::TooShort: return QCoreApplication::translate("Fopdt", "记录太短,不给出建议");
    case FopdtFit::Verdict::TooFewSamples: break;
    }
    return QCoreApplication::translate("Fopdt", "数据太少,无法辨识");
}

QString verdictText(const FopdtFit& fit)
{
    switch (fit.verdict) {
    case FopdtFit::Verdict::StaleStretch:
        return QCoreApplication::translate("Fopdt",
                                           "记录在第 %1 s 起 %2 s 不变后PV跳变(通讯中断时重复的记录),不给出建议")
            .arg(fit.detailAt, 0, 'f', 0)
            .arg(fit.detailLength, 0, 'f', 0);
    case FopdtFit::Verdict::BelowResolution:
        return QCoreApplication::translate("Fopdt", "PV只变化了不到 %1 个分辨率单位(%2),阶跃太小,不给出建议")
            .arg(kMinResolutionSteps, 0, 'f', 0)
            .arg(fit.resolution, 0, 'g', 3);
    case FopdtFit::Verdict::TooShort:
        return QCoreApplication::translate("Fopdt", "记录太短: 阶跃后只有 %1 s, 至少需要 %2 s (θ + 2τ),不给出建议")
            .arg(fit.detailAt, 0, 'f', 0)
            .arg(std::ceil(fit.detailLength), 0, 'f', 0);
    default: return verdictText(fit.verdict);
    }
}

} // namespace Fopdt

RegularSeries resample(std::span<const TimedSample> samples, double period)
{
    RegularSeries s;
    s.period = period;
    if (samples.empty() || !(period > 0.0))
        return s;
    s.start = samples.front().t;
    const double end = samples.back().t;
    std::size_t i = 0;
    for (double t = s.start; t <= end + 1e-9; t = s.start + double(s.pv.size()) * period) {
        while (i + 1 < samples.size() && samples[i + 1].t <= t + 1e-9)
            ++i;
        s.pv.push_back(samples[i].pv);
        s.op.push_back(samples[i].op);
    }
    return s;
}
