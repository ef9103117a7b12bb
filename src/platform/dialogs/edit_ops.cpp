#include "platform/dialogs/edit_ops.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

namespace platform {

int EditLineCount(QPlainTextEdit* edit) {
    if (edit == nullptr) {
        return 1;
    }
    int lines = 0;
    for (QTextBlock b = edit->document()->begin(); b.isValid(); b = b.next()) {
        lines += std::max(1, b.layout() != nullptr ? b.layout()->lineCount() : 1);
    }
    return std::max(1, lines);
}

void EditLineScroll(QPlainTextEdit* edit, int lines) {
    if (edit == nullptr) {
        return;
    }
    QScrollBar* bar = edit->verticalScrollBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + lines));
}

}  // namespace platform
