#include "ParamTable.h"

#include "NumberText.h"
#include "NumericPrefix.h"
#include "Rounding.h"

#include <QCoreApplication>
#include <QtNumeric>

#include <algorithm>
#include <cmath>

namespace ParamTable {
namespace {

using sv = std::u16string_view;

// ---- Display texts, one list per code set --------------------------------

constexpr sv kInputTypeTexts[] = {
    u"K(-200~1300)",    u"S(0~1700)",           u"R(0~1700)",
    u"T(-200~400)",     u"E(0~1000)",           u"J(0~1200)",
    u"B(400~1800)",     u"N(0~1300)",           u"WRe325(0~2300)",
    u"WRe526(0~2300)",  u"Cu50(-50-150)",       u"PT100(-200-850)",
    u"0Ω80(0～80Ω)",    u"0Ω400(0～400Ω)",      u"0MA10(0～10MA)",
    u"0MA20(0～20MA)",  u"4MA20(4-20MA)",       u"0MV20(0-20MV)",
    u"0MV100(0-100MV)", u"正负20MV(-20-+20MV)", u"正负100MV(-100-+100MV)",
    u"0V1(0-1V)",       u"0V2(0-2V)",           u"0V5(0-5V)",
    u"1V5(1-5V)",       u"0V10(0-+10V)",        u"2V10(2-+10V)",
    u"正负5V(-5-+5V)",  u"正负10V(-10-+10V)",
};
// Digit patterns of the decimal-point codes; the label shows the code itself
// through its own pattern.
constexpr sv kDecimalPatterns[] = {u"0000", u"000.0", u"00.00", u"0.000"};
constexpr sv kSecondInputTexts[] = {u"禁止第二通道", u"1-5V输入", u"0-5V输入"};
constexpr sv kSecondFunctionTexts[] = {u"加热器断线报警", u"阀位反馈", u"远程给定"};
constexpr sv kControlModeTexts[] = {u"单输出", u"双输出"};
constexpr sv kOutputTypeTexts[] = {u"线性模拟", u"继电器", u"固态输出", u"可控硅"};
constexpr sv kSignalTexts[] = {u"4-20mA", u"0-10mA", u"0-20mA"};
constexpr sv kActionTexts[] = {u"加热反作用", u"制冷正作用"};
constexpr sv kAlarmTypeTexts[] = {u"无报警",     u"上限报警",   u"下限报警",      u"上偏差报警",
                                  u"下偏差报警", u"偏差带报警", u"加热器断线报警"};
constexpr sv kBaudTexts[] = {u"4800BPS", u"9600BPS", u"19200BPS"};
constexpr sv kParityTexts[] = {u"无校验", u"奇校验", u"偶校验"};
constexpr sv kTransmitEnableTexts[] = {u"无变送", u"有变送"};
constexpr sv kTransmitQuantityTexts[] = {u"变送测量值", u"变送设定值", u"变送输出值", u"变送(PV-SV)偏差"};
constexpr sv kUnitTexts[] = {u"摄氏度", u"华氏度", u"绝对温度"};
constexpr sv kFaultHandlingTexts[] = {u"异常转输出预置值", u"输出保持开路前状态"};

// ---- Choice lists (byte for byte; the trailing blanks belong to them) -----

constexpr sv kCombo1[] = {
    u"0:K(-200-1300)",
    u"1:S(0-1700) ",
    u"2:R(0-1700) ",
    u"3:T(-200-400) ",
    u"4:E(0-1000) ",
    u"5:J(0-1200) ",
    u"6:B(400-1800) ",
    u"7:N(0-1300) ",
    u"8 WRe325(0-2300)",
    u"9:WRe526(0-2300) ",
    u"10:Cu50(-50-150)",
    u"11:PT100(-200-850) ",
    u"12:0Ω80(0～80Ω) ",
    u"13:0Ω400(0～400Ω) ",
    u"14:0MA10(0～10MA) ",
    u"15:0MA20(0～20MA) ",
    u"16:4MA20(4-20MA) ",
    u"17:0MV20(0-20MV) ",
    u"18:0MV100(0-100MV)",
    u"19:正负20MV(-20-+20MV) ",
    u"20:正负100MV(-100-+100MV)",
    u"21:0V1(0-1V) ",
    u"22:0V2(0-2V) ",
    u"23:0V5(0-5V) ",
    u"24:1V5(1-5V) ",
    u"25:0V10(0-+10V) ",
    u"26:2V10(2-+10V) ",
    u"27:正负5V(-5-+5V) ",
    u"28:正负10V(-10-+10V) ",
};
constexpr sv kCombo5[] = {u"0:0000 ", u"1:000.0 ", u"2:00.00 ", u"3:0.000 "};
constexpr sv kCombo2[] = {u"0.1 ", u"0.2 ", u"0.3 ", u"0.4 ", u"0.5 ", u"0.6 ",
                          u"0.7 ", u"0.8 ", u"0.9 ", u"1.0 ", u"1.1 "};
constexpr sv kCombo17[] = {u"0:禁止使用 ", u"1:1-5V输入 ", u"2:0-5V输入 "};
constexpr sv kCombo16[] = {u"0:断线报警 ", u"1:阀位反馈 ", u"2:遥控设定 "};
constexpr sv kOutputTypeList[] = {u"0:线性输出 ", u"1:继电器 ", u"2:固态输出 ", u"3:可控硅 "}; // Combo4, Combo7
constexpr sv kSignalList[] = {u"0:4-20mA ", u"1:0-10mA ", u"2:0-20mA "};                       // Combo6, 8, 13
constexpr sv kAlarmTypeList[] = {u"0:无",      u"1:上限报警 ", u"2:下限报警 ", u"3:上偏差",
                                 u"4:下偏差 ", u"5:偏差带 ",   u"6:断线报警 "}; // Combo9, Combo10
constexpr sv kCombo11[] = {u"0:4800BPS ", u"1:9600BPS ", u"2:19200BPS "};
constexpr sv kCombo12[] = {u"0:无校验 ", u"1:奇校验 ", u"2:偶校验 "};
constexpr sv kCombo14[] = {u"0:变送测量值 ", u"1:变送设定值 ", u"2:变送输出值 ", u"3:变送（PV-SV)值 "};
constexpr sv kCombo3[] = {u"0:摄氏度 ", u"1:华氏度 ", u"2:绝对温度 "};
constexpr sv kCombo15[] = {u"0:转预置 ", u"1:保持开路前 "};

// Control cycle time (tenths of a second) that suits each output 1 type:
// linear 0.1, relay 10.0, solid-state 2.0, thyristor 2.0.
constexpr qint32 kCycleTimeForOutputType[] = {1, 100, 20, 20};
constexpr int kCycleTimeIndex = 33;

// ---- Row builders -----------------------------------------------------------

constexpr ParamDef choice(int i, Page page, sv caption, Encoding encoding, sv combo, Texts display, Texts entries,
                          double minimum, double maximum)
{
    return ParamDef{i,        kFirstRegister + i,
                    page,     caption,
                    encoding, Editor::Choice,
                    combo,    {},
                    minimum,  maximum,
                    display,  entries,
                    {},       -1,
                    {}};
}

constexpr ParamDef enumeration(int i, Page page, sv caption, sv combo, Texts display, Texts entries)
{
    return choice(i, page, caption, Encoding::Enumeration, combo, display, entries, 0, double(entries.size() - 1));
}

constexpr ParamDef optionPair(int i, Page page, sv caption, sv name, sv frame, Texts display, sv option0, sv option1)
{
    return ParamDef{
        i,  kFirstRegister + i, page, caption, Encoding::OptionPair, Editor::Options, name, frame, 0, 1, display,
        {}, {option0, option1}, -1,   {}};
}

constexpr ParamDef number(int i, Page page, sv caption, Encoding encoding, sv box, double minimum, double maximum)
{
    return ParamDef{
        i, kFirstRegister + i, page, caption, encoding, Editor::NumberBox, box, {}, minimum, maximum, {}, {}, {}, -1,
        {}};
}

constexpr ParamDef withLinkedWrite(ParamDef def, int linkedIndex, std::span<const qint32> values)
{
    def.linkedIndex = linkedIndex;
    def.linkedValues = values;
    return def;
}

using enum Page;
using enum Encoding;

constexpr ParamDef kParams[kCount] = {
    enumeration(0, Input, u"输入类型", u"Combo1", kInputTypeTexts, kCombo1),
    choice(1, Input, u"小数点", DecimalPoint, u"Combo5", kDecimalPatterns, kCombo5, 0, 3),
    number(2, Input, u"量程上限", Integer, u"D_4wT_2", -1999, 9999),
    number(3, Input, u"量程下限", Integer, u"D_4wT_3", -1999, 9999),
    choice(4, Input, u"数字滤波", Filter, u"Combo2", {}, kCombo2, 1, 11),
    number(5, Input, u"偏移修正", Integer, u"D_4wT_5", -500, 500),
    enumeration(6, Input, u"第二输入使能", u"Combo17", kSecondInputTexts, kCombo17),
    enumeration(7, Input, u"第二输入功能", u"Combo16", kSecondFunctionTexts, kCombo16),
    number(8, Input, u"第二输入上限", Integer, u"D_4wT_8", -1999, 9999),
    number(9, Input, u"第二输入下限", Integer, u"D_4wT_9", -1999, 9999),
    optionPair(10, Output, u"控制方式", u"Option4", u"Frame6_1", kControlModeTexts, u"单出", u"双出"),
    withLinkedWrite(enumeration(11, Output, u"输出一类型", u"Combo4", kOutputTypeTexts, kOutputTypeList),
                    kCycleTimeIndex, kCycleTimeForOutputType),
    enumeration(12, Output, u"输出一信号", u"Combo6", kSignalTexts, kSignalList),
    optionPair(13, Output, u"输出一动作", u"Option5", u"Frame6_2", kActionTexts, u"反作用", u"正作用"),
    enumeration(14, Output, u"输出二类型", u"Combo7", kOutputTypeTexts, kOutputTypeList),
    enumeration(15, Output, u"输出二信号", u"Combo8", kSignalTexts, kSignalList),
    optionPair(16, Output, u"输出二动作", u"Option6", u"Frame6_4", kActionTexts, u"反作用", u"正作用"),
    enumeration(17, Alarm, u"报警一类型", u"Combo9", kAlarmTypeTexts, kAlarmTypeList),
    enumeration(18, Alarm, u"报警二类型", u"Combo10", kAlarmTypeTexts, kAlarmTypeList),
    number(19, Comm, u"通讯地址", Integer, u"D_4wT_19", 1, 255),
    enumeration(20, Comm, u"波特率", u"Combo11", kBaudTexts, kCombo11),
    enumeration(21, Comm, u"校验方式", u"Combo12", kParityTexts, kCombo12),
    number(22, Comm, u"通讯延迟", Integer, u"D_4wT_22", 0, 60),
    optionPair(23, Return, u"变送使能", u"Option7", u"Frame6_5", kTransmitEnableTexts, u"禁止", u"允许"),
    enumeration(24, Return, u"变送量程", u"Combo13", kSignalTexts, kSignalList),
    number(25, Return, u"变送上限", Integer, u"D_4wT_25", -1999, 9999),
    number(26, Return, u"变送下限", Integer, u"D_4wT_26", -1999, 9999),
    enumeration(27, Return, u"变送参数", u"Combo14", kTransmitQuantityTexts, kCombo14),
    enumeration(28, Input, u"温度单位切换", u"Combo3", kUnitTexts, kCombo3),
    number(29, Pid, u"输出1比例带", Integer, u"D_4wT_29", 0, 9999),
    number(30, Pid, u"输出2比例带", Integer, u"D_4wT_30", 0, 9999),
    number(31, Pid, u"积分时间", Integer, u"D_4wT_31", 0, 5000),
    number(32, Pid, u"微分时间", Tenths, u"D_4wT_32", 0, 999.9),
    number(33, Pid, u"控制周期时间", Tenths, u"D_4wT_33", 0, 200),
    number(34, Pid, u"控制回差", Integer, u"D_4wT_34", 0, 2000),
    number(35, Pid, u"输出上限幅", Tenths, u"D_4wT_35", 0, 100),
    number(36, Pid, u"输出下限幅", Tenths, u"D_4wT_36", 0, 100),
    number(37, Input, u"输入异常预置", Tenths, u"D_4wT_37", 0, 100),
    enumeration(38, Input, u"输入异常处理", u"Combo15", kFaultHandlingTexts, kCombo15),
};

template <std::size_t N> constexpr bool rowsInIndexOrder(const ParamDef (&rows)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (rows[i].index != int(i) || rows[i].address != kFirstRegister + int(i))
            return false;
    return true;
}
static_assert(rowsInIndexOrder(kParams), "parameter rows must be in index order");

constexpr int kInputLeft[] = {0, 1, 2, 3, 4, 5, 37, 38};
constexpr int kInputRight[] = {6, 7, 8, 9, 28};
constexpr int kOutputLeft[] = {10, 11, 12, 13};
constexpr int kOutputRight[] = {14, 15, 16};
constexpr int kAlarmRows[] = {17, 18};
constexpr int kCommRows[] = {19, 20, 21, 22};
constexpr int kReturnRows[] = {23, 24, 25, 26, 27};
constexpr int kPidLeft[] = {29, 30, 31, 32, 33, 34};
constexpr int kPidRight[] = {35, 36};

constexpr PageLayout kPages[] = {
    {Input, kInputLeft, kInputRight}, {Output, kOutputLeft, kOutputRight},
    {Alarm, kAlarmRows, {}},          {Comm, kCommRows, {}},
    {Return, kReturnRows, {}},        {Pid, kPidLeft, kPidRight},
};

// Combo1, Combo5, Combo2, Combo15, Combo16, Combo17, Combo3, Combo4, Combo6,
// Combo7, Combo8, Combo9, Combo10, Combo11, Combo12, Combo13, Combo14.
constexpr int kFillOrder[] = {0, 1, 4, 38, 7, 6, 28, 11, 12, 14, 15, 17, 18, 20, 21, 24, 27};

// The Chinese texts of the rows above, spelled as the translation tools read
// them: the rows keep UTF-16 views, and shown() looks each one up by its
// UTF-8 spelling. A text missing here is shown untranslated.
constexpr const char* kTranslatable[] = {
    QT_TRANSLATE_NOOP("ParamTable", "正负20MV(-20-+20MV)"),
    QT_TRANSLATE_NOOP("ParamTable", "正负100MV(-100-+100MV)"),
    QT_TRANSLATE_NOOP("ParamTable", "正负5V(-5-+5V)"),
    QT_TRANSLATE_NOOP("ParamTable", "正负10V(-10-+10V)"),
    QT_TRANSLATE_NOOP("ParamTable", "禁止第二通道"),
    QT_TRANSLATE_NOOP("ParamTable", "1-5V输入"),
    QT_TRANSLATE_NOOP("ParamTable", "0-5V输入"),
    QT_TRANSLATE_NOOP("ParamTable", "加热器断线报警"),
    QT_TRANSLATE_NOOP("ParamTable", "阀位反馈"),
    QT_TRANSLATE_NOOP("ParamTable", "远程给定"),
    QT_TRANSLATE_NOOP("ParamTable", "单输出"),
    QT_TRANSLATE_NOOP("ParamTable", "双输出"),
    QT_TRANSLATE_NOOP("ParamTable", "线性模拟"),
    QT_TRANSLATE_NOOP("ParamTable", "继电器"),
    QT_TRANSLATE_NOOP("ParamTable", "固态输出"),
    QT_TRANSLATE_NOOP("ParamTable", "可控硅"),
    QT_TRANSLATE_NOOP("ParamTable", "加热反作用"),
    QT_TRANSLATE_NOOP("ParamTable", "制冷正作用"),
    QT_TRANSLATE_NOOP("ParamTable", "无报警"),
    QT_TRANSLATE_NOOP("ParamTable", "上限报警"),
    QT_TRANSLATE_NOOP("ParamTable", "下限报警"),
    QT_TRANSLATE_NOOP("ParamTable", "上偏差报警"),
    QT_TRANSLATE_NOOP("ParamTable", "下偏差报警"),
    QT_TRANSLATE_NOOP("ParamTable", "偏差带报警"),
    QT_TRANSLATE_NOOP("ParamTable", "无校验"),
    QT_TRANSLATE_NOOP("ParamTable", "奇校验"),
    QT_TRANSLATE_NOOP("ParamTable", "偶校验"),
    QT_TRANSLATE_NOOP("ParamTable", "无变送"),
    QT_TRANSLATE_NOOP("ParamTable", "有变送"),
    QT_TRANSLATE_NOOP("ParamTable", "变送测量值"),
    QT_TRANSLATE_NOOP("ParamTable", "变送设定值"),
    QT_TRANSLATE_NOOP("ParamTable", "变送输出值"),
    QT_TRANSLATE_NOOP("ParamTable", "变送(PV-SV)偏差"),
    QT_TRANSLATE_NOOP("ParamTable", "摄氏度"),
    QT_TRANSLATE_NOOP("ParamTable", "华氏度"),
    QT_TRANSLATE_NOOP("ParamTable", "绝对温度"),
    QT_TRANSLATE_NOOP("ParamTable", "异常转输出预置值"),
    QT_TRANSLATE_NOOP("ParamTable", "输出保持开路前状态"),
    QT_TRANSLATE_NOOP("ParamTable", "19:正负20MV(-20-+20MV) "),
    QT_TRANSLATE_NOOP("ParamTable", "20:正负100MV(-100-+100MV)"),
    QT_TRANSLATE_NOOP("ParamTable", "27:正负5V(-5-+5V) "),
    QT_TRANSLATE_NOOP("ParamTable", "28:正负10V(-10-+10V) "),
    QT_TRANSLATE_NOOP("ParamTable", "0:禁止使用 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:1-5V输入 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:0-5V输入 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:断线报警 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:阀位反馈 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:遥控设定 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:线性输出 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:继电器 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:固态输出 "),
    QT_TRANSLATE_NOOP("ParamTable", "3:可控硅 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:无"),
    QT_TRANSLATE_NOOP("ParamTable", "1:上限报警 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:下限报警 "),
    QT_TRANSLATE_NOOP("ParamTable", "3:上偏差"),
    QT_TRANSLATE_NOOP("ParamTable", "4:下偏差 "),
    QT_TRANSLATE_NOOP("ParamTable", "5:偏差带 "),
    QT_TRANSLATE_NOOP("ParamTable", "6:断线报警 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:无校验 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:奇校验 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:偶校验 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:变送测量值 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:变送设定值 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:变送输出值 "),
    QT_TRANSLATE_NOOP("ParamTable", "3:变送（PV-SV)值 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:摄氏度 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:华氏度 "),
    QT_TRANSLATE_NOOP("ParamTable", "2:绝对温度 "),
    QT_TRANSLATE_NOOP("ParamTable", "0:转预置 "),
    QT_TRANSLATE_NOOP("ParamTable", "1:保持开路前 "),
    QT_TRANSLATE_NOOP("ParamTable", "输入类型"),
    QT_TRANSLATE_NOOP("ParamTable", "小数点"),
    QT_TRANSLATE_NOOP("ParamTable", "量程上限"),
    QT_TRANSLATE_NOOP("ParamTable", "量程下限"),
    QT_TRANSLATE_NOOP("ParamTable", "数字滤波"),
    QT_TRANSLATE_NOOP("ParamTable", "偏移修正"),
    QT_TRANSLATE_NOOP("ParamTable", "第二输入使能"),
    QT_TRANSLATE_NOOP("ParamTable", "第二输入功能"),
    QT_TRANSLATE_NOOP("ParamTable", "第二输入上限"),
    QT_TRANSLATE_NOOP("ParamTable", "第二输入下限"),
    QT_TRANSLATE_NOOP("ParamTable", "控制方式"),
    QT_TRANSLATE_NOOP("ParamTable", "单出"),
    QT_TRANSLATE_NOOP("ParamTable", "双出"),
    QT_TRANSLATE_NOOP("ParamTable", "输出一类型"),
    QT_TRANSLATE_NOOP("ParamTable", "输出一信号"),
    QT_TRANSLATE_NOOP("ParamTable", "输出一动作"),
    QT_TRANSLATE_NOOP("ParamTable", "反作用"),
    QT_TRANSLATE_NOOP("ParamTable", "正作用"),
    QT_TRANSLATE_NOOP("ParamTable", "输出二类型"),
    QT_TRANSLATE_NOOP("ParamTable", "输出二信号"),
    QT_TRANSLATE_NOOP("ParamTable", "输出二动作"),
    QT_TRANSLATE_NOOP("ParamTable", "报警一类型"),
    QT_TRANSLATE_NOOP("ParamTable", "报警二类型"),
    QT_TRANSLATE_NOOP("ParamTable", "通讯地址"),
    QT_TRANSLATE_NOOP("ParamTable", "波特率"),
    QT_TRANSLATE_NOOP("ParamTable", "校验方式"),
    QT_TRANSLATE_NOOP("ParamTable", "通讯延迟"),
    QT_TRANSLATE_NOOP("ParamTable", "变送使能"),
    QT_TRANSLATE_NOOP("ParamTable", "禁止"),
    QT_TRANSLATE_NOOP("ParamTable", "允许"),
    QT_TRANSLATE_NOOP("ParamTable", "变送量程"),
    QT_TRANSLATE_NOOP("ParamTable", "变送上限"),
    QT_TRANSLATE_NOOP("ParamTable", "变送下限"),
    QT_TRANSLATE_NOOP("ParamTable", "变送参数"),
    QT_TRANSLATE_NOOP("ParamTable", "温度单位切换"),
    QT_TRANSLATE_NOOP("ParamTable", "输出1比例带"),
    QT_TRANSLATE_NOOP("ParamTable", "输出2比例带"),
    QT_TRANSLATE_NOOP("ParamTable", "积分时间"),
    QT_TRANSLATE_NOOP("ParamTable", "微分时间"),
    QT_TRANSLATE_NOOP("ParamTable", "控制周期时间"),
    QT_TRANSLATE_NOOP("ParamTable", "控制回差"),
    QT_TRANSLATE_NOOP("ParamTable", "输出上限幅"),
    QT_TRANSLATE_NOOP("ParamTable", "输出下限幅"),
    QT_TRANSLATE_NOOP("ParamTable", "输入异常预置"),
    QT_TRANSLATE_NOOP("ParamTable", "输入异常处理"),
};

// Fixed-point text with at least `integerDigits` digits before the point and
// exactly `decimals` after it, as a digit pattern like "000.0" formats.
QString patternText(double value, int integerDigits, int decimals)
{
    const bool negative = value < 0;
    QString digits = QString::number(std::fabs(value), 'f', decimals);
    const int point = decimals > 0 ? int(digits.indexOf(u'.')) : int(digits.size());
    if (point < integerDigits)
        digits.prepend(QString(integerDigits - point, u'0'));
    const bool zero = std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c == u'0' || c == u'.'; });
    return negative && !zero ? u'-' + digits : digits; // never "-00.0"
}

