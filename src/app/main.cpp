#include <QApplication>

#include "app/updater_app.h"
#include "platform/dialogs/message_boxes.h"
#include "platform/files/crt.h"
#include "platform/notify_icons/qt_notify_icons.h"
#include "platform/session/close_signals.h"
#include "platform/session/help.h"
#include "platform/session/qt_services.h"
#include "platform/session/session_platform.h"
#include "platform/session/single_instance.h"
#include "platform/session/timers.h"
#include "res/app_icon.h"
#include "res/build_settings.h"
#include "settings/settings_reader.h"

#ifdef KESTROME_TEST_SERVICE_HOST
#include <cstdlib>
// The build of the end-to-end tests, which run a service of their own at a
// free port and name it in the environment.
const char* const kServiceHost = std::getenv("KESTROME_TEST_SERVICE_HOST") != nullptr
                                     ? std::getenv("KESTROME_TEST_SERVICE_HOST")
                                     : "127.0.0.1:9";
#else
constexpr const char* kServiceHost = res::kServiceHost;
#endif

int main(int argc, char** argv) {
    // A second start on the same settings file brings the running window back.
    platform::SingleInstance instance(settings::ConfigPath(platform::GetCurrentDirectory()));
    if (!instance.Claim()) {
        return 0;
    }
    std::vector<char*> arguments = platform::ArgumentsWithQtPlatformChoice(argc, argv);
    int count = static_cast<int>(arguments.size()) - 1;
    QApplication qapp(count, arguments.data());
    platform::ReportQtPlatform();
    QCoreApplication::setApplicationName(platform::ExecutableName(argv[0]));
    QApplication::setWindowIcon(res::AppIcon());
    platform::QtMessageBoxes messageBoxes;
    platform::QtTimers timers;
    platform::QtShell shell;
    platform::QtClock clock;
    platform::QtNotifyIcons notifyIcons;
    platform::PlatformServices services{.messageBoxes = messageBoxes,
                                        .timers = timers,
                                        .shell = shell,
                                        .clock = clock,
                                        .notifyIcons = notifyIcons,
                                        .appName = QCoreApplication::applicationName(),
                                        .serviceHost = kServiceHost,
                                        .internetTimeouts = {},
                                        .helpFile = platform::FindHelpFile()};
    CUpdaterApp app(services);
    platform::ForwardCloseSignals([&app] { app.RequestClose(); });
    instance.OnShowRequest([&app] { app.BringBack(); });
    app.InitInstance();
    return 0;
}
