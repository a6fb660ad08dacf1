#include "NumberText.h"

#include <charconv>
#include <cmath>

namespace {
QString shortest(double value, int digits)
{
    if (value == 0.0 || std::isnan(value))
        return QStringLiteral("0"); // never "-0"
    // The general form keeps no trailing zeros in the fraction and writes
    // exponents as "1e+07", unambiguous for an operator; to_chars, unlike
    // the printf family, writes "." whatever the locale says.
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return QString::fromLatin1(buffer, r.ptr - buffer);
}
} // namespace

QString singleText(float value) { return shortest(double(value), 7); }
QString doubleText(double value) { return shortest(value, 15); }

char* appendExactText(char* first, char* last, double value)
{
    if (value == 0.0) { // never "-0"
        if (first == last)
            return nullptr;
        *first = '0';
        return first + 1;
    }
    const float narrow = float(value);
    const auto r = double(narrow) == value ? std::to_chars(first, last, narrow) : std::to_chars(first, last, value);
    return r.ec == std::errc() ? r.ptr : nullptr;
}

QString exactText(double value)
{
    char buffer[32];
    char* end = appendExactText(buffer, buffer + sizeof buffer, value);
    return end ? QString::fromLatin1(buffer, end - buffer) : QString();
}

double jsonNumber(float value)
{
    if (!std::isfinite(value))
        return value;
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double result = value;
    std::from_chars(buffer, written.ptr, result);
    return result;
}
