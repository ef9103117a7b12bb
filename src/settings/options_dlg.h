// The Options dialog: shows the six options of the settings file and writes
// them on "Save Settings". It hands nothing to the main dialog in memory; the
// file is the only channel between them.
#pragma once

#include <string>

#include "platform/dialog.h"
#include "settings/settings_reader.h"

class QPushButton;

class COptionsDlg : public platform::Dialog {
public:
    explicit COptionsDlg(platform::PlatformServices& services);

protected:
    bool OnInitDialog() override;
    void DoDataExchange(platform::DataExchange& dx) override;
    bool OnCmdMsg(int id, int code) override;

private:
    void LoadSettings();
    void OnOptionChanged();
    void OnSaveSettings();

    settings::OptionText m_szOptionText{};
    std::string m_strDirectory;
    std::string m_strConfigPath;
    QPushButton* m_btnSaveSettings = nullptr;
    // The options, and the names the dialog's code knows them by.
    settings::OptionValues m_options;
    int& m_bSavePassword = m_options.bSavePassword;
    int& m_bAttemptReconnect = m_options.bAttemptReconnect;
    int& m_bConnectOnStartUp = m_options.bConnectOnStartUp;
    int& m_bMinimizeOnStartUp = m_options.bMinimizeOnStartUp;
    int& m_nRefreshInterval = m_options.nRefreshInterval;
    int& m_nConnectRetryInterval = m_options.nConnectRetryInterval;
};
