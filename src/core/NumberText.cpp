#include "NumberText.h"

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
