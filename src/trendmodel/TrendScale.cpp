#include "TrendScale.h"

#include "NumericPrefix.h"
#include "Rounding.h"

std::optional<TrendScale> trendScaleFromEntries(QStringView maxText, QStringView minText)
{
    const NumericPrefix max = parseNumericPrefix(maxText);
    const NumericPrefix min = parseNumericPrefix(minText);
    if (!max.representable || max.value > 12000.0 || max.value < -2300.0)
        return std::nullopt;
    if (!min.representable || min.value > 11900.0 || min.value < -2400.0 || min.value > max.value)
        return std::nullopt;
    const auto bottom = roundHalfEven16(min.value);
    const auto span = roundHalfEven16(max.value - min.value);
    if (!bottom || !span)
        return std::nullopt;
    return TrendScale{*span, *bottom};
}
