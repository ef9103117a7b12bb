#include "tray/tray_host_waiter.h"

CTrayHostWaiter::CTrayHostWaiter(platform::NotifyIcons& icons, std::function<void()> arrived)
    : icons_(icons), arrived_(std::move(arrived)) {
    icons_.CreateWindow(this);
}

CTrayHostWaiter::~CTrayHostWaiter() {
    icons_.DestroyWindow(this);
}

long CTrayHostWaiter::WindowProc(const platform::TrayMessage& message) {
    static const unsigned taskbarCreated = platform::RegisterWindowMessage("TaskbarCreated");
    if (message.id != taskbarCreated) {
        return 0;
    }
    arrived_();
    return 1;
}
