// The About box: the icon, the program's name and version, and OK.
#pragma once

#include "platform/dialogs/dialog.h"

class CAboutDlg : public platform::Dialog {
public:
    explicit CAboutDlg(platform::PlatformServices& services);
};
