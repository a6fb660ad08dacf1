#include "TuningLog.h"

Q_LOGGING_CATEGORY(lcTuning, "px.tuning")
