// The Qt platform the program runs on, decided before Qt starts.
#pragma once

#include <string>
#include <vector>

namespace platform {

// What the session tells about its display servers, from the environment.
struct SessionEnvironment {
    std::string qtPlatform;      // QT_QPA_PLATFORM: the user's own choice
    std::string waylandDisplay;  // WAYLAND_DISPLAY
    std::string sessionType;     // XDG_SESSION_TYPE
    std::string x11Display;      // DISPLAY: XWayland in a Wayland session
};

SessionEnvironment ReadSessionEnvironment();

// "xcb" for a Wayland session that offers XWayland when the user chose no
// platform, else empty (Qt's own choice).
std::string ChooseQtPlatform(const SessionEnvironment& session);

// The program's arguments with that choice added as Qt's "-platform" option,
// for the application object; programs started from here (the browser) are
// left to their own choice.
std::vector<char*> ArgumentsWithQtPlatformChoice(int argc, char** argv);

// Tells the diagnostics which platform Qt runs on, and why, once it runs.
void ReportQtPlatform();

}  // namespace platform
