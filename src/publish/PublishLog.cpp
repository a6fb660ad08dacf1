#include "PublishLog.h"

Q_LOGGING_CATEGORY(lcPublish, "px.publish")
