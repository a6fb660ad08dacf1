#include "LinkTypes.h"
#include "LinkLog.h"
#include "PortSettings.h"

Q_LOGGING_CATEGORY(lcLink, "px.link")

const char* outcomeName(LinkOutcome outcome)
{
    switch (outcome) {
    case LinkOutcome::Answered: return "answered";
    case LinkOutcome::Timeout: return "timeout";
    case LinkOutcome::CrcError: return "crc";
    case LinkOutcome::Exception: return "exception";
    case LinkOutcome::Other: return "other";
    case LinkOutcome::DeviceGone: return "device gone";
    case LinkOutcome::NotOpen: return "not open";
    case LinkOutcome::PortInUse: return "port in use";
    case LinkOutcome::Skipped: return "skipped";
    }
    return "?";
}

namespace {
struct ExceptionRow {
    int code;
    const char16_t* text;
    const char* english;
};
constexpr ExceptionRow kExceptions[] = {
    {1, u"非法功能", "illegal function"},
    {2, u"非法数据地址", "illegal data address"},
    {3, u"非法数据值", "illegal data value"},
    {4, u"从站故障", "slave device failure"},
    {5, u"已受理，处理中", "acknowledged, still processing"},
    {6, u"从站忙", "slave device busy"},
    {8, u"存储奇偶校验错", "memory parity error"},
    {10, u"网关路径不可用", "gateway path unavailable"},
    {11, u"网关目标设备无响应", "gateway target failed to respond"},
};
const ExceptionRow* exceptionRow(int code)
{
    for (const ExceptionRow& row : kExceptions)
        if (row.code == code)
            return &row;
    return nullptr;
}
QString codeText(int code) { return QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper(); }
} // namespace

QString exceptionText(int code)
{
    const ExceptionRow* row = exceptionRow(code);
    return codeText(code) + u' ' + (row ? QString::fromUtf16(row->text) : QStringLiteral("未知异常"));
}

QString exceptionTextEnglish(int code)
{
    const ExceptionRow* row = exceptionRow(code);
    return codeText(code) + u' ' + QLatin1String(row ? row->english : "unknown exception");
}

QString writeFailureText(const WriteResult& result)
{
    QString text = QLatin1String(outcomeName(result.outcome));
    if (result.outcome == LinkOutcome::Exception && result.exceptionCode)
        text += u' ' + exceptionTextEnglish(result.exceptionCode);
    return text + QStringLiteral(" after %1 call(s)").arg(result.calls);
}

void registerLinkMetaTypes()
{
    static const bool once = [] {
        qRegisterMetaType<LinkOutcome>();
        qRegisterMetaType<ReadRequest>();
        qRegisterMetaType<ReadResult>();
        qRegisterMetaType<QVector<ReadRequest>>();
        qRegisterMetaType<QVector<ReadResult>>();
        qRegisterMetaType<QVector<LinkOutcome>>();
        qRegisterMetaType<WriteRequest>();
        qRegisterMetaType<WriteResult>();
        qRegisterMetaType<PortState>();
        qRegisterMetaType<PortSettings>();
        return true;
    }();
    Q_UNUSED(once);
}
