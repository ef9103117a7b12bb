// The program's menus.
#pragma once

#include "platform/dialogs/dialog_template.h"

namespace res {

const platform::MenuTemplate& MainMenu();  // 129
const platform::MenuTemplate& TrayMenu();  // 130

// The menu resource with that id, or null.
const platform::MenuTemplate* MenuById(unsigned id);

}  // namespace res
