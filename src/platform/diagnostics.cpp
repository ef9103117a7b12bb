#include "platform/diagnostics.h"

namespace platform {

// Below critical nothing shows unless the user's logging rules ask for it.
Q_LOGGING_CATEGORY(lcSettings, "kestrome.settings", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcHttp, "kestrome.http", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcTray, "kestrome.tray", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcPlatform, "kestrome.platform", QtCriticalMsg)

}  // namespace platform
