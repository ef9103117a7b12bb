#include "platform/dialogs/controls.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/dialogs/hidden_text.h"
#include "platform/dialogs/typing_rules.h"

namespace platform {

namespace {

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
        HideTypedTextOfPasswordBoxes();
    }
    InstallTypingRules(edit, ctl.style & kNumber);
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

bool IsInputControl(const ControlTemplate& ctl) {
    return ctl.kind == ControlKind::Edit || ctl.kind == ControlKind::CheckBox;
}

// The static text left of a control on the same row names it, as a screen
// reader would read the form; without one, the nearest text above it.
const ControlTemplate* LabelFor(const DialogTemplate& tpl, const ControlTemplate& ctl) {
    const ControlTemplate* left = nullptr;
    const ControlTemplate* above = nullptr;
    for (const auto& other : tpl.controls) {
        if (other.kind != ControlKind::Static) {
            continue;
        }
        const bool sameRow = other.y < ctl.y + ctl.cy && ctl.y < other.y + other.cy;
        const bool sameColumn = other.x < ctl.x + ctl.cx && ctl.x < other.x + other.cx;
        if (sameRow && other.x < ctl.x && (left == nullptr || other.x > left->x)) {
            left = &other;
        }
        if (sameColumn && other.y + other.cy <= ctl.y && (above == nullptr || other.y > above->y)) {
            above = &other;
        }
    }
    return left != nullptr ? left : above;
}

QString AccessibleName(const char* text) {
    QString name = QString::fromUtf8(text).remove('&');
    if (name.endsWith(':')) {
        name.chop(1);
    }
    return name;
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

// Accessible names: an icon's own, a control's text without its mnemonic, and
// for an input control without text the label that names it (which also
// becomes the label's buddy, so its mnemonic reaches the control).
void NameControls(const DialogTemplate& tpl,
                  const std::map<const ControlTemplate*, QWidget*>& created) {
    for (const auto& ctl : tpl.controls) {
        created.at(&ctl)->setAccessibleName(ctl.kind == ControlKind::Icon
                                                ? QString::fromUtf8(ctl.iconName)
                                                : AccessibleName(ctl.text));
    }
    for (const auto& ctl : tpl.controls) {
        const ControlTemplate* label = IsInputControl(ctl) ? LabelFor(tpl, ctl) : nullptr;
        if (label != nullptr && *ctl.text == '\0') {
            created.at(&ctl)->setAccessibleName(AccessibleName(label->text));
            static_cast<QLabel*>(created.at(label))->setBuddy(created.at(&ctl));
        }
    }
}

}  // namespace platform
