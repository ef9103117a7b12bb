// The main dialog's commands that open other windows: web pages, the mail
// program, help, About and Options.
#include <QDialog>

#include "app/about_dlg.h"
#include "app/updater_dlg.h"
#include "res/site_settings.h"

namespace {
const QString kLaunchingBrowser = "Launching Web Browser.. \r\n";
const QString kLaunchingMail = "Launching Mail Client.. \r\n";

QString HomePage(const char* host) {
    return QString("http://%1/").arg(host);
}
}  // namespace

// The line stays whether or not the launch succeeds; nothing else is reported.
void CUpdaterDlg::Launch(const QString& line, const QString& target) {
    AppendStatus(line);
    Services().shell.Open(target);
}

void CUpdaterDlg::OnWebSite() {
    Launch(kLaunchingBrowser, HomePage(Services().serviceHost.c_str()));
}

void CUpdaterDlg::OnEmailProgrammer() {
    Launch(kLaunchingMail, QString("mailto:%1").arg(res::kAuthorAddress));
}

void CUpdaterDlg::OnUsefulSite1() {
    Launch(kLaunchingBrowser, HomePage(res::kUsefulSite1));
}
void CUpdaterDlg::OnUsefulSite2() {
    Launch(kLaunchingBrowser, HomePage(res::kUsefulSite2));
}
void CUpdaterDlg::OnUsefulSite3() {
    Launch(kLaunchingBrowser, HomePage(res::kUsefulSite3));
}
void CUpdaterDlg::OnUsefulSite4() {
    Launch(kLaunchingBrowser, HomePage(Services().serviceHost.c_str()));
}

void CUpdaterDlg::OnHelpMe() {
    OnHelp();
}

void CUpdaterDlg::OnAbout() {
    CAboutDlg dlgAbout(Services());
    dlgAbout.DoModal(Window());
}

// The Options dialog, then the settings again: whatever it saved takes effect.
void CUpdaterDlg::OnOptions() {
    m_dlgOptions.DoModal(Window());
    LoadSettings();
}
