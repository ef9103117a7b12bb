#include "platform/dialogs/controls.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

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

}  // namespace platform
