#include "SegmentFields.h"

#include "NumberText.h"

namespace SegmentMap {

QString groupCaption(int number)
{
    static const char16_t digits[] = u"一二三四五六七八九十";
    if (number < 1 || number > 10)
        return QString();
    return QStringLiteral("第") + QChar(digits[number - 1]) + QStringLiteral("组");
}

QString labelName(const Field& field)
{
    return (field.block == Block::Segment ? QStringLiteral("D_4WRW_") : QStringLiteral("D_4WRWC_"))
        + QString::number(field.index);
}

QString entryName(const Field& field)
{
    return (field.block == Block::Segment ? QStringLiteral("Text1_") : QStringLiteral("Text1C_"))
        + QString::number(field.index);
}

EntryRule::Bounds bounds(bool scaled) { return EntryRule::Bounds{kEntryMin, kEntryMax, scaled ? 10 : 1}; }

EntryRule::Verdict entryVerdict(QStringView text, bool scaled) { return EntryRule::read(text, bounds(scaled)); }

std::optional<qint32> entryValue(QStringView text, bool scaled) { return entryVerdict(text, scaled).value; }

QString wordText(qint32 word, bool scaled)
{
    return scaled ? doubleText(word / 10.0) : QString::number(word);
}

QString switchText(qint32 word)
{
    return word != 0 ? QStringLiteral("打开分组") : QStringLiteral("关闭分组");
}

} // namespace SegmentMap
