#include "WriteEntry.h"

QString WriteEntry::source(const WriteRequest& request, const WriteLabel& label)
{
    if (!label.source.isEmpty())
        return label.source;
    return request.fn == WriteFn::Set_4X_D1 ? QString::number(request.address)
                                            : QStringLiteral("coil %1").arg(request.address);
}

qint32 WriteEntry::valueOf(const WriteRequest& request)
{
    switch (request.fn) {
    case WriteFn::Set_4X_D1: return request.value;
    case WriteFn::Set_0X_Bit1: return 1;
    case WriteFn::Rst_0X_Bit1: return 0;
    }
    return 0;
}

QString WriteEntry::valueText(std::optional<qint32> raw, int divisor)
{
    if (!raw)
        return QString();
    if (divisor == 10)
        return QString::number(*raw / 10.0, 'f', 1);
    return QString::number(*raw);
}

namespace {
JournalEvent writeEvent(const WriteRequest& request, const WriteLabel& label)
{
    JournalEvent e;
    e.kind = QString::fromUtf16(JournalKind::Write);
    e.source = WriteEntry::source(request, label);
    return e;
}

QString nameOf(const WriteLabel& label, const QString& source) { return label.name.isEmpty() ? source : label.name; }
} // namespace

JournalEvent WriteEntry::sent(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                              const WriteResult& result)
{
    JournalEvent e = writeEvent(request, label);
    const bool ok = result.outcome == LinkOutcome::Answered;
    e.message = QStringLiteral("修改%1").arg(nameOf(label, e.source));
    // The instrument's reason for refusing, when it gave one.
    const QString code = result.outcome == LinkOutcome::Exception && result.exceptionCode
                             ? exceptionText(result.exceptionCode)
                             : QString();
    if (!ok)
        e.message +=
            QStringLiteral("（%1，%2）")
                .arg(result.calls > 1 ? QStringLiteral("重发一次后仍失败") : QStringLiteral("写入失败"),
                     QString::fromLatin1(outcomeName(result.outcome)) + (code.isEmpty() ? QString() : u' ' + code));
    e.oldValue = valueText(old, label.divisor);
    e.newValue = valueText(valueOf(request), label.divisor);
    e.result = ok               ? QStringLiteral("ok")
               : code.isEmpty() ? QStringLiteral("failed")
                                : QStringLiteral("failed: %1").arg(code);
    return e;
}

JournalEvent WriteEntry::refused(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                                 const QString& enteredText, const QString& reason)
{
    JournalEvent e = writeEvent(request, label);
    e.message = QStringLiteral("修改%1：输入被拒绝").arg(nameOf(label, e.source));
    e.oldValue = valueText(old, label.divisor);
    e.newValue = enteredText;
    e.result = QStringLiteral("refused: %1").arg(reason);
    return e;
}

QString WriteEntry::verified() { return QStringLiteral("verified"); }

QString WriteEntry::mismatch(qint32 shown, int divisor)
{
    return QStringLiteral("mismatch: 仪表显示 %1").arg(valueText(shown, divisor));
}
