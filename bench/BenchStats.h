#pragma once
// Timing helpers shared by the benchmarks: run a piece of work n times and
// report p50 / p99 / max in milliseconds.
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

struct Stats {
    double p50 = 0, p99 = 0, max = 0; // milliseconds
};

// Nearest-rank percentile of samples (any unit); 0 for no samples.
inline double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t rank = std::size_t(std::ceil(q * double(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

inline Stats measure(int runs, const std::function<void(int)>& work)
{
    std::vector<double> ms;
    ms.reserve(std::size_t(runs));
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        work(i);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return {percentile(ms, 0.50), percentile(ms, 0.99), percentile(ms, 1.0)};
}

// Wire time of one polling cycle at `baud` 8N1: 117 bytes of requests and
// replies (five 8-byte requests; replies 3 x 21 bytes of registers and
// 2 x 7 bytes of bits), 10 inter-frame silences of 3.5 characters and five
// instrument turnarounds.
inline double pollCycleWireMs(int baud, int turnaroundMs)
{
    const double charMs = 10.0 * 1000.0 / baud; // start + 8 + stop
    const int bytes = 5 * 8 + 3 * 21 + 2 * 7;
    return bytes * charMs + 10 * 3.5 * charMs + 5 * turnaroundMs;
}

inline void print(const char* what, int runs, const Stats& s)
{
    std::printf("%-52s n=%5d  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, runs, s.p50, s.p99, s.max);
}

} // namespace bench
