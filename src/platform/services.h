// The platform services a dialog receives: main() wires the real ones, tests
// wire fakes. Nothing in the program reaches a global instead.
#pragma once

#include <QString>
#include <string>

#include "platform/clock.h"
#include "platform/internet_session.h"
#include "platform/message_boxes.h"
#include "platform/notify_icon.h"
#include "platform/shell.h"
#include "platform/timers.h"

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
