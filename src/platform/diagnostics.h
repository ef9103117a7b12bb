// The program's diagnostics: Qt logging categories, silent unless switched on
// with Qt's own QT_LOGGING_RULES (for example "kestrome.*=true"). They print
// to standard error only, and never a password.
#pragma once

#include <QLoggingCategory>

namespace platform {

Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // kestrome.settings: settings file writes
Q_DECLARE_LOGGING_CATEGORY(lcHttp)      // kestrome.http: failed requests and why
Q_DECLARE_LOGGING_CATEGORY(lcTray)      // kestrome.tray: tray hosts and icons
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)  // kestrome.platform: choices made at start-up

}  // namespace platform
