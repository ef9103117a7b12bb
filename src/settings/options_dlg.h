// The Options dialog: shows the six options of the settings file and writes
// them on "Save Settings". It hands nothing to the main dialog in memory; the
// file is the only channel between them.
#pragma once

#include <string>

#include "platform/dialogs/dialog.h"
#include "settings/settings_reader.h"

class QPushButton;

class COptionsDlg : public platform::Dialog, private settings::OptionMembers {
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
    // SavePassword as the file last had it, read or saved by this dialog.
    int m_bPasswordWasSaved = 0;
    std::string m_strDirectory;
    std::string m_strConfigPath;
    QPushButton* m_btnSaveSettings = nullptr;
};
