// Waits for a tray host: a window minimised while the desktop had none (the
// program started before the panel, as at login) hears when one comes, so it
// can go behind its icon then instead of staying on the task bar for good.
#pragma once

#include <functional>

#include "platform/notify_icons/notify_icon.h"

class CTrayHostWaiter : public platform::NotifyWindow {
public:
    // arrived runs each time a tray host appears while this object lives.
    CTrayHostWaiter(platform::NotifyIcons& icons, std::function<void()> arrived);
    ~CTrayHostWaiter() override;
    CTrayHostWaiter(const CTrayHostWaiter&) = delete;
    CTrayHostWaiter& operator=(const CTrayHostWaiter&) = delete;

    long WindowProc(const platform::TrayMessage& message) override;
    void OnTrayHostGone() override {}
    void OnHostMenuChoice(int) override {}

private:
    platform::NotifyIcons& icons_;
    std::function<void()> arrived_;
};
