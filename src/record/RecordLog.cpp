#include "RecordLog.h"

Q_LOGGING_CATEGORY(lcRecord, "px.record")