QString patternText(double value, sv pattern)
{
    const QStringView p(pattern);
    const qsizetype point = p.indexOf(u'.');
    const int integerDigits = int(point < 0 ? p.size() : point);
    const int decimals = int(point < 0 ? 0 : p.size() - point - 1);
    return patternText(value, integerDigits, decimals);
}

bool validCode(Texts texts, qint32 code) { return code >= 0 && code < qint32(texts.size()); }

bool inTenths(const ParamDef& def) { return def.encoding == Tenths || def.encoding == Filter; }

std::optional<qint32> scaled(const ParamDef& def, double value)
{
    return roundHalfEven32(inTenths(def) ? value * 10.0 : value);
}

// What a choice row or option pair offers, by the number the operator reads
// at the start of each entry (the code; the filter's value).
EntryRule::Verdict choiceVerdict(const ParamDef& def, double typed)
{
    const auto offered = [&def](std::size_t n) {
        return def.editor == Editor::Options ? double(n) : numericPrefix(QStringView(def.entries[n]));
    };
    const std::size_t count = def.editor == Editor::Options ? def.options.size() : def.entries.size();
    for (std::size_t n = 0; n < count; ++n)
        if (offered(n) == typed)
            return EntryRule::accepted(*scaled(def, typed));
    return EntryRule::refused(EntryRule::outOfRangeText(offered(0), offered(count - 1)));
}

} // namespace

