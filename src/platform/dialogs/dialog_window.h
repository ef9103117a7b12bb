// The Qt window of a Dialog: tells its dialog of the keys, the close request
// and the state changes the dialog manager handles, and converts the
// template's dialog units to pixels.
#pragma once

#include <QDialog>

#include "platform/dialogs/dialog_template.h"

namespace platform {

// What a dialog window tells its dialog.
class DialogWindowEvents {
public:
    virtual void OnEscapeKey() = 0;
    virtual void OnEnterKey() = 0;
    virtual void OnHelpKey() = 0;  // F1
    // The close box or Alt+F4: the window stays until the dialog decides.
    virtual void OnCloseRequest() = 0;
    // The window became the active one.
    virtual void OnActivated() = 0;
    // The window manager changed the window's state; wasMinimized is the old one.
    virtual void OnMinimizedChanged(bool wasMinimized) = 0;

protected:
    ~DialogWindowEvents() = default;
};

class DialogWindow : public QDialog {
    Q_OBJECT
public:
    DialogWindow(DialogWindowEvents& events, QWidget* owner);

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

    DialogWindowEvents& events_;
    double widthScale_ = 1.0;
};

}  // namespace platform
