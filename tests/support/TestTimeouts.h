#pragma once
// How long tests wait for threads, child processes and the line. A build
// that runs several times slower (under a runtime checker) stretches every
// wait by PX_TEST_TIMEOUT_SCALE, a whole number (1 when unset), rather than
// the normal waits being made loose for everyone.
#include <charconv>
#include <cstdlib>
#include <cstring>

inline int pxTestTimeoutScale()
{
    static const int scale = [] {
        int v = 1;
        if (const char* s = std::getenv("PX_TEST_TIMEOUT_SCALE"))
            std::from_chars(s, s + std::strlen(s), v);
        return v < 1 ? 1 : v;
    }();
    return scale;
}

// A wait of ms milliseconds, stretched for a slow build.
inline int pxTimeout(int ms)
{
    return ms * pxTestTimeoutScale();
}
