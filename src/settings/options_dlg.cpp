#include "settings/options_dlg.h"

#include <QPushButton>

#include "platform/dialogs/data_exchange.h"
#include "platform/files/crt.h"
#include "platform/files/profile.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"

using platform::BN_CLICKED;
using platform::EN_CHANGE;

COptionsDlg::COptionsDlg(platform::PlatformServices& services)
    : Dialog(res::OptionsDialogTemplate(), services) {}

void COptionsDlg::DoDataExchange(platform::DataExchange& dx) {
    platform::DDX_Control(dx, res::IDCANCEL, m_btnSaveSettings);
    platform::DDX_Check(dx, res::IDC_SAVE_PASSWORD, m_bSavePassword);
    platform::DDX_Check(dx, res::IDC_MINIMIZE_ON_STARTUP, m_bMinimizeOnStartUp);
    platform::DDX_Check(dx, res::IDC_CONNECT_ON_STARTUP, m_bConnectOnStartUp);
    platform::DDX_Check(dx, res::IDC_ATTEMPT_RECONNECT, m_bAttemptReconnect);
    platform::DDX_Text(dx, res::IDC_RETRY_INTERVAL, m_nConnectRetryInterval);
    const settings::OptionSpec& retry = settings::OptionIn(settings::kSlotConnectRetryInterval);
    platform::DDV_MinMaxInt(dx, m_nConnectRetryInterval, retry.min, retry.max);
    platform::DDX_Text(dx, res::IDC_REFRESH_INTERVAL, m_nRefreshInterval);
    const settings::OptionSpec& refresh = settings::OptionIn(settings::kSlotRefreshInterval);
    platform::DDV_MinMaxInt(dx, m_nRefreshInterval, refresh.min, refresh.max);
}

// Its entry for id 2 replaces the framework's cancel: Escape and the close box
// save instead of closing, and only OK closes.
bool COptionsDlg::OnCmdMsg(int id, int code) {
    using D = COptionsDlg;
    static constexpr platform::MessageMapEntry<D> kMessageMap[] = {
        {BN_CLICKED, res::IDCANCEL, &D::OnSaveSettings},
        {EN_CHANGE, res::IDC_REFRESH_INTERVAL, &D::OnOptionChanged},
        {EN_CHANGE, res::IDC_RETRY_INTERVAL, &D::OnOptionChanged},
        {BN_CLICKED, res::IDC_MINIMIZE_ON_STARTUP, &D::OnOptionChanged},
        {BN_CLICKED, res::IDC_ATTEMPT_RECONNECT, &D::OnOptionChanged},
        {BN_CLICKED, res::IDC_CONNECT_ON_STARTUP, &D::OnOptionChanged},
        {BN_CLICKED, res::IDC_SAVE_PASSWORD, &D::OnOptionChanged},
    };
    return platform::DispatchCommand<D>(this, kMessageMap, id, code) || Dialog::OnCmdMsg(id, code);
}

bool COptionsDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    m_strDirectory = platform::GetCurrentDirectory();
    m_strConfigPath = settings::ConfigPath(m_strDirectory);
    LoadSettings();
    UpdateData(false);
    return true;
}

// Reads the six options without writing anything back.
void COptionsDlg::LoadSettings() {
    settings::ReadOptions(m_strConfigPath, m_szOptionText, false);
    m_options = settings::ValidateOptions(m_szOptionText,
                                          [this](const QString& message) { MessageBox(message); });
    m_bPasswordWasSaved = m_bSavePassword;
}

void COptionsDlg::OnOptionChanged() {
    m_btnSaveSettings->setEnabled(true);
}

// Writes the options as the members stand, even after a failed exchange. A
// save that failed is told, and can be tried again. Turning Save Password off
// also empties the stored password: "don't save" must not leave it on disk.
void COptionsDlg::OnSaveSettings() {
    UpdateData(true);
    settings::SettingsWrites writes(m_strConfigPath);
    for (const settings::OptionSpec& option : settings::kOptions) {
        writes.Write(settings::kSectionOptions, option.key,
                     settings::OptionValueText(option, m_options));
    }
    if (m_bPasswordWasSaved == 1 && m_bSavePassword == 0) {
        writes.Write(settings::kSectionMain, settings::kKeyPassword, "");
    }
    if (!writes.Failed()) {
        m_bPasswordWasSaved = m_bSavePassword;
    }
    m_btnSaveSettings->setEnabled(writes.Failed());
    if (writes.Failed()) {
        MessageBox(writes.FailureMessage(), platform::BoxIcon::Exclamation);
    }
}
