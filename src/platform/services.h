// The platform services a dialog receives: main() wires the real ones, tests
// wire fakes. Whatever a test replaces or watches comes through here.
//
// The one rule for globals: state that belongs to the process rather than to
// any window may live in a static of the one file that owns it, behind that
// file's functions, touched from the user-interface thread only (or, for the
// close signals, from a signal handler, which can reach nothing else). These
// are: the stack of modal loops (dialogs/modal_stack.cpp), the registered
// window-message ids (notify_icons/notify_icon.cpp), the D-Bus type
// registration and item numbering (notify_icons/), the Qt platform chosen
// before the application exists (session/session_platform.cpp) and the
// close-signal pipe (session/close_signals.cpp). Nothing else is global.
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
