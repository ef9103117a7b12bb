#include "res/dialog_templates.h"

#include "res/menus.h"
#include "res/resource_ids.h"

namespace res {

using platform::ControlKind;
using platform::DialogTemplate;
using namespace platform;  // style flags

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate tpl{IDD_ABOUTBOX,
                                    "About Kestrome",
                                    131,
                                    53,
                                    false,
                                    false,
                                    nullptr,
                                    {
                                        {IDC_STATIC, ControlKind::Icon, ":/kestrome/icon-32.png", 7,
                                         26, 20, 20, kNone, "Kestrome icon"},
                                        {IDC_STATIC, ControlKind::Static, "Kestrome Version 1.2",
                                         41, 25, 83, 8, kNoPrefix | kGroup},
                                        {IDOK, ControlKind::PushButton, "OK", 74, 7, 50, 14,
                                         kDefPushButton | kGroup | kTabStop},
                                    }};
    return tpl;
}

const DialogTemplate& UpdaterDialogTemplate() {
    static const DialogTemplate tpl{
        IDD_UPDATER_DIALOG,
        "Kestrome",
        127,
        119,
        true,
        true,
        &MainMenu(),
        {
            {IDC_STATIC, ControlKind::Static, "Login:", 7, 44, 22, 9, kGroup},
            {IDC_STATIC, ControlKind::Static, "Password:", 7, 59, 33, 9, kGroup},
            {IDC_LOGIN, ControlKind::Edit, "", 34, 41, 80, 14,
             kBorder | kTabStop | kAutoHScroll | kClientEdge},
            {IDC_PASSWORD, ControlKind::Edit, "", 44, 56, 69, 14,
             kBorder | kTabStop | kAutoHScroll | kClientEdge | kPassword},
            {IDC_CONNECT, ControlKind::PushButton, "Connect", 14, 103, 48, 14, kTabStop},
            {IDC_DISCONNECT, ControlKind::PushButton, "Disconnect", 69, 103, 44, 14, kTabStop},
            {IDC_STATIC, ControlKind::Static, "Status:", 7, 7, 23, 9, kGroup},
            {IDC_STATUS, ControlKind::Edit, "", 34, 5, 79, 35,
             kMultiLine | kReadOnly | kVScroll | kBorder | kTabStop},
            {IDC_WEBSITE, ControlKind::PushButton, "Web Site", 16, 88, 45, 12, kTabStop},
            {IDC_OPTIONS, ControlKind::PushButton, "Options", 68, 88, 45, 12, kTabStop},
            {IDC_STATIC, ControlKind::Static, "IP Address:", 7, 74, 37, 9, kGroup},
            {IDC_ADDRESS, ControlKind::Edit, "", 44, 71, 69, 14,
             kReadOnly | kBorder | kTabStop | kAutoHScroll | kClientEdge},
        }};
    return tpl;
}

const DialogTemplate& OptionsDialogTemplate() {
    static const DialogTemplate tpl{
        IDD_OPTIONS,
        "Dialog",
        186,
        98,
        false,
        false,
        nullptr,
        {
            {IDOK, ControlKind::PushButton, "OK", 129, 77, 50, 14, kDefPushButton | kTabStop},
            {IDCANCEL, ControlKind::PushButton, "Save Settings", 70, 77, 50, 14,
             kDefPushButton | kTabStop | kDisabled},
            {IDC_STATIC, ControlKind::Static, "IP Refresh Interval:", 97, 8, 61, 9, kNone},
            {IDC_SAVE_PASSWORD, ControlKind::CheckBox, "Save Password", 7, 7, 65, 11,
             kAutoCheckBox | kTabStop},
            {IDC_ATTEMPT_RECONNECT, ControlKind::CheckBox, "Attempt Reconnect", 7, 21, 75, 11,
             kAutoCheckBox | kTabStop},
            {IDC_CONNECT_ON_STARTUP, ControlKind::CheckBox, "Connect on Startup", 7, 35, 79, 11,
             kAutoCheckBox | kTabStop},
            {IDC_MINIMIZE_ON_STARTUP, ControlKind::CheckBox, "Minimize on Startup", 7, 49, 80, 11,
             kAutoCheckBox | kTabStop},
            {IDC_REFRESH_INTERVAL, ControlKind::Edit, "", 103, 20, 39, 12,
             kBorder | kTabStop | kNumber | kAutoHScroll},
            {IDC_STATIC, ControlKind::Static, "Connect Retry Interval:", 97, 38, 75, 10, kNone},
            {IDC_RETRY_INTERVAL, ControlKind::Edit, "", 103, 51, 39, 12,
             kBorder | kTabStop | kNumber | kAutoHScroll},
            {IDC_STATIC, ControlKind::Static, "Minutes", 146, 23, 33, 8, kNone},
            {IDC_STATIC, ControlKind::Static, "Minutes", 146, 53, 33, 8, kNone},
        }};
    return tpl;
}

}  // namespace res
