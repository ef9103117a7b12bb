// The Qt window of a Dialog: forwards the window's key, close and state events
// to its dialog the way the dialog manager does, and builds controls from a
// template.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/dialog_template.h"

namespace platform {

class Dialog;

class DialogWindow : public QDialog {
    Q_OBJECT
public:
    DialogWindow(Dialog& dialog, QWidget* owner);

    // Dialog units to pixels for the window's font.
    QRect DialogUnitsToPixels(int x, int y, int cx, int cy) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Dialog& dialog_;
};

// Creates the widget of one control on parent. notify delivers its
// notifications (button clicks, edit changes) as (id, code).
QWidget* CreateControl(const ControlTemplate& ctl, QWidget* parent,
                       const std::function<void(int, int)>& notify);

// Limits how much the user can type into an edit without ever cutting text
// that the program puts there.
void SetTypingLimit(QWidget* edit, int maxChars);

}  // namespace platform
