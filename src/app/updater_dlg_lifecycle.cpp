// Start-up and shutdown of the main dialog, and its settings reader.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "app/updater_dlg.h"
#include "platform/files/crt.h"
#include "platform/files/profile.h"
#include "res/resource_ids.h"
#include "res/strings.h"

bool CUpdaterDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    // The window manager owns the system menu on this platform; it cannot be
    // extended, so About stays on the Help menu.
    Window()->setWindowIcon(m_hIcon);
    // The maker's site is the update service the program was given.
    SetMenuItemText(res::ID_SITES_4, QString::fromStdString(Services().serviceHost));
    m_hInternet = platform::InternetSession::Open(res::kAgent, Services().internetTimeouts);
    m_strStatus = "Idle..";
    m_bConnected = 0;
    EnableDisconnect(false);
    m_strDirectory = platform::GetCurrentDirectory();
    m_strConfigPath = settings::ConfigPath(m_strDirectory);
    LoadSettings();
    m_strLogin = settings::StoredText(m_szLogin);
    m_strPassword = settings::StoredText(m_szPassword);
    ShowStatus();
    m_bFieldsFilled = true;
    UpdateConnectMenu();
    // The window shows first, so that a slow service cannot keep it away; the
    // start-up connection comes next, its boxes over the window, then the
    // start-up minimise.
    PostWhenShown([this] {
        if (m_bConnectOnStartUp == 1) {
            OnConnect();
        }
        if (m_bMinimizeOnStartUp == 1) {
            PostSysCommand(platform::SC_MINIMIZE);
        }
    });
    return true;
}

// Reads every key, writing each straight back as read, then validates the
// options and takes them over.
void CUpdaterDlg::LoadSettings() {
    using namespace settings;
    ReadKey(m_strConfigPath, kSectionMain, kKeyLogin, "", m_szLogin, kCredentialSize, true);
    ReadKey(m_strConfigPath, kSectionMain, kKeyPassword, "", m_szPassword, kCredentialSize, true);
    ReadOptions(m_strConfigPath, m_szOptionText, true);
    m_options =
        ValidateOptions(m_szOptionText, [this](const QString& message) { MessageBox(message); });
}

// Writes the login, and the password when it is to be saved, from the fields.
// Values the user did not edit go back byte for byte. A failed write is told
// before the program ends (not when a signal ends it: nobody waits then).
void CUpdaterDlg::SaveCredentials() {
    if (!m_bFieldsFilled) {
        return;
    }
    UpdateData(true);
    TellFailedWrites(WriteCredentials());
}

// The same when the display went away: the fields read as they stand, since
// nothing may be shown, and a failed write is told to nobody.
void CUpdaterDlg::SaveCredentialsWithoutDisplay() {
    if (!m_bFieldsFilled) {
        return;
    }
    m_strLogin = m_editLogin->text();
    m_strPassword = m_editPassword->text();
    WriteCredentials();
}

settings::SettingsWrites CUpdaterDlg::WriteCredentials() {
    settings::SettingsWrites writes(m_strConfigPath);
    writes.Write(settings::kSectionMain, settings::kKeyLogin,
                 settings::BytesToStore(m_strLogin, m_szLogin));
    if (m_bSavePassword == 1) {
        writes.Write(settings::kSectionMain, settings::kKeyPassword,
                     settings::BytesToStore(m_strPassword, m_szPassword));
    }
    return writes;
}

void CUpdaterDlg::TellFailedWrites(const settings::SettingsWrites& writes) {
    if (writes.Failed()) {
        MessageBox(writes.FailureMessage(), platform::BoxIcon::Exclamation);
    }
}

void CUpdaterDlg::OnQuit() {
    SaveCredentials();
    PostQuitMessage();
}

void CUpdaterDlg::OnClose() {
    SaveCredentials();
    Dialog::OnClose();
}

void CUpdaterDlg::OnDestroy() {
    m_hInternet.reset();
    m_bFieldsFilled = false;
    // Help opens in the user's browser, which the program does not own, so
    // there is no help window to close here.
    Dialog::OnDestroy();
}
