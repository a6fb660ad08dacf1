#pragma once
#include "EntryRule.h"

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

// The instrument's segment table, grouping switch and PID groups as data:
// one row per column of the window's grids. Both the refresh and the
// write-back of the grouped-PID window are driven from here.
namespace SegmentMap {

// Grouping switch and segment table: register = 4609 + i, i = 0..40.
inline constexpr int kSwitchRegister = 4609;
inline constexpr char kSwitchCaption[] = QT_TRANSLATE_NOOP("SegmentMap", "分组输出允许"); // UTF-8
inline constexpr int kSegmentBase = 4609;
inline constexpr int kSegmentRows = 10;
inline constexpr int kFieldsPerSegment = 4;
inline constexpr int kLastSegmentIndex = kSegmentRows * kFieldsPerSegment; // 40

// PID groups: register = 5121 + j; six words per group, three of them used.
inline constexpr int kPidBase = 5121;
inline constexpr int kPidGroups = 5;
inline constexpr int kWordsPerPidGroup = 6;

// Instrument values lie in this range; entries outside it are refused.
inline constexpr double kEntryMin = -1999.0;
inline constexpr double kEntryMax = 9999.0;

struct Column {
    const char* caption; // UTF-8; shown through QCoreApplication::translate("SegmentMap", caption)
    int offset;          // field f within the row or group
    bool scaled;         // held in tenths: shown / 10, entered x 10
};

inline constexpr std::array<Column, 4> kSegmentColumns{{
    {QT_TRANSLATE_NOOP("SegmentMap", "温度"), 1, false},
    {QT_TRANSLATE_NOOP("SegmentMap", "上限"), 2, true},
    {QT_TRANSLATE_NOOP("SegmentMap", "下限"), 3, true},
    {QT_TRANSLATE_NOOP("SegmentMap", "PID组"), 4, false},
}};

// Offsets 1, 4 and 5 of each group are not the operator's business.
inline constexpr std::array<Column, 3> kPidColumns{{
    {QT_TRANSLATE_NOOP("SegmentMap", "比例P"), 0, false},
    {QT_TRANSLATE_NOOP("SegmentMap", "积分I"), 2, false},
    {QT_TRANSLATE_NOOP("SegmentMap", "微分D"), 3, true},
}};

enum class Block { Segment, PidGroup };

// One entry box and its value label.
struct Field {
    Block block = Block::Segment;
    int index = 0;           // i of D_4WRW(i)/Text1(i), or j of D_4WRWC(j)/Text1C(j)
    int holdingRegister = 0; // where a write goes
    bool scaled = false;
};

// row 1..10, column 0..3 of kSegmentColumns
constexpr Field segmentField(int row, int column)
{
    const Column& c = kSegmentColumns[std::size_t(column)];
    const int i = kFieldsPerSegment * (row - 1) + c.offset;
    return Field{Block::Segment, i, kSegmentBase + i, c.scaled};
}

// group 1..5, column 0..2 of kPidColumns
constexpr Field pidField(int group, int column)
{
    const Column& c = kPidColumns[std::size_t(column)];
    const int j = kWordsPerPidGroup * (group - 1) + c.offset;
    return Field{Block::PidGroup, j, kPidBase + j, c.scaled};
}

// Whether segment word i is held in tenths (upper and lower limits).
constexpr bool segmentWordScaled(int i) { return i > 0 && (i % 4 == 2 || i % 4 == 3); }

// "第一组" .. "第十组"
QString groupCaption(int number);

QString labelName(const Field& field); // "D_4WRW_5", "D_4WRWC_9"
QString entryName(const Field& field); // "Text1_5", "Text1C_9"

// The five 16-register reads of one refresh, in order, and where each lands:
// reads 0-2 fill segment words 0-47, reads 3-4 PID-group words 0-31.
struct BlockRead {
    int firstRegister;
    Block block;
    int firstWord;
};
inline constexpr int kWordsPerRead = 16;
inline constexpr std::array<BlockRead, 5> kRefreshReads{{
    {4609, Block::Segment, 0},
    {4625, Block::Segment, 16},
    {4641, Block::Segment, 32},
    {5121, Block::PidGroup, 0},
    {5137, Block::PidGroup, 16},
}};
inline constexpr int kSegmentWords = 48;
inline constexpr int kPidWords = 32;

// The register value an entry text stands for, or why it is refused: the
// station's entry rule with bounds -1999..9999 on the number as typed and
// x 10 for scaled fields (whose register then caps them at 3276.7).
EntryRule::Bounds bounds(bool scaled);
EntryRule::Verdict entryVerdict(QStringView text, bool scaled);

// How a register word is shown: plain integer, or word / 10 for scaled fields.
QString wordText(qint32 word, bool scaled);

// The grouping switch's label text.
QString switchText(qint32 word);

} // namespace SegmentMap
