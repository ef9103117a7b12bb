#include "app/updater_app.h"

#include "app/updater_dlg.h"
#include "platform/dialogs/modal_stack.h"
#include "platform/session/abrupt_exit.h"
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
    // A display that goes away ends the program from below its event loop;
    // the login typed since the last save is saved all the same.
    platform::WhenEndedAbruptly([&dlg] { dlg.SaveCredentialsWithoutDisplay(); });
    dlg.DoModal();
    platform::WhenEndedAbruptly(nullptr);
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
