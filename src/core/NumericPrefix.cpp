#include "NumericPrefix.h"

#include <QString>
#include <charconv>
#include <cmath>
#include <string>

namespace {

constexpr NumericPrefix kNoNumber{0.0, true, false};

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
        return kNoNumber;
    if (magnitude <= 0xFFFF)
        return {double(qint16(quint16(magnitude))), true};
    return {double(qint32(quint32(magnitude))), true};
}

// A well-formed literal that from_chars found out of range: whether it is
// too large (rather than too small, which reads as 0). Its order of magnitude
// is the place of the first non-zero mantissa digit plus the exponent.
bool overflows(const std::string& literal)
{
    long long order = 0;
    bool beforePoint = true;
    bool leading = true;
    std::size_t i = 0;
    for (; i < literal.size() && literal[i] != 'e'; ++i) {
        const char ch = literal[i];
        if (ch == '.') {
            beforePoint = false;
        } else if (ch >= '0' && ch <= '9') {
            if (leading && ch == '0') {
                if (!beforePoint)
                    --order;
                continue;
            }
            leading = false;
            if (beforePoint)
                ++order;
        }
    }
    long long exponent = 0;
    bool negative = false;
    for (++i; i < literal.size(); ++i) {
        if (literal[i] == '-')
            negative = true;
        else if (literal[i] >= '0' && literal[i] <= '9' && exponent < 100000000)
            exponent = exponent * 10 + (literal[i] - '0');
    }
    return order + (negative ? -exponent : exponent) > 0;
}

NumericPrefix parseAscii(QStringView text);

} // namespace

NumericPrefix parseNumericPrefix(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() >= 128)
            return parseAscii(text.toString().normalized(QString::NormalizationForm_KC));
    return parseAscii(text);
}

namespace {

NumericPrefix parseAscii(QStringView text)
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
                pendingExponent.assign(1, 'e'); // not = "e": GCC 12 warns falsely on it
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
        return kNoNumber;
    if (pendingExponent.size() > 1 && pendingExponent.back() >= '0' && pendingExponent.back() <= '9')
        literal += pendingExponent;

    // from_chars reads no '+' and never looks at the locale's decimal point.
    const char* first = literal.data() + (literal[0] == '+' ? 1 : 0);
    double value = 0.0;
    const auto r = std::from_chars(first, literal.data() + literal.size(), value);
    if (r.ec == std::errc::result_out_of_range)
        return overflows(literal) ? NumericPrefix{0.0, false} : NumericPrefix{0.0, true};
    if (r.ec != std::errc() || !std::isfinite(value))
        return {0.0, false};
    return {value, true};
}

} // namespace

double numericPrefix(QStringView text)
{
    const NumericPrefix n = parseNumericPrefix(text);
    return n.representable ? n.value : 0.0;
}
