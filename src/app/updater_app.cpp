#include "app/updater_app.h"

#include "app/updater_dlg.h"
#include "platform/dialogs/modal_stack.h"
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

// The dialogs and boxes open over the main window go first, then the main
// window closes as its close box would close it.
void CUpdaterApp::RequestClose() {
    if (m_pMainWnd != nullptr) {
        platform::ModalStack::EndNestedLoops();
        m_pMainWnd->PostClose();
    }
}

void CUpdaterApp::BringBack() {
    if (m_pMainWnd != nullptr) {
        m_pMainWnd->BringBack();
    }
}
