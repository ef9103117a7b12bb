#include "platform/session/session_platform.h"

#include <QGuiApplication>
#include <cstdlib>

#include "platform/diagnostics.h"

namespace platform {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

SessionEnvironment ReadSessionEnvironment() {
    return {Variable("QT_QPA_PLATFORM"), Variable("WAYLAND_DISPLAY"), Variable("XDG_SESSION_TYPE"),
            Variable("DISPLAY")};
}

// Wayland's xdg-shell never tells a program that its window was minimised, so
// there the title bar's minimise could never hide the window to the tray. On
// X11, which XWayland provides, the window manager reports it.
std::string ChooseQtPlatform(const SessionEnvironment& session) {
    const bool wayland = !session.waylandDisplay.empty() || session.sessionType == "wayland";
    if (!session.qtPlatform.empty() || !wayland || session.x11Display.empty()) {
        return {};
    }
    return "xcb";
}

namespace {

// What ArgumentsWithQtPlatformChoice chose, for the report once Qt runs.
std::string& Choice() {
    static std::string choice;
    return choice;
}

}  // namespace

std::vector<char*> ArgumentsWithQtPlatformChoice(int argc, char** argv) {
    static std::string option = "-platform";
    std::string& choice = Choice();
    choice = ChooseQtPlatform(ReadSessionEnvironment());
    std::vector<char*> arguments(argv, argv + argc);
    if (!choice.empty()) {
        arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), {option.data(), choice.data()});
    }
    arguments.push_back(nullptr);
    return arguments;
}

void ReportQtPlatform() {
    qCInfo(lcPlatform).noquote() << "Qt platform:" << QGuiApplication::platformName()
                                 << (Choice().empty() ? "(Qt's own choice)"
                                                      : "(X11 through XWayland: Wayland does not "
                                                        "tell a program its window was minimised)");
}

}  // namespace platform
