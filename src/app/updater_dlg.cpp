#include "app/updater_dlg.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/data_exchange.h"
#include "res/app_icon.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"

using platform::BN_CLICKED;
using platform::EN_CHANGE;
using platform::MessageMapEntry;

namespace {
constexpr int kMaxTypedChars = 10;
}  // namespace

CUpdaterDlg::CUpdaterDlg(platform::PlatformServices& services)
    : Dialog(res::UpdaterDialogTemplate(), services), m_hIcon(res::AppIcon()) {}

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
bool CUpdaterDlg::OnCmdMsg(int id, int code) {
    using D = CUpdaterDlg;
    static constexpr MessageMapEntry<D> kMessageMap[] = {
        {BN_CLICKED, res::IDC_CONNECT, &D::OnConnect},
        {BN_CLICKED, res::IDC_DISCONNECT, &D::OnDisconnect},
        {BN_CLICKED, res::ID_NETWORK_QUIT, &D::OnQuit},
        {EN_CHANGE, res::IDC_LOGIN, &D::OnChangeLogin},
        {EN_CHANGE, res::IDC_PASSWORD, &D::OnChangePassword},
        {BN_CLICKED, res::ID_TRAY_EXIT, &D::OnQuit},
    };
    return platform::DispatchCommand<D>(this, kMessageMap, id, code) || Dialog::OnCmdMsg(id, code);
}
