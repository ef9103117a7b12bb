// The notification-area ("tray") icon seam: adding and deleting an icon, the
// icon's mouse messages delivered to the window that owns it, the tray host
// appearing anew ("TaskbarCreated"), and the popup menu shown from the icon.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include "platform/dialogs/dialog_template.h"

namespace platform {

// Mouse messages that a tray callback carries.
inline constexpr unsigned WM_MOUSEMOVE = 0x0200;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_MBUTTONUP = 0x0208;

// Flags of the notification data.
inline constexpr unsigned NIF_MESSAGE = 1;
inline constexpr unsigned NIF_ICON = 2;
inline constexpr unsigned NIF_TIP = 4;

// An identifier shared by everyone who registers the same name (0xC000 on).
unsigned RegisterWindowMessage(const char* name);

// A message to a tray window: its id and, for the icon's callback message,
// the icon's id and the mouse message.
struct TrayMessage {
    unsigned id = 0;
    unsigned iconId = 0;
    unsigned mouseMessage = 0;
};

// A window that receives the icon's messages (the callback message and
// "TaskbarCreated"), hears when the tray host that showed its icon went away,
// and hears the choices made in a menu the host showed itself.
class NotifyWindow {
public:
    virtual ~NotifyWindow() = default;
    // The message's result: nonzero when it was handled.
    virtual long WindowProc(const TrayMessage& message) = 0;
    virtual void OnTrayHostGone() = 0;
    // The user chose an item of the menu that the host showed for the icon.
    virtual void OnHostMenuChoice(int command) = 0;
};

// The shell's first version of the notification data.
struct NotifyIconData {
    NotifyWindow* hWnd = nullptr;
    unsigned uID = 0;
    unsigned uFlags = 0;
    unsigned uCallbackMessage = 0;
    QIcon hIcon;
    QString szTip;
};

class NotifyIcons {
public:
    virtual ~NotifyIcons() = default;
    // Whether the desktop has a notification area.
    virtual bool IsAvailable() const = 0;
    // The hidden window of a tray object: it hears "TaskbarCreated" while it exists.
    virtual void CreateWindow(NotifyWindow* window) = 0;
    virtual void DestroyWindow(NotifyWindow* window) = 0;
    // NIM_ADD and NIM_DELETE; true on success.
    virtual bool Add(const NotifyIconData& data) = 0;
    virtual bool Delete(const NotifyIconData& data) = 0;
    virtual QPoint CursorPos() const = 0;
    // Shows the popup at a screen position; the chosen item's command, or 0.
    virtual int TrackPopupMenu(const MenuItemTemplate& popup, QPoint at) = 0;
    // The menu that hosts which show an icon's menu themselves (D-Bus trays)
    // offer for the icon; a choice reaches the icon's window (OnHostMenuChoice).
    // Set before the add; a host where the program pops up its own menu never
    // shows it.
    virtual void SetHostMenu(const NotifyIconData& data, const MenuItemTemplate& popup) = 0;
};

}  // namespace platform
