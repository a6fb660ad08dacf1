#include "RecordLog.h"

Q_LOGGING_CATEGORY(lcRecord, "px.record")

bool RepeatedFailureLog::shouldLog(const QString& reason)
{
    ++attempts_;
    if (reason == logged_ && attempts_ != 10 && attempts_ % 600 != 0)
        return false;
    logged_ = reason;
    return true;
}

void RepeatedFailureLog::reset()
{
    attempts_ = 0;
    logged_.clear();
}
