#include "SegmentFields.h"

#include "NumberText.h"

#include <QCoreApplication>

namespace SegmentMap {

QString groupCaption(int number)
{
    static const char* const captions[] = {
        QT_TRANSLATE_NOOP("SegmentMap", "第一组"), QT_TRANSLATE_NOOP("SegmentMap", "第二组"),
        QT_TRANSLATE_NOOP("SegmentMap", "第三组"), QT_TRANSLATE_NOOP("SegmentMap", "第四组"),
        QT_TRANSLATE_NOOP("SegmentMap", "第五组"), QT_TRANSLATE_NOOP("SegmentMap", "第六组"),
        QT_TRANSLATE_NOOP("SegmentMap", "第七组"), QT_TRANSLATE_NOOP("SegmentMap", "第八组"),
        QT_TRANSLATE_NOOP("SegmentMap", "第九组"), QT_TRANSLATE_NOOP("SegmentMap", "第十组"),
    };
    if (number < 1 || number > 10)
        return QString();
    return QCoreApplication::translate("SegmentMap", captions[number - 1]);
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

QString wordText(qint32 word, bool scaled) { return scaled ? doubleText(word / 10.0) : QString::number(word); }

QString switchText(qint32 word)
{
    return word != 0 ? QCoreApplication::translate("SegmentMap", "打开分组")
                     : QCoreApplication::translate("SegmentMap", "关闭分组");
}

} // namespace SegmentMap
