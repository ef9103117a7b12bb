// The main dialog: the program's only window and the owner of all its state.
// Its members keep the names of the program's record; each handler reads like
// its algorithm and calls into the subsystems for the logic.
#pragma once

#include <QIcon>
#include <QString>
#include <memory>
#include <string>

#include "platform/dialogs/dialog.h"
#include "platform/net/internet_session.h"
#include "settings/options_dlg.h"
#include "settings/settings_reader.h"
#include "tray/system_tray.h"
#include "tray/tray_host_waiter.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CUpdaterDlg : public platform::Dialog, private settings::OptionMembers {
public:
    explicit CUpdaterDlg(platform::PlatformServices& services);
    ~CUpdaterDlg() override;

    // Status log operations: the only way the log changes or is shown.
    void ShowStatus();
    void AppendStatus(const QString& text);
    void SetStatus(const QString& text);

    // Shows the window, from the tray or the task bar, in front of the others.
    void BringBack();

    // Saves what a close would save, showing nothing: for a program ended
    // because its display went away.
    void SaveCredentialsWithoutDisplay();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnCmdMsg(int id, int code) override;
    void OnClose() override;
    void OnTimer(unsigned id) override;
    void OnSysCommand(unsigned nID) override;
    bool DestroyWindow() override;
    void OnTrayIconShown(bool shown) override;
    void OnDestroy() override;

private:
    void LoadSettings();
    void OnQuit();
    void SaveCredentials();
    settings::SettingsWrites WriteCredentials();
    void TellFailedWrites(const settings::SettingsWrites& writes);

    void OnConnect();
    void OnDisconnect();
    void OnChangeLogin();
    void OnChangePassword();
    void UpdateConnectMenu();
    // Enables the Disconnect button and its menu item together.
    void EnableDisconnect(bool enable);

    void Launch(const QString& line, const QString& target);
    void OnWebSite();
    void OnEmailProgrammer();
    void OnUsefulSite1();
    void OnUsefulSite2();
    void OnUsefulSite3();
    void OnUsefulSite4();
    void OnHelpMe();
    void OnAbout();
    void OnOptions();

    void UpdateTray();
    void UpdateVisibility();
    void OnRestore();
    QString SendRequest(const std::string& url);
    void ParseReply();

    // The record, in declaration order.
    COptionsDlg m_dlgOptions;
    int m_nReplyCode = 0;
    QString m_strReply;
    int m_bConnected = 0;
    QString m_strField;
    settings::OptionText m_szOptionText{};
    std::string m_strUrl;
    char m_szLogin[settings::kCredentialSize]{};
    char m_szPassword[settings::kCredentialSize]{};
    std::string m_strDirectory;
    std::string m_strConfigPath;
    QPlainTextEdit* m_editStatus = nullptr;
    QLineEdit* m_editPassword = nullptr;
    QLineEdit* m_editLogin = nullptr;
    QPushButton* m_btnWebSite = nullptr;
    QPushButton* m_btnDisconnect = nullptr;
    QPushButton* m_btnConnect = nullptr;
    QString m_strStatus;
    QString m_strPassword;
    QString m_strLogin;
    QString m_strAddress;
    QIcon m_hIcon;
    const QString m_strEmpty;
    std::unique_ptr<platform::InternetSession> m_hInternet;
    bool m_bMinimized = false;
    std::unique_ptr<CSystemTray> m_pTray;
    // While minimised on the task bar for want of a tray host.
    std::unique_ptr<CTrayHostWaiter> m_pTrayHostWaiter;
    unsigned m_nTrayMessage = 0;

    // True once the stored login and password are in the fields: a close before
    // then must not overwrite them with the empty fields.
    bool m_bFieldsFilled = false;

    // True while a box of a connect is open ("enter login name and password",
    // a failed write), so that a reconnect firing meanwhile opens no other.
    bool m_bConnectBoxOpen = false;
};
