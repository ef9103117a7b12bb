#include "platform/dialogs/dialog_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>

namespace platform {

DialogWindow::DialogWindow(DialogWindowEvents& events, QWidget* owner)
    : QDialog(owner), events_(events) {}

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
            events_.OnEscapeKey();
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            events_.OnEnterKey();
            break;
        case Qt::Key_F1:
            events_.OnHelpKey();
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    events_.OnCloseRequest();
}

void DialogWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // As on the desktop the program was written for: activating a window that
    // a dialog blocks activates that dialog.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        events_.OnActivated();
    }
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        events_.OnMinimizedChanged(change->oldState() & Qt::WindowMinimized);
    }
}

}  // namespace platform
