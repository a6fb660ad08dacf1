#include "CliApp.h"

int runSet(CliContext& cx) { return cx.fail(kExitFailed, QStringLiteral("not available yet")); }
