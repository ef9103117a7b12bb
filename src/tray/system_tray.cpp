#include "tray/system_tray.h"

#include "res/menus.h"

using namespace platform;

namespace {
constexpr unsigned kAddFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The first popup of the menu resource with that id, or null.
const MenuItemTemplate* TrayPopup(unsigned menuId) {
    const MenuTemplate* menu = res::MenuById(menuId);
    return (menu == nullptr || menu->popups.empty()) ? nullptr : &menu->popups.front();
}
}  // namespace

const unsigned CSystemTray::s_uTaskbarCreated = RegisterWindowMessage("TaskbarCreated");

CSystemTray::CSystemTray(NotifyIcons& shell, CommandTarget* mainWnd)
    : shell_(shell), mainWnd_(mainWnd) {}

CSystemTray::~CSystemTray() {
    DeleteTrayIcon();
    if (windowCreated_) {
        shell_.DestroyWindow(this);
    }
}

bool CSystemTray::CreateTray(NotifyWindow* pNotifyWnd, unsigned nCallbackMessage,
                             const QIcon& hIcon, unsigned nID, bool bHidden) {
    m_bShellSupported = shell_.IsAvailable();
    if (!m_bShellSupported) {
        return false;
    }
    shell_.CreateWindow(this);
    windowCreated_ = true;
    m_nid.hWnd = pNotifyWnd != nullptr ? pNotifyWnd : this;
    m_nid.uID = nID;
    m_nid.uFlags = kAddFlags;
    m_nid.uCallbackMessage = nCallbackMessage;
    m_nid.hIcon = hIcon;
    m_uAddFlags = kAddFlags;
    OfferHostMenu();
    m_bIconHidden = bHidden;
    if (bHidden) {
        return true;
    }
    const bool ok = shell_.Add(m_nid);
    m_bIconHidden = !ok;
    m_bIconDeleted = !ok;
    m_bReAddOnRestart = ok;
    return ok;
}

bool CSystemTray::DeleteTrayIcon() {
    m_bReAddOnRestart = false;
    if (!m_bShellSupported || m_bIconDeleted) {
        return true;
    }
    m_nid.uFlags = 0;
    if (shell_.Delete(m_nid)) {
        m_bIconHidden = true;
        m_bIconDeleted = true;
    }
    return m_bIconDeleted;
}

bool CSystemTray::ReAddTrayIcon() {
    if (!m_bReAddOnRestart || m_bIconHidden) {
        return false;
    }
    m_nid.uFlags = m_uAddFlags;
    const bool ok = shell_.Add(m_nid);
    m_bIconHidden = !ok;
    m_bReAddOnRestart = ok;
    return ok;
}

CommandTarget* CSystemTray::GetCommandTarget() const {
    return m_pCommandTarget != nullptr ? m_pCommandTarget : mainWnd_;
}

long CSystemTray::WindowProc(const TrayMessage& message) {
    if (message.id == m_nid.uCallbackMessage) {
        return OnTrayIconNotify(message.iconId, message.mouseMessage);
    }
    if (message.id == s_uTaskbarCreated) {
        return OnTaskbarCreated();
    }
    return 0;
}

// Hosts that show the icon's menu themselves offer the same popup that the
// right button opens elsewhere.
void CSystemTray::OfferHostMenu() {
    const MenuItemTemplate* popup = TrayPopup(m_nid.uID);
    if (popup != nullptr && GetCommandTarget() != nullptr) {
        shell_.SetHostMenu(m_nid, *popup);
    }
}

void CSystemTray::OnHostMenuChoice(int command) {
    if (CommandTarget* target = GetCommandTarget()) {
        target->PostCommand(command);
    }
}

long CSystemTray::OnTaskbarCreated() {
    if (!ReAddTrayIcon()) {
        return 0;
    }
    if (CommandTarget* target = GetCommandTarget()) {
        target->OnTrayIconShown(true);
    }
    return 1;
}

// The icon left with its host; the flags stay as they were, so a host that
// appears again gets it back.
void CSystemTray::OnTrayHostGone() {
    CommandTarget* target = GetCommandTarget();
    if (!m_bIconHidden && target != nullptr) {
        target->OnTrayIconShown(false);
    }
}

// The command handed to the target may delete this object, so nothing of it is
// touched after the hand-over.
long CSystemTray::OnTrayIconNotify(unsigned nIconId, unsigned nMouseMessage) {
    if (nIconId != m_nid.uID) {
        return 0;
    }
    CommandTarget* target = GetCommandTarget();
    if (target == nullptr) {
        return 0;
    }
    switch (nMouseMessage) {
        case WM_RBUTTONUP: {
            const MenuItemTemplate* popup = TrayPopup(m_nid.uID);
            if (popup == nullptr) {
                return 0;
            }
            const QPoint cursor = shell_.CursorPos();
            target->SetForegroundWindow();
            const int command = shell_.TrackPopupMenu(*popup, cursor);
            if (command != 0) {
                target->PostCommand(command);
            }
            return 1;
        }
        case WM_LBUTTONDBLCLK: {
            target->SetForegroundWindow();
            int command = static_cast<int>(m_nDefaultItem);
            if (m_bDefaultByPosition) {
                const MenuItemTemplate* popup = TrayPopup(m_nid.uID);
                if (popup == nullptr || m_nDefaultItem >= popup->items.size()) {
                    return 0;
                }
                command = popup->items[m_nDefaultItem].command;
            }
            target->SendCommand(command);
            return 1;
        }
        default:
            return 1;
    }
}
