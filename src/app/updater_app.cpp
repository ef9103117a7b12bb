#include "app/updater_app.h"

#include "app/updater_dlg.h"
#include "res/strings.h"

CUpdaterApp::CUpdaterApp(platform::PlatformServices& services, std::function<bool()> startup)
    : services_(services), startup_(std::move(startup)) {}

CUpdaterApp::~CUpdaterApp() {
    if (started_) {
        platform::InternetCleanup();
    }
}

bool CUpdaterApp::InitInstance() {
    started_ = startup_();
    if (!started_) {
        services_.messageBoxes.Show(nullptr, res::kSocketsInitFailed, services_.appName,
                                    platform::BoxIcon::Exclamation);
        return false;
    }
    CUpdaterDlg dlg(services_);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

void CUpdaterApp::RequestClose() {
    if (m_pMainWnd != nullptr) {
        m_pMainWnd->PostClose();
    }
}
