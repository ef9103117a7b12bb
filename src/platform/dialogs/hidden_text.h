// What accessibility listeners (screen readers, through AT-SPI) hear of a
// password box: Qt's line edit reports each character typed or deleted in
// clear even in password mode, while reading the box gives nothing. The
// reports are passed on with every character replaced, so a listener can
// tell that a character was typed, never which.
#pragma once

#include <QAccessible>

namespace platform {

// Makes the text reports of every password box carry no typed character;
// called as a password box is made, it takes effect once.
void HideTypedTextOfPasswordBoxes();

// Where the reports go: Qt's platform accessibility (AT-SPI), or, when given,
// another listener (a test's), which is then taken to be listening.
void SendAccessibilityReportsTo(QAccessible::UpdateHandler listener);

}  // namespace platform
