#include "platform/dialogs/dialog_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <memory>

#include "platform/dialogs/dialog.h"
#include "platform/dialogs/modal_stack.h"

namespace platform {

DialogWindow::DialogWindow(Dialog& dialog, QWidget* owner) : QDialog(owner), dialog_(dialog) {}

QRect DialogWindow::DialogUnitsToPixels(int x, int y, int cx, int cy) const {
    QFontMetrics fm(font());
    static const QString sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const double baseX = (fm.horizontalAdvance(sample) / 26 + 1) / 2 * widthScale_;
    const int baseY = fm.height();
    auto scaleX = [baseX](int v) { return static_cast<int>(v * baseX / 4); };
    auto scaleY = [baseY](int v) { return (v * baseY) / 8; };
    return QRect(scaleX(x), scaleY(y), scaleX(cx), scaleY(cy));
}

void DialogWindow::FitTexts(const DialogTemplate& tpl) {
    widthScale_ = 1.0;
    const QFontMetrics fm(font());
    double needed = 1.0;
    for (const ControlTemplate& ctl : tpl.controls) {
        if (ctl.kind == ControlKind::Edit || ctl.kind == ControlKind::Icon || ctl.cx <= 0) {
            continue;
        }
        const QString text = QString::fromUtf8(ctl.text).remove('&');
        const int want = fm.horizontalAdvance(text) + TextPadding(ctl.kind);
        needed = std::max(needed, double(want) / DialogUnitsToPixels(0, 0, ctl.cx, 0).width());
    }
    // The window manager writes the caption in a title font of its own, often
    // larger and bold, beside the window's icon and three buttons each about a
    // line high: room for twice the caption in the dialog's font keeps it whole.
    const int title = 2 * fm.horizontalAdvance(QString::fromUtf8(tpl.caption)) + 4 * fm.height();
    widthScale_ = std::max(needed, double(title) / DialogUnitsToPixels(0, 0, tpl.cx, 0).width());
}

int DialogWindow::TextPadding(ControlKind kind) const {
    switch (kind) {
        case ControlKind::CheckBox:
            return style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                   style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) + 2;
        case ControlKind::PushButton:
            return 2 * style()->pixelMetric(QStyle::PM_ButtonMargin);
        default:
            return 1;
    }
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            dialog_.SendCommand(IDCANCEL);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            dialog_.OnEnterKey();
            break;
        case Qt::Key_F1:
            dialog_.SendCommand(ID_HELP);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    dialog_.PostClose();
}

void DialogWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // As on the desktop the program was written for: activating a window that
    // a dialog blocks activates that dialog.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        dialog_.RaiseOpenModal();
    }
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        dialog_.OnWindowStateChanged(change->oldState() & Qt::WindowMinimized);
    }
}

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

QWidget* CreateEdit(const ControlTemplate& ctl, QWidget* parent,
                    const std::function<void(int, int)>& notify) {
    const int id = ctl.id;
    if (ctl.style & kMultiLine) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(ctl.style & kReadOnly);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        // An edit control's text sits close to its border.
        edit->document()->setDocumentMargin(1);
        edit->setVerticalScrollBarPolicy((ctl.style & kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QObject::connect(edit, &QPlainTextEdit::textChanged,
                         [notify, id] { notify(id, EN_CHANGE); });
        return edit;
    }
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(ctl.style & kReadOnly);
    edit->setFrame(ctl.style & (kBorder | kClientEdge));
    if (ctl.style & kPassword) {
        edit->setEchoMode(QLineEdit::Password);
    }
    edit->installEventFilter(new TypingRules(edit, ctl.style & kNumber));
    QObject::connect(edit, &QLineEdit::textChanged, [notify, id] { notify(id, EN_CHANGE); });
    return edit;
}

QWidget* CreateButton(const ControlTemplate& ctl, QWidget* parent,
                      const std::function<void(int, int)>& notify) {
    const int id = ctl.id;
    QAbstractButton* button = nullptr;
    if (ctl.kind == ControlKind::CheckBox) {
        button = new QCheckBox(QString::fromUtf8(ctl.text), parent);
    } else {
        auto* push = new QPushButton(QString::fromUtf8(ctl.text), parent);
        push->setAutoDefault(false);
        push->setDefault(ctl.style & kDefPushButton);
        button = push;
    }
    QObject::connect(button, &QAbstractButton::clicked, [notify, id] { notify(id, BN_CLICKED); });
    return button;
}

QWidget* CreateStatic(const ControlTemplate& ctl, QWidget* parent) {
    auto* label = new QLabel(parent);
    if (ctl.kind == ControlKind::Icon) {
        label->setPixmap(QIcon(QString::fromUtf8(ctl.text)).pixmap(32, 32));
    } else {
        label->setTextFormat(Qt::PlainText);
        label->setText(QString::fromUtf8(ctl.text));
    }
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

QWidget* CreateControl(const ControlTemplate& ctl, QWidget* parent,
                       const std::function<void(int, int)>& notify) {
    QWidget* w = nullptr;
    switch (ctl.kind) {
        case ControlKind::Static:
        case ControlKind::Icon:
            w = CreateStatic(ctl, parent);
            break;
        case ControlKind::Edit:
            w = CreateEdit(ctl, parent, notify);
            break;
        case ControlKind::PushButton:
        case ControlKind::CheckBox:
            w = CreateButton(ctl, parent, notify);
            break;
    }
    w->setFocusPolicy((ctl.style & kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
    w->setEnabled(!(ctl.style & kDisabled));
    return w;
}

void SetTypingLimit(QWidget* edit, int maxChars) {
    QObject* rules = edit != nullptr ? edit->findChild<QObject*>(TypingRules::kName) : nullptr;
    if (rules != nullptr) {
        static_cast<TypingRules*>(rules)->SetLimit(maxChars);
    }
}

}  // namespace platform
