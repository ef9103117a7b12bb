// The platform services a dialog receives: main() wires the real ones, tests
// wire fakes. Nothing in the program reaches a global instead.
#pragma once

#include <QString>
#include <string>

#include "platform/clock.h"
#include "platform/dialogs/message_boxes.h"
#include "platform/net/internet_session.h"
#include "platform/notify_icons/notify_icon.h"
#include "platform/session/shell.h"
#include "platform/session/timers.h"

namespace platform {

struct PlatformServices {
    MessageBoxes& messageBoxes;
    Timers& timers;
    Shell& shell;
    Clock& clock;
    NotifyIcons& notifyIcons;
    QString appName;          // caption of every message box
    std::string serviceHost;  // host (and port) of the update service
    InternetTimeouts internetTimeouts;
    QString helpFile;  // empty when the program has none
};

}  // namespace platform
