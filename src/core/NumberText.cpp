#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
QString shortest(double value, int digits)
{
    if (value == 0.0 || std::isnan(value))
        return QStringLiteral("0"); // never "-0"
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    QString text = QString::fromLatin1(buffer);
    // %g keeps no trailing zeros in the fraction, but writes exponents as
    // "1e+07"; keep that form, it is still unambiguous for an operator.
    return text;
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
