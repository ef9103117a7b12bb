// The program's dialog templates.
#pragma once

#include "platform/dialogs/dialog_template.h"

namespace res {

const platform::DialogTemplate& AboutDialogTemplate();    // 100
const platform::DialogTemplate& UpdaterDialogTemplate();  // 102
const platform::DialogTemplate& OptionsDialogTemplate();  // 131

}  // namespace res
