// The widgets of a dialog's controls, built from their templates, and the
// notifications they send.
#pragma once

#include <functional>
#include <map>

#include "platform/dialogs/dialog_template.h"

class QWidget;

namespace platform {

// Notification codes of a command.
inline constexpr int BN_CLICKED = 0;
inline constexpr int EN_CHANGE = 0x300;

// Creates the widget of one control on parent. notify delivers its
// notifications (button clicks, edit changes) as (id, code).
QWidget* CreateControl(const ControlTemplate& ctl, QWidget* parent,
                       const std::function<void(int, int)>& notify);

// Gives the created widgets (by their templates) the names a screen reader
// reads for them.
void NameControls(const DialogTemplate& tpl,
                  const std::map<const ControlTemplate*, QWidget*>& created);

}  // namespace platform
