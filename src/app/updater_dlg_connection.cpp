// Connecting, disconnecting, the refresh and reconnect timers, and the update
// exchange with the service.
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "app/updater_dlg.h"
#include "platform/dialogs/busy_cursor.h"
#include "platform/files/crt.h"
#include "platform/files/profile.h"
#include "res/resource_ids.h"
#include "update/reply.h"
#include "update/request_url.h"

namespace {

constexpr std::int64_t kMsPerMinute = 60000;

// Copies the bytes stored for a field's text into its fixed buffer, cut to fit
// without splitting a character.
template <std::size_t N>
void CopyToBuffer(const QString& text, char (&buf)[N]) {
    const std::string bytes = settings::BytesToStore(text, buf);
    const std::size_t len = platform::Utf8FittingLength(bytes, N - 1);
    std::memcpy(buf, bytes.data(), len);
    buf[len] = '\0';
}

}  // namespace

void CUpdaterDlg::OnConnect() {
    UpdateData(true);
    if (m_strLogin.isEmpty() || m_strPassword.isEmpty()) {
        m_bConnectBoxOpen = true;
        MessageBox("Please enter login name and password before connecting.");
        m_bConnectBoxOpen = false;
        return;
    }
    CopyToBuffer(m_strLogin, m_szLogin);
    CopyToBuffer(m_strPassword, m_szPassword);
    settings::SettingsWrites writes(m_strConfigPath);
    writes.Write(settings::kSectionMain, settings::kKeyLogin, m_szLogin);
    m_bConnectBoxOpen = true;
    TellFailedWrites(writes);
    m_bConnectBoxOpen = false;
    m_strUrl = update::BuildRequestUrl(Services().serviceHost, m_strLogin, m_strPassword);
    SetTimer(res::kRefreshTimer, m_nRefreshInterval * kMsPerMinute);
    EnableDisconnect(true);
    m_btnConnect->setEnabled(false);
    UpdateConnectMenu();
    m_editLogin->setEnabled(false);
    m_editPassword->setEnabled(false);
    SendRequest(m_strUrl);
    ParseReply();
}

void CUpdaterDlg::OnDisconnect() {
    KillTimer(res::kRefreshTimer);
    m_btnConnect->setEnabled(true);
    UpdateConnectMenu();
    EnableDisconnect(false);
    m_editLogin->setEnabled(true);
    m_editPassword->setEnabled(true);
    if (m_bAttemptReconnect == 1) {
        SetTimer(res::kReconnectTimer, m_nConnectRetryInterval * kMsPerMinute);
        m_strStatus += "Reconnect enabled - timer running \r\n";
    } else {
        KillTimer(res::kReconnectTimer);
    }
    ShowStatus();
}

void CUpdaterDlg::OnTimer(unsigned id) {
    if (id == res::kRefreshTimer) {
        SendRequest(m_strUrl);
        ParseReply();
    } else if (id == res::kReconnectTimer && !m_bConnectBoxOpen) {
        AppendStatus("Attempting to reconnect.. \r\n");
        OnConnect();
    }
    ShowStatus();
}

void CUpdaterDlg::OnChangeLogin() {
    UpdateData(true);
    UpdateConnectMenu();
}

// The menu rule: "Connect" is offered exactly when the Connect button is and
// both fields hold text, so the menu never runs a second Connect.
void CUpdaterDlg::UpdateConnectMenu() {
    if (!HasMenu()) {
        return;
    }
    const bool offered = m_btnConnect->isEnabled() && !m_editLogin->text().isEmpty() &&
                         !m_editPassword->text().isEmpty();
    EnableMenuItem(res::ID_NETWORK_CONNECT, offered);
}

void CUpdaterDlg::OnChangePassword() {
    OnChangeLogin();
}

void CUpdaterDlg::EnableDisconnect(bool enable) {
    m_btnDisconnect->setEnabled(enable);
    EnableMenuItem(res::ID_NETWORK_DISCONNECT, enable);
}

QString CUpdaterDlg::SendRequest(const std::string& url) {
    m_strReply = m_strEmpty;
    platform::BusyCursor busy;
    auto request = m_hInternet ? m_hInternet->OpenUrl(url, update::kReplySize) : nullptr;
    if (!request) {
        m_bConnected = 0;
        return m_strReply;
    }
    char buffer[update::kReplySize];
    std::size_t bytesRead = 0;
    const bool ok = request->Read(buffer, sizeof buffer, bytesRead);
    m_strReply = update::TrimTrailingWhitespace(
        QString::fromLatin1(buffer, static_cast<qsizetype>(bytesRead)));
    if (ok) {
        m_bConnected = 1;
    }
    return m_strReply;
}

void CUpdaterDlg::ParseReply() {
    m_strField = update::ReplyCodeText(m_strReply);
    m_nReplyCode = update::ReplyCode(m_strField);
    if (m_bConnected != 1) {
        SetStatus(update::UnreachableOutcome().statusText);
        OnDisconnect();
        return;
    }
    SetStatus(update::kReadingInformation);
    const update::ReplyOutcome outcome = update::OutcomeOf(m_nReplyCode);
    m_strStatus = outcome.statusText;
    if (m_nReplyCode == update::kCodeUpdated) {
        m_strStatus += update::TimeStampLine(Services().clock.CurrentTime());
        m_strField = update::ReplyAddress(m_strReply);
        m_strAddress = m_strField;
    }
    if (outcome.endsConnection) {
        OnDisconnect();
    }
    ShowStatus();
}
