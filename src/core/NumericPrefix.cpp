#include "NumericPrefix.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// "&H" / "&O" integers: up to 4 digits are a 16-bit value and up to 8 a
// 32-bit value, both two's complement ("&HFFFF" is -1); longer ones overflow.
NumericPrefix parseRadix(QStringView text, qsizetype pos, int radix)
{
    quint64 magnitude = 0;
    int digits = 0;
    for (; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        if (isBlank(c))
            continue;
        const int digit = c.unicode() < 128 ? QChar(c).digitValue() : -1;
        int value = digit;
        if (radix == 16 && digit < 0) {
            const char ch = char(c.toLower().unicode());
            if (c.unicode() < 128 && ch >= 'a' && ch <= 'f')
                value = 10 + (ch - 'a');
        }
        if (value < 0 || value >= radix)
            break;
        magnitude = magnitude * radix + quint64(value);
        ++digits;
        if (magnitude > 0xFFFFFFFFull)
            return {0.0, false};
    }
    if (digits == 0)
        return {0.0, true};
    if (magnitude <= 0xFFFF)
        return {double(qint16(quint16(magnitude))), true};
    return {double(qint32(quint32(magnitude))), true};
}

} // namespace

NumericPrefix parseNumericPrefix(QStringView text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;

    if (pos + 1 < text.size() && text[pos] == u'&') {
        const QChar kind = text[pos + 1].toUpper();
        if (kind == u'H')
            return parseRadix(text, pos + 2, 16);
        if (kind == u'O')
            return parseRadix(text, pos + 2, 8);
    }

    // Collect the longest well-formed decimal literal, dropping blanks.
    std::string literal;
    enum class Stage { Sign, Integer, Fraction, ExponentSign, ExponentDigits } stage = Stage::Sign;
    bool mantissaDigits = false;
    std::string pendingExponent; // committed only once it has a digit
    for (; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        if (isBlank(c))
            continue;
        const char ch = c.toLatin1();
        const bool digit = ch >= '0' && ch <= '9' && c.unicode() < 128;
        switch (stage) {
        case Stage::Sign:
            if (ch == '+' || ch == '-') {
                literal += ch;
                stage = Stage::Integer;
                continue;
            }
            stage = Stage::Integer;
            [[fallthrough]];
        case Stage::Integer:
            if (digit) {
                literal += ch;
                mantissaDigits = true;
                continue;
            }
            if (ch == '.') {
                literal += ch;
                stage = Stage::Fraction;
                continue;
            }
            [[fallthrough]];
        case Stage::Fraction:
            if (digit) {
                literal += ch;
                mantissaDigits = true;
                continue;
            }
            if ((ch == 'e' || ch == 'E' || ch == 'd' || ch == 'D') && mantissaDigits) {
                pendingExponent = "e";
                stage = Stage::ExponentSign;
                continue;
            }
            break;
        case Stage::ExponentSign:
            if (ch == '+' || ch == '-') {
                pendingExponent += ch;
                stage = Stage::ExponentDigits;
                continue;
            }
            stage = Stage::ExponentDigits;
            [[fallthrough]];
        case Stage::ExponentDigits:
            if (digit) {
                pendingExponent += ch;
                continue;
            }
            break;
        }
        break;
    }
    if (!mantissaDigits)
        return {0.0, true};
    if (pendingExponent.size() > 1 && std::isdigit(static_cast<unsigned char>(pendingExponent.back())))
        literal += pendingExponent;

    const double value = std::strtod(literal.c_str(), nullptr);
    if (!std::isfinite(value))
        return {0.0, false};
    return {value, true};
}

double numericPrefix(QStringView text)
{
    const NumericPrefix n = parseNumericPrefix(text);
    return n.representable ? n.value : 0.0;
}
