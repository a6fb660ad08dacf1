#include "Rounding.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace {
double nearestEven(double value)
{
    // std::nearbyint honours the current rounding mode, which is
    // round-to-nearest-even unless someone changed it.
    const int saved = std::fegetround();
    if (saved != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    if (saved != FE_TONEAREST)
        std::fesetround(saved);
    return r;
}

template <typename T> std::optional<T> roundInto(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = nearestEven(value);
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(r);
}
} // namespace

std::optional<qint32> roundHalfEven32(double value) { return roundInto<qint32>(value); }
std::optional<qint16> roundHalfEven16(double value) { return roundInto<qint16>(value); }

int roundHalfEven(double value)
{
    return roundInto<qint32>(value).value_or(value < 0 ? std::numeric_limits<qint32>::min()
                                                       : std::numeric_limits<qint32>::max());
}
