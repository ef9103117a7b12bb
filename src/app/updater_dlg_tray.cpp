// Minimising the main dialog to the tray icon and restoring it.
#include "app/updater_dlg.h"
#include "res/resource_ids.h"

void CUpdaterDlg::OnSysCommand(unsigned nID) {
    const bool wasMinimized = m_bMinimized;
    if (nID == platform::SC_MINIMIZE) {
        m_bMinimized = true;
    } else if (nID == platform::SC_RESTORE) {
        m_bMinimized = false;
        m_pTrayHostWaiter.reset();
    }
    Dialog::OnSysCommand(nID);
    if (m_bMinimized == wasMinimized) {
        return;
    }
    UpdateTray();
    UpdateVisibility();
}

// When no icon could be shown, the window stays minimised with its task-bar
// entry instead of hiding where the user could not reach it again; a tray
// host that comes later (a panel that starts after the program) minimises it
// again, to the tray this time.
void CUpdaterDlg::UpdateTray() {
    m_pTrayHostWaiter.reset();
    if (m_bMinimized && !m_pTray) {
        m_pTray = std::make_unique<CSystemTray>(Services().notifyIcons, this);
        if (!m_pTray->CreateTray(nullptr, m_nTrayMessage, m_hIcon, res::IDR_TRAYMENU, false)) {
            m_pTray.reset();
            m_bMinimized = false;
            m_pTrayHostWaiter = std::make_unique<CTrayHostWaiter>(
                Services().notifyIcons, [this] { PostSysCommand(platform::SC_MINIMIZE); });
        }
    } else {
        m_pTray.reset();
    }
}

void CUpdaterDlg::UpdateVisibility() {
    ShowWindow(m_bMinimized ? platform::SW_HIDE : platform::SW_SHOW);
}

// A hidden window whose icon left with the tray host would be out of reach:
// it comes back on screen, not minimised, since a panel that died took the
// task bar with it; it hides again when a host shows the icon again.
void CUpdaterDlg::OnTrayIconShown(bool shown) {
    if (m_bMinimized) {
        ShowWindow(shown ? platform::SW_HIDE : platform::SW_SHOW);
    }
}

void CUpdaterDlg::OnRestore() {
    ShowWindow(platform::SW_RESTORE);
    m_bMinimized = false;
    UpdateTray();
    UpdateVisibility();
}

void CUpdaterDlg::BringBack() {
    if (m_bMinimized) {
        OnRestore();
    }
    BringToFront();
}

bool CUpdaterDlg::DestroyWindow() {
    m_bMinimized = false;
    UpdateTray();
    return Dialog::DestroyWindow();
}
