// One icon in the notification area, turning the user's mouse actions on it
// into commands for the main window: the right button opens the tray menu, a
// double-click sends the menu's first command. Its hidden window exists only to
// hear the icon's callback message and "TaskbarCreated".
#pragma once

#include "platform/command_target.h"
#include "platform/notify_icons/notify_icon.h"

class CSystemTray : public platform::NotifyWindow {
public:
    // mainWnd is the application's main window (may be null).
    CSystemTray(platform::NotifyIcons& shell, platform::CommandTarget* mainWnd);
    ~CSystemTray() override;
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    bool CreateTray(platform::NotifyWindow* pNotifyWnd, unsigned nCallbackMessage,
                    const QIcon& hIcon, unsigned nID, bool bHidden);
    bool DeleteTrayIcon();
    bool ReAddTrayIcon();
    platform::CommandTarget* GetCommandTarget() const;

    long WindowProc(const platform::TrayMessage& message) override;
    // The icon's callback: the id of the icon and the mouse message.
    virtual long OnTrayIconNotify(unsigned nIconId, unsigned nMouseMessage);
    long OnTaskbarCreated();
    void OnTrayHostGone() override;
    // A choice from the menu a host showed goes to the target as the popup's does.
    void OnHostMenuChoice(int command) override;

    // Whether the icon is out of the tray, whether there is none to delete, and
    // whether a restart of the tray host adds it again.
    struct Flags {
        bool iconHidden;
        bool iconDeleted;
        bool reAddOnRestart;
        bool operator==(const Flags&) const = default;
    };
    Flags GetFlags() const { return {m_bIconHidden, m_bIconDeleted, m_bReAddOnRestart}; }

private:
    void OfferHostMenu();

    static const unsigned s_uTaskbarCreated;

    platform::NotifyIcons& shell_;
    platform::CommandTarget* const mainWnd_;
    bool windowCreated_ = false;

    // The record below keeps the Windows names (m_nid, m_b...) that the
    // tray's documented behaviour is written in; the rest is the project's own.
    platform::NotifyIconData m_nid;
    bool m_bShellSupported = false;
    bool m_bIconHidden = true;
    bool m_bIconDeleted = true;
    bool m_bReAddOnRestart = false;
    platform::CommandTarget* m_pCommandTarget = nullptr;
    unsigned m_nDefaultItem = 0;
    bool m_bDefaultByPosition = true;
    unsigned m_uAddFlags = 0;
};
