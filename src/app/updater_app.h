// The application object: starts the HTTP client library and runs the main
// dialog modally; the dialog's modal loop is the program's only loop.
#pragma once

#include <functional>

#include "platform/services.h"

class CUpdaterDlg;

class CUpdaterApp {
public:
    // startup brings up the networking library; false means it failed.
    explicit CUpdaterApp(platform::PlatformServices& services,
                         std::function<bool()> startup = platform::InternetStartup);
    ~CUpdaterApp();

    // Always false: the application ends when the main dialog has ended.
    bool InitInstance();

    // A close request from outside the window (a termination signal).
    void RequestClose();
    // Another start of the program on the same settings file.
    void BringBack();

private:
    platform::PlatformServices& services_;
    std::function<bool()> startup_;
    bool started_ = false;
    CUpdaterDlg* m_pMainWnd = nullptr;
};
