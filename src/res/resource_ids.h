// Identifiers of the program's resources: dialogs, menus, icon, strings,
// controls and commands.
#pragma once

#include "platform/dialogs/dialog_template.h"

namespace res {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_UPDATER_DIALOG = 102;
inline constexpr int IDD_OPTIONS = 131;

// Menus and icon.
inline constexpr int IDR_MAINMENU = 129;
inline constexpr int IDR_TRAYMENU = 130;
inline constexpr int IDR_MAINFRAME = 128;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;

// Dialog manager's standard ids.
using platform::IDCANCEL;
using platform::IDOK;
inline constexpr int IDC_STATIC = -1;

// Controls of the main dialog.
inline constexpr int IDC_LOGIN = 1000;
inline constexpr int IDC_PASSWORD = 1001;
inline constexpr int IDC_CONNECT = 1002;
inline constexpr int IDC_DISCONNECT = 1003;
inline constexpr int IDC_STATUS = 1004;
inline constexpr int IDC_ADDRESS = 1005;
inline constexpr int IDC_WEBSITE = 1006;
inline constexpr int IDC_OPTIONS = 1007;

// Controls of the Options dialog.
inline constexpr int IDC_SAVE_PASSWORD = 1007;
inline constexpr int IDC_ATTEMPT_RECONNECT = 1008;
inline constexpr int IDC_CONNECT_ON_STARTUP = 1009;
inline constexpr int IDC_MINIMIZE_ON_STARTUP = 1010;
inline constexpr int IDC_REFRESH_INTERVAL = 1011;
inline constexpr int IDC_RETRY_INTERVAL = 1012;

// Menu commands.
inline constexpr int ID_NETWORK_CONNECT = 32771;
inline constexpr int ID_NETWORK_DISCONNECT = 32772;
inline constexpr int ID_NETWORK_QUIT = 32774;
inline constexpr int ID_HELP_HELPME = 32775;
inline constexpr int ID_HELP_ABOUT = 32776;
inline constexpr int ID_HELP_EMAIL = 32777;
inline constexpr int ID_SITES_1 = 32779;
inline constexpr int ID_SITES_2 = 32780;
inline constexpr int ID_SITES_3 = 32781;
inline constexpr int ID_SITES_4 = 32782;
inline constexpr int ID_TRAY_RESTORE = 32783;
inline constexpr int ID_TRAY_EXIT = 32784;
inline constexpr int ID_NETWORK_OPTIONS = 32785;

// The framework's help command (F1).
using platform::ID_HELP;

// Timers of the main dialog.
inline constexpr unsigned kRefreshTimer = 1;
inline constexpr unsigned kReconnectTimer = 1500;

}  // namespace res
