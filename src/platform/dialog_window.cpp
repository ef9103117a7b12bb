#include "platform/dialog_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QValidator>

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
        default:
            QWidget::keyPressEvent(event);
    }
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    dialog_.PostClose();
}

namespace {

// Refuses typing that would make the text longer than the limit; text set by
// the program is not validated and so never cut. Deleting is always allowed.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* edit, int maxChars, bool digitsOnly)
        : QValidator(edit), edit_(edit), maxChars_(maxChars), digitsOnly_(digitsOnly) {}
    void SetLimit(int maxChars) { maxChars_ = maxChars; }
    State validate(QString& input, int&) const override {
        const bool grows = input.size() > edit_->text().size();
        if (grows && maxChars_ > 0 && input.size() > maxChars_) {
            return Invalid;
        }
        if (grows && digitsOnly_) {
            for (QChar c : input) {
                if (!c.isDigit()) {
                    return Invalid;
                }
            }
        }
        return Acceptable;
    }

private:
    QLineEdit* edit_;
    int maxChars_;
    bool digitsOnly_;
};

QWidget* CreateEdit(const ControlTemplate& ctl, QWidget* parent,
                    const std::function<void(int, int)>& notify) {
    const int id = ctl.id;
    if (ctl.style & kMultiLine) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(ctl.style & kReadOnly);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setVerticalScrollBarPolicy((ctl.style & kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QObject::connect(edit, &QPlainTextEdit::textChanged, [notify, id] { notify(id, EN_CHANGE); });
        return edit;
    }
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(ctl.style & kReadOnly);
    edit->setFrame(ctl.style & (kBorder | kClientEdge));
    if (ctl.style & kPassword) {
        edit->setEchoMode(QLineEdit::Password);
    }
    edit->setValidator(new TypingLimit(edit, 0, ctl.style & kNumber));
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
        label->setPixmap(parent->window()->windowIcon().pixmap(32, 32));
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
    if (auto* line = qobject_cast<QLineEdit*>(edit)) {
        if (auto* limit = dynamic_cast<TypingLimit*>(const_cast<QValidator*>(line->validator()))) {
            limit->SetLimit(maxChars);
        }
    }
}

}  // namespace platform
