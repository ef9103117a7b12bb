#include "app/updater_dlg.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/dialogs/data_exchange.h"
#include "res/app_icon.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"
#include "res/strings.h"

using platform::BN_CLICKED;
using platform::EN_CHANGE;
using platform::MessageMapEntry;

namespace {
constexpr int kMaxTypedChars = 10;
}  // namespace

CUpdaterDlg::CUpdaterDlg(platform::PlatformServices& services)
    : Dialog(res::UpdaterDialogTemplate(), services),
      m_dlgOptions(services),
      m_nTrayMessage(platform::RegisterWindowMessage(res::kTrayMessageName)) {
    m_hIcon = res::AppIcon();
}

CUpdaterDlg::~CUpdaterDlg() = default;

void CUpdaterDlg::DoDataExchange(platform::DataExchange& dx) {
    platform::DDX_Control(dx, res::IDC_STATUS, m_editStatus);
    platform::DDX_Control(dx, res::IDC_PASSWORD, m_editPassword);
    platform::DDX_Control(dx, res::IDC_LOGIN, m_editLogin);
    platform::DDX_Control(dx, res::IDC_WEBSITE, m_btnWebSite);
    platform::DDX_Control(dx, res::IDC_DISCONNECT, m_btnDisconnect);
    platform::DDX_Control(dx, res::IDC_CONNECT, m_btnConnect);
    platform::DDX_Text(dx, res::IDC_STATUS, m_strStatus);
    platform::DDX_Text(dx, res::IDC_PASSWORD, m_strPassword);
    platform::DDV_MaxChars(dx, m_strPassword, kMaxTypedChars);
    platform::DDX_Text(dx, res::IDC_LOGIN, m_strLogin);
    platform::DDV_MaxChars(dx, m_strLogin, kMaxTypedChars);
    platform::DDX_Text(dx, res::IDC_ADDRESS, m_strAddress);
}

// The message map's command entries. The window's own messages (system
// commands, timers, close, destruction) arrive through the virtual handlers.
// The Network menu's Connect and Disconnect do what the buttons do.
bool CUpdaterDlg::OnCmdMsg(int id, int code) {
    using D = CUpdaterDlg;
    static constexpr MessageMapEntry<D> kMessageMap[] = {
        {BN_CLICKED, res::IDC_CONNECT, &D::OnConnect},
        {BN_CLICKED, res::IDC_DISCONNECT, &D::OnDisconnect},
        {BN_CLICKED, res::ID_HELP_ABOUT, &D::OnAbout},
        {BN_CLICKED, res::ID_HELP_HELPME, &D::OnHelpMe},
        {BN_CLICKED, res::ID_NETWORK_QUIT, &D::OnQuit},
        {BN_CLICKED, res::IDC_WEBSITE, &D::OnWebSite},
        {BN_CLICKED, res::ID_HELP_EMAIL, &D::OnEmailProgrammer},
        {BN_CLICKED, res::ID_SITES_2, &D::OnUsefulSite2},
        {BN_CLICKED, res::ID_SITES_1, &D::OnUsefulSite1},
        {BN_CLICKED, res::ID_SITES_3, &D::OnUsefulSite3},
        {BN_CLICKED, res::ID_SITES_4, &D::OnUsefulSite4},
        {EN_CHANGE, res::IDC_LOGIN, &D::OnChangeLogin},
        {EN_CHANGE, res::IDC_PASSWORD, &D::OnChangePassword},
        {BN_CLICKED, res::ID_TRAY_EXIT, &D::OnQuit},
        {BN_CLICKED, res::ID_TRAY_RESTORE, &D::OnRestore},
        {BN_CLICKED, res::IDC_OPTIONS, &D::OnOptions},
        {BN_CLICKED, res::ID_NETWORK_OPTIONS, &D::OnOptions},
        {BN_CLICKED, res::ID_NETWORK_CONNECT, &D::OnConnect},
        {BN_CLICKED, res::ID_NETWORK_DISCONNECT, &D::OnDisconnect},
    };
    return platform::DispatchCommand<D>(this, kMessageMap, id, code) || Dialog::OnCmdMsg(id, code);
}
