// Dialog and menu templates held as data: what a dialog window is built from.
// Positions and sizes are in dialog units of the template's font.
#pragma once

#include <vector>

namespace platform {

// The dialog manager's standard command ids, and the framework's help command
// (F1).
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int ID_HELP = 57670;

enum class ControlKind { Static, Icon, Edit, PushButton, CheckBox };

// Window styles of a control, as flags.
enum ControlStyle : unsigned {
    kNone = 0,
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kBorder = 1u << 2,
    kClientEdge = 1u << 3,  // sunken extended border
    kPassword = 1u << 4,
    kMultiLine = 1u << 5,
    kReadOnly = 1u << 6,
    kVScroll = 1u << 7,
    kAutoHScroll = 1u << 8,
    kNumber = 1u << 9,  // typing accepts digits only
    kDefPushButton = 1u << 10,
    kDisabled = 1u << 11,
    kNoPrefix = 1u << 12,  // ampersands are shown, not taken as mnemonics
    kAutoCheckBox = 1u << 13,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // for an icon, the icon's resource path
    int x, y, cx, cy;
    unsigned style;
    const char* iconName = nullptr;  // what an icon shows, for screen readers
};

struct MenuTemplate;

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;
    bool minimizeBox;
    bool appWindow;            // has a task-bar entry of its own
    const MenuTemplate* menu;  // null when the dialog has no menu
    std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate {
    const char* text;
    int command;  // 0 for a popup
    bool grayed;
    std::vector<MenuItemTemplate> items;  // the popup's items
};

struct MenuTemplate {
    int id;
    std::vector<MenuItemTemplate> popups;
};

}  // namespace platform
