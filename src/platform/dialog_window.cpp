#include "platform/dialog_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/dialog.h"

namespace platform {

DialogWindow::DialogWindow(Dialog& dialog, QWidget* owner) : QDialog(owner), dialog_(dialog) {}

QRect DialogWindow::DialogUnitsToPixels(int x, int y, int cx, int cy) const {
    QFontMetrics fm(font());
    static const QString sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const int baseX = (fm.horizontalAdvance(sample) / 26 + 1) / 2;
    const int baseY = fm.height();
    auto scaleX = [baseX](int v) { return (v * baseX) / 4; };
    auto scaleY = [baseY](int v) { return (v * baseY) / 8; };
    return QRect(scaleX(x), scaleY(y), scaleX(cx), scaleY(cy));
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            dialog_.SendCommand(2);  // IDCANCEL
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
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        dialog_.OnWindowStateChanged(change->oldState() & Qt::WindowMinimized);
    }
}

namespace {

// Refuses typing that would make the text longer than the limit, and in a
// number edit anything but digits. Text set by the program never passes here,
// so it is never cut; deleting is always possible.
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
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->matches(QKeySequence::Paste)) {
                return Refuses(QGuiApplication::clipboard()->text());
            }
            return Refuses(key->text());
        }
        return false;
    }

private:
    bool Refuses(const QString& typed) const {
        if (typed.isEmpty() || !typed[0].isPrint()) {
            return false;
        }
        if (digitsOnly_ &&
            std::any_of(typed.begin(), typed.end(), [](QChar c) { return !c.isDigit(); })) {
            return true;
        }
        const qsizetype after = edit_->text().size() - edit_->selectedText().size() + typed.size();
        return maxChars_ > 0 && after > maxChars_;
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
