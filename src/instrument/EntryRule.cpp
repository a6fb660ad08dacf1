#include "EntryRule.h"

#include "NumberText.h"
#include "NumericPrefix.h"
#include "Rounding.h"

#include <QCoreApplication>
#include <algorithm>

namespace EntryRule {

Bounds effective(Bounds written)
{
    const double factor = written.factor;
    // kRegisterMax / 10.0 is the double nearest 3276.7, the same one the
    // operator's "3276.7" parses to, so the last valid entry stays valid.
    return Bounds{std::max(written.lower, kRegisterMin / factor), std::min(written.upper, kRegisterMax / factor),
                  written.factor};
}

QString outOfRangeText(double lower, double upper)
{
    return QCoreApplication::translate("EntryRule", "超出范围 %1 ~ %2").arg(doubleText(lower), doubleText(upper));
}

QString refusalText(Bounds written)
{
    const Bounds b = effective(written);
    return outOfRangeText(b.lower, b.upper);
}

QString noNumberText() { return QCoreApplication::translate("EntryRule", "不是数值"); }

Verdict refused(QString reason) { return Verdict{std::nullopt, std::move(reason)}; }
Verdict accepted(qint32 value) { return Verdict{value, QString()}; }

Verdict read(QStringView text, Bounds written)
{
    const Bounds b = effective(written);
    const NumericPrefix number = parseNumericPrefix(text);
    if (!number.found)
        return refused(noNumberText());
    if (!number.representable || !(number.value >= b.lower && number.value <= b.upper))
        return refused(refusalText(written));
    // Within the effective bounds the rounded value always fits; the 16-bit
    // rounding keeps that true should a table ever get it wrong.
    const std::optional<qint16> value = roundHalfEven16(number.value * b.factor);
    if (!value)
        return refused(refusalText(written));
    return accepted(*value);
}

} // namespace EntryRule
