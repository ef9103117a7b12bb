// Line operations of a multi-line edit control.
#pragma once

class QPlainTextEdit;

namespace platform {

// Lines of the text as displayed, wrapped lines counted separately; at least 1.
int EditLineCount(QPlainTextEdit* edit);
// Scrolls the text up by that many lines, stopping at the last line.
void EditLineScroll(QPlainTextEdit* edit, int lines);

}  // namespace platform