const ParamDef& param(int index)
{
    Q_ASSERT(index >= 0 && index < kCount);
    return kParams[index];
}

std::span<const ParamDef> all() { return kParams; }

QString pageCaption(Page page)
{
    switch (page) {
    case Input: return QStringLiteral("Input ");
    case Output: return QStringLiteral("Output");
    case Alarm: return QStringLiteral("Alarm");
    case Comm: return QStringLiteral("Comm");
    case Return: return QStringLiteral("Return");
    case Pid: return QStringLiteral("PID");
    }
    return {};
}

std::span<const PageLayout> pageLayouts() { return kPages; }
std::span<const int> choiceFillOrder() { return kFillOrder; }

QString text(std::u16string_view view) { return QStringView(view).toString(); }

QString shown(std::u16string_view view)
{
    return QCoreApplication::translate("ParamTable", QStringView(view).toUtf8().constData());
}

std::span<const char* const> translatableTexts() { return kTranslatable; }

std::optional<QString> displayText(int index, qint32 value)
{
    if (index < 0 || index >= kCount)
        return std::nullopt;
    const ParamDef& def = kParams[index];
    switch (def.encoding) {
    case Enumeration:
    case OptionPair:
        if (!validCode(def.displayTexts, value))
            return std::nullopt;
        return shown(def.displayTexts[std::size_t(value)]);
    case DecimalPoint:
        if (!validCode(def.displayTexts, value))
            return std::nullopt;
        return patternText(value, def.displayTexts[std::size_t(value)]);
    case Filter: return patternText(value / 10.0, 2, 1);
    case Integer: return QString::number(value);
    case Tenths: return doubleText(value / 10.0);
    }
    return std::nullopt;
}

