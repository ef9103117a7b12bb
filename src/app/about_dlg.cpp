#include "app/about_dlg.h"

#include "res/dialog_templates.h"

CAboutDlg::CAboutDlg(platform::PlatformServices& services)
    : Dialog(res::AboutDialogTemplate(), services) {}
