// What the user may type into a single-line edit: a length limit that never
// cuts text the program puts there, and digits only in a number edit.
#pragma once

class QLineEdit;
class QWidget;

namespace platform {

// Puts the rules on the edit, with no length limit yet.
void InstallTypingRules(QLineEdit* edit, bool digitsOnly);

// Limits how much the user can type into an edit without ever cutting text
// that the program puts there. Does nothing to a widget without typing rules.
void SetTypingLimit(QWidget* edit, int maxChars);

}  // namespace platform
