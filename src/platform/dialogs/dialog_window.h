// The Qt window of a Dialog: forwards the window's key, close and state events
// to its dialog the way the dialog manager does, and builds controls from a
// template.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/dialogs/dialog_template.h"

namespace platform {

class Dialog;

class DialogWindow : public QDialog {
    Q_OBJECT
public:
    DialogWindow(Dialog& dialog, QWidget* owner);

    // Dialog units to pixels for the window's font, widened where the font
    // needs more room than the template planned (see FitTexts).
    QRect DialogUnitsToPixels(int x, int y, int cx, int cy) const;
    // Widens the dialog units until every text of the template fits its
    // control in the window's font: fonts differ in their proportions (a
    // fixed-width face draws narrow letters wide), and no label may be cut.
    void FitTexts(const DialogTemplate& tpl);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Pixels a control needs across for its text, beyond the text's own width.
    int TextPadding(ControlKind kind) const;

    Dialog& dialog_;
    double widthScale_ = 1.0;
};

// Creates the widget of one control on parent. notify delivers its
// notifications (button clicks, edit changes) as (id, code).
QWidget* CreateControl(const ControlTemplate& ctl, QWidget* parent,
                       const std::function<void(int, int)>& notify);

// Limits how much the user can type into an edit without ever cutting text
// that the program puts there.
void SetTypingLimit(QWidget* edit, int maxChars);

}  // namespace platform