QString displayText(int index, qint32 value, const QString& previousText)
{
    return displayText(index, value).value_or(previousText);
}

std::optional<qint32> valueToWrite(int index, ChoiceEntry choice)
{
    if (index < 0 || index >= kCount)
        return std::nullopt;
    const ParamDef& def = kParams[index];
    if (def.editor != Editor::Choice || choice.entry < 0 || choice.entry >= int(def.entries.size()))
        return std::nullopt;
    // The entry's leading number is what goes to the instrument, not its position.
    return scaled(def, numericPrefix(QStringView(def.entries[std::size_t(choice.entry)])));
}

std::optional<qint32> valueToWrite(int index, OptionChoice option)
{
    if (index < 0 || index >= kCount || kParams[index].editor != Editor::Options)
        return std::nullopt;
    return option.option == 0 ? 0 : 1;
}

std::optional<qint32> valueToWrite(int index, QStringView boxText)
{
    if (!bounds(index))
        return std::nullopt;
    return entryVerdict(index, boxText).value;
}

std::optional<EntryRule::Bounds> bounds(int index)
{
    if (index < 0 || index >= kCount || kParams[index].editor != Editor::NumberBox)
        return std::nullopt;
    const ParamDef& def = kParams[index];
    return EntryRule::Bounds{def.minimum, def.maximum, inTenths(def) ? 10 : 1};
}

EntryRule::Verdict entryVerdict(int index, QStringView text)
{
    if (index < 0 || index >= kCount)
        return EntryRule::refused(QCoreApplication::translate("EntryRule", "无此参数"));
    if (const std::optional<EntryRule::Bounds> box = bounds(index))
        return EntryRule::read(text, *box);
    const NumericPrefix typed = parseNumericPrefix(text);
    if (!typed.found)
        return EntryRule::refused(EntryRule::noNumberText());
    return choiceVerdict(kParams[index], typed.representable ? typed.value : qQNaN());
}

std::optional<LinkedWrite> linkedWrite(int index, qint32 written)
{
    if (index < 0 || index >= kCount)
        return std::nullopt;
    const ParamDef& def = kParams[index];
    if (def.linkedIndex < 0 || written < 0 || written >= qint32(def.linkedValues.size()))
        return std::nullopt;
    return LinkedWrite{kFirstRegister + def.linkedIndex, def.linkedValues[std::size_t(written)]};
}

} // namespace ParamTable
