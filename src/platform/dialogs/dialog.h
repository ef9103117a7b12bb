// The base of every dialog: a window built from a dialog template, controls and
// menu items looked up by id, command routing, data exchange, window timers by
// id and the modal run. The dialog object outlives its window: each DoModal
// builds the window anew from the template and destroys it at the end.
#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/command_target.h"
#include "platform/dialogs/controls.h"
#include "platform/dialogs/data_exchange.h"
#include "platform/dialogs/dialog_template.h"
#include "platform/dialogs/dialog_window.h"
#include "platform/dialogs/window_lifecycle.h"
#include "platform/services.h"

class QAction;
class QEventLoop;
class QDialog;
class QWidget;

namespace platform {

// A dialog's help context is this base plus its template's number.
inline constexpr unsigned kHelpContextBase = 0x20000;

// System commands: the window minimised or restored.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_RESTORE = 0xF120;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_RESTORE = 9;

// One entry of a dialog's message map: a command id (with its notification
// code) and the member that handles it.
template <class T>
struct MessageMapEntry {
    int code;
    int id;
    void (T::*handler)();
};

// Runs the handler of the first entry matching id and code; false when none does.
template <class T>
bool DispatchCommand(T* self, std::span<const MessageMapEntry<T>> map, int id, int code) {
    for (const auto& entry : map) {
        if (entry.id == id && entry.code == code) {
            (self->*entry.handler)();
            return true;
        }
    }
    return false;
}

class Dialog : public TimerOwner, public CommandTarget, private DialogWindowEvents {
public:
    Dialog(const DialogTemplate& tpl, PlatformServices& services);
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Builds the window, runs OnInitDialog, runs the modal loop until
    // EndDialog or a quit request, then hides the window and calls
    // DestroyWindow. owner is the window the dialog stays above (may be null).
    int DoModal(QWidget* owner = nullptr);
    void EndDialog(int result);
    bool HasEnded() const { return life_.HasEnded(); }
    // Queues a request that ends the modal loop.
    void PostQuitMessage();

    // Delivers a command as a button, a menu item or another window would.
    void SendCommand(int id, int code = BN_CLICKED) override;
    void PostCommand(int id) override;
    void SetForegroundWindow() override;
    // Shows the window, out of the minimised state, in front of the others.
    void BringToFront();
    // A dialog without a tray icon ignores the icon's comings and goings.
    void OnTrayIconShown(bool) override {}
    // Queues the window's close request (the close box, Alt+F4).
    void PostClose();
    // Queues a system command, as the window manager's buttons deliver them;
    // before the window first shows, it waits until it has.
    void PostSysCommand(unsigned nID);
    // Queues work for the loop's next turn once the window has first shown, in
    // the order posted.
    void PostWhenShown(std::function<void()> work);

    // Shows, hides or restores the window (SW_SHOW, SW_HIDE, SW_RESTORE).
    void ShowWindow(int nCmdShow);
    bool IsIconic() const;

    bool UpdateData(bool saveAndValidate = true);

    QDialog* Window() const;
    QWidget* GetDlgItem(int id) const;
    void EnableWindow(int id, bool enable);
    // Menu items by command id; false / nothing when the window has no menu.
    bool HasMenu() const;
    void EnableMenuItem(int command, bool enable);
    void SetMenuItemText(int command, const QString& text);
    bool IsMenuItemEnabled(int command) const;

    void SetTimer(unsigned id, std::int64_t periodMs);
    void KillTimer(unsigned id);

    // The program's own box (OK, no icon) or the framework's (exclamation).
    void MessageBox(const QString& text, BoxIcon icon = BoxIcon::None);

    PlatformServices& Services() const { return services_; }
    bool IsExchanging() const { return exchangeDepth_ > 0; }

protected:
    // Base: the first data exchange into the controls. Returning true puts the
    // focus on the first control with a tab stop.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange&) {}
    // The dialog's message map for commands; the base handles IDOK and IDCANCEL.
    virtual bool OnCmdMsg(int id, int code);
    virtual void OnOK();
    virtual void OnCancel();
    // The window's close request; the base sends IDCANCEL.
    virtual void OnClose();
    virtual void OnTimer(unsigned) {}
    // System commands; the base minimises or restores the window.
    virtual void OnSysCommand(unsigned nID);
    // The help routing: opens the help at this dialog's context, or reports
    // that help could not be launched.
    void OnHelp();
    // Base: OnDestroy, then the window and its timers go.
    virtual bool DestroyWindow();
    virtual void OnDestroy() {}

private:
    void CreateFromTemplate(QWidget* owner);
    int BuildMenu();  // returns the menu bar's height
    void FocusFirstTabStop();
    // Moves a window that was hidden back to where it was.
    void ComeBackToPlace();
    void OnTimerFired(unsigned id) override;
    void OnControlNotification(int id, int code);
    // What the window tells.
    void OnEscapeKey() override;
    void OnEnterKey() override;
    void OnHelpKey() override;
    void OnCloseRequest() override;
    void OnActivated() override;
    // The window's minimised state changed under the window manager's hand.
    void OnMinimizedChanged(bool wasMinimized) override;

    const DialogTemplate& template_;
    PlatformServices& services_;
    std::unique_ptr<DialogWindow> window_;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> menuItems_;
    BoundControls boundControls_;
    WindowLifecycle life_;
    std::optional<QPoint> placeWhenHidden_;  // the window's place as it was hidden
    QEventLoop* modalLoop_ = nullptr;
    int result_ = 0;
    int exchangeDepth_ = 0;
};

}  // namespace platform
