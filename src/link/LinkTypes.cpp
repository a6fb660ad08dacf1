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
