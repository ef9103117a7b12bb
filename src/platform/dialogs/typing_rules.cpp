#include "platform/dialogs/typing_rules.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <algorithm>
#include <memory>

#include "platform/dialogs/modal_stack.h"

namespace platform {

namespace {

// Refuses typing that would make the text longer than the limit, and in a
// number edit anything but digits; text that arrives whole (pasted by key,
// context menu or middle button, or dropped) keeps what fits, the first
// characters up to the limit, inserted at the cursor. Text set by the program
// never passes here, so it is never cut; deleting is always possible.
class TypingRules : public QObject {
public:
    TypingRules(QLineEdit* edit, bool digitsOnly)
        : QObject(edit), edit_(edit), digitsOnly_(digitsOnly) {
        setObjectName(kName);
    }
    static constexpr const char* kName = "typingRules";
    void SetLimit(int maxChars) { maxChars_ = maxChars; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                return OnKey(static_cast<QKeyEvent*>(event));
            case QEvent::MouseButtonRelease:
                return OnMiddleClick(static_cast<QMouseEvent*>(event));
            case QEvent::Drop:
                return OnDrop(static_cast<QDropEvent*>(event));
            case QEvent::ContextMenu:
                return OnContextMenu(static_cast<QContextMenuEvent*>(event));
            default:
                return false;
        }
    }

private:
    bool OnKey(QKeyEvent* key) {
        if (key->matches(QKeySequence::Paste)) {
            InsertFitting(QGuiApplication::clipboard()->text());
            return true;
        }
        return Refuses(key->text());
    }

    bool OnMiddleClick(QMouseEvent* mouse) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (mouse->button() != Qt::MiddleButton || !clipboard->supportsSelection()) {
            return false;
        }
        edit_->deselect();
        edit_->setCursorPosition(edit_->cursorPositionAt(mouse->position().toPoint()));
        InsertFitting(clipboard->text(QClipboard::Selection));
        return true;
    }

    bool OnDrop(QDropEvent* drop) {
        if (!drop->mimeData()->hasText()) {
            return false;
        }
        edit_->deselect();
        edit_->setCursorPosition(edit_->cursorPositionAt(drop->position().toPoint()));
        InsertFitting(drop->mimeData()->text());
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }

    // The edit's own menu, its Paste keeping what fits like the keys do.
    bool OnContextMenu(QContextMenuEvent* event) {
        std::unique_ptr<QMenu> menu(edit_->createStandardContextMenu());
        const QString pasteText = QCoreApplication::translate("QLineEdit", "&Paste");
        for (QAction* action : menu->actions()) {
            if (action->text().section('\t', 0, 0) == pasteText) {
                QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
                QObject::connect(action, &QAction::triggered,
                                 [this] { InsertFitting(QGuiApplication::clipboard()->text()); });
            }
        }
        ModalScope modal([&menu] { menu->close(); });
        menu->exec(event->globalPos());
        return true;
    }

    // A single-line edit takes the text's first line, as much of it as fits.
    void InsertFitting(QString text) {
        if (edit_->isReadOnly()) {
            return;
        }
        const qsizetype lineEnd = text.indexOf(QRegularExpression("[\r\n]"));
        if (lineEnd >= 0) {
            text.truncate(lineEnd);
        }
        if (digitsOnly_ &&
            !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); })) {
            return;
        }
        if (maxChars_ > 0) {
            text.truncate(std::max<qsizetype>(0, maxChars_ - KeptLength()));
        }
        if (!text.isEmpty()) {
            edit_->insert(text);
        }
    }

    // Characters that stay when the selection is replaced.
    qsizetype KeptLength() const { return edit_->text().size() - edit_->selectedText().size(); }

    bool Refuses(const QString& typed) const {
        if (typed.isEmpty() || !typed[0].isPrint()) {
            return false;
        }
        if (digitsOnly_ &&
            std::any_of(typed.begin(), typed.end(), [](QChar c) { return !c.isDigit(); })) {
            return true;
        }
        return maxChars_ > 0 && KeptLength() + typed.size() > maxChars_;
    }

    QLineEdit* edit_;
    bool digitsOnly_;
    int maxChars_ = 0;
};

}  // namespace

void InstallTypingRules(QLineEdit* edit, bool digitsOnly) {
    edit->installEventFilter(new TypingRules(edit, digitsOnly));
}

void SetTypingLimit(QWidget* edit, int maxChars) {
    QObject* rules = edit != nullptr ? edit->findChild<QObject*>(TypingRules::kName) : nullptr;
    if (rules != nullptr) {
        static_cast<TypingRules*>(rules)->SetLimit(maxChars);
    }
}

}  // namespace platform
