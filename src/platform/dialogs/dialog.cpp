#include "platform/dialogs/dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <utility>

#include "platform/dialogs/data_exchange.h"
#include "platform/dialogs/dialog_window.h"
#include "platform/dialogs/modal_stack.h"
#include "platform/session/help.h"

namespace platform {

Dialog::Dialog(const DialogTemplate& tpl, PlatformServices& services)
    : template_(tpl), services_(services) {}

Dialog::~Dialog() {
    // A window that was never destroyed through the modal run goes with the object.
    services_.timers.KillAll(this);
}

void Dialog::CreateFromTemplate(QWidget* owner) {
    window_ = std::make_unique<DialogWindow>(static_cast<DialogWindowEvents&>(*this), owner);
    QDialog* w = window_.get();
    Qt::WindowFlags flags = (template_.appWindow ? Qt::Window : Qt::Dialog) | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                            Qt::CustomizeWindowHint;
    if (template_.minimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    w->setWindowFlags(flags);
    w->setWindowTitle(QString::fromUtf8(template_.caption));
    // The desktop's own font at its size: the template's face is a Windows
    // one, and a user who asked for larger text gets a larger dialog.
    w->setFont(QApplication::font());
    window_->FitTexts(template_);

    const int menuHeight = BuildMenu();
    controls_.clear();
    auto notify = [this](int id, int code) { OnControlNotification(id, code); };
    std::map<const ControlTemplate*, QWidget*> created;
    for (const auto& ctl : template_.controls) {
        QWidget* widget = CreateControl(ctl, w, notify);
        widget->setGeometry(
            window_->DialogUnitsToPixels(ctl.x, ctl.y, ctl.cx, ctl.cy).translated(0, menuHeight));
        created[&ctl] = widget;
        if (ctl.id != -1) {
            widget->setObjectName(QString::number(ctl.id));
            controls_[ctl.id] = widget;
        }
    }
    NameControls(template_, created);
    QRect client = window_->DialogUnitsToPixels(0, 0, template_.cx, template_.cy);
    w->setFixedSize(client.width(), client.height() + menuHeight);
}

int Dialog::BuildMenu() {
    menuItems_.clear();
    if (template_.menu == nullptr) {
        return 0;
    }
    auto* bar = new QMenuBar(window_.get());
    for (const auto& popup : template_.menu->popups) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(popup.text));
        for (const auto& item : popup.items) {
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            action->setEnabled(!item.grayed);
            const int command = item.command;
            action->setObjectName(QString::number(command));
            QObject::connect(action, &QAction::triggered,
                             [this, command] { SendCommand(command); });
            menuItems_[command] = action;
        }
    }
    bar->setGeometry(0, 0, window_->DialogUnitsToPixels(0, 0, template_.cx, 0).width(),
                     bar->sizeHint().height());
    return bar->sizeHint().height();
}

int Dialog::DoModal(QWidget* owner) {
    if (ModalStack::IsEnding()) {
        return IDCANCEL;  // the program is ending: nothing new opens
    }
    ModalScope modal([this] { EndDialog(IDCANCEL); });
    life_.Open();
    result_ = 0;
    CreateFromTemplate(owner);
    // A dialog over a window blocks that window only, so the tray icon still
    // answers while it is open; the application's own window blocks nothing.
    window_->setWindowModality(template_.appWindow ? Qt::NonModal
                               : owner != nullptr  ? Qt::WindowModal
                                                   : Qt::ApplicationModal);
    if (OnInitDialog()) {
        FocusFirstTabStop();
    }
    // The dialog's own loop, not QDialog::exec: hiding the window to the tray
    // must not end it.
    if (!life_.HasEnded()) {
        window_->show();
        life_.Show();
        WhenExposed(window_.get(), [this] {
            for (auto& work : life_.Exposed()) {
                PostWhenShown(std::move(work));
            }
        });
        QEventLoop loop;
        modalLoop_ = &loop;
        loop.exec(QEventLoop::DialogExec);
        modalLoop_ = nullptr;
    }
    window_->hide();
    DestroyWindow();
    return result_;
}

void Dialog::FocusFirstTabStop() {
    for (const auto& ctl : template_.controls) {
        if ((ctl.style & kTabStop) && ctl.id != -1 && controls_[ctl.id]->isEnabled()) {
            controls_[ctl.id]->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void Dialog::EndDialog(int result) {
    life_.End();
    result_ = result;
    if (modalLoop_ != nullptr) {
        modalLoop_->exit();
    }
}

void Dialog::PostQuitMessage() {
    ModalStack::EndNestedLoops();
    QTimer::singleShot(0, window_.get(), [this] { EndDialog(-1); });
}

bool Dialog::DestroyWindow() {
    if (!window_) {
        return false;
    }
    OnDestroy();
    services_.timers.KillAll(this);
    boundControls_.ForgetAll();
    controls_.clear();
    menuItems_.clear();
    window_.reset();
    return true;
}

void Dialog::SendCommand(int id, int code) {
    if (window_) {
        OnCmdMsg(id, code);
    }
}

void Dialog::PostCommand(int id) {
    QTimer::singleShot(0, window_.get(), [this, id] { SendCommand(id); });
}

// A hidden window cannot come to the front; asking would only leave the
// window system believing it active when it shows.
void Dialog::SetForegroundWindow() {
    if (window_ && window_->isVisible()) {
        window_->raise();
        window_->activateWindow();
    }
}

// Some window managers (mutter) keep a window minimised when a program that
// was not just used asks otherwise, but map a window that was withdrawn.
void Dialog::BringToFront() {
    QDialog* w = window_.get();
    WindowLifecycle::ProgramChange change(life_);
    if (w->isMinimized()) {
        w->hide();
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    }
    w->show();
    w->raise();
    w->activateWindow();
}

// A system command posted before the window first shows waits until the
// window system has shown it: boxes shown while the window is being set up
// must not handle it, and a window manager that maps the window after a
// minimise would undo that minimise.
void Dialog::PostSysCommand(unsigned nID) {
    PostWhenShown([this, nID] { OnSysCommand(nID); });
}

void Dialog::PostWhenShown(std::function<void()> work) {
    if (!life_.Defer(work)) {
        QTimer::singleShot(0, window_.get(), std::move(work));
    }
}

void Dialog::OnSysCommand(unsigned nID) {
    if (!window_->isVisible()) {
        return;  // a hidden window has no state for the window manager to change
    }
    WindowLifecycle::ProgramChange change(life_);
    if (nID == SC_MINIMIZE && !window_->isMinimized()) {
        window_->showMinimized();
    } else if (nID == SC_RESTORE && window_->isMinimized()) {
        window_->showNormal();
    }
}

void Dialog::OnMinimizedChanged(bool wasMinimized) {
    // A hidden window's state changes come from the program, not the user.
    const bool minimized = window_->isMinimized();
    if (!life_.ProgramIsChanging() && window_->isVisible() && minimized != wasMinimized) {
        OnSysCommand(minimized ? SC_MINIMIZE : SC_RESTORE);
    }
}

// Hiding a minimised window waits for the next turn of the event loop, and the
// window leaves the minimised state while hidden, so that window managers show
// it normally when it comes back. It comes back where it was: a place the
// window manager gave (the user's move) is otherwise forgotten, and the
// dialog centred again.
void Dialog::ShowWindow(int nCmdShow) {
    QDialog* w = window_.get();
    const unsigned request = life_.NewVisibilityRequest();
    if (nCmdShow == SW_HIDE) {
        QTimer::singleShot(0, w, [this, w, request] {
            if (!life_.IsLatest(request)) {
                return;
            }
            WindowLifecycle::ProgramChange change(life_);
            w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
            placeWhenHidden_ = w->pos();
            w->hide();
        });
        return;
    }
    WindowLifecycle::ProgramChange change(life_);
    if (nCmdShow == SW_RESTORE) {
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    }
    if (!w->isVisible()) {
        ComeBackToPlace();
        w->show();
        w->raise();
        w->activateWindow();
    }
}

void Dialog::ComeBackToPlace() {
    if (placeWhenHidden_) {
        window_->move(*std::exchange(placeWhenHidden_, std::nullopt));
    }
}

// A dialog left open over the window comes back on top of it.
void Dialog::OnActivated() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != window_.get() && modal->isVisible()) {
        modal->raise();
        modal->activateWindow();
    }
}

bool Dialog::IsIconic() const {
    return window_ && window_->isMinimized();
}

void Dialog::PostClose() {
    QTimer::singleShot(0, window_.get(), [this] { OnClose(); });
}

void Dialog::OnControlNotification(int id, int code) {
    // While an exchange runs the dialog hears nothing from its controls.
    if (!IsExchanging()) {
        SendCommand(id, code);
    }
}

void Dialog::OnEscapeKey() {
    SendCommand(IDCANCEL);
}

void Dialog::OnHelpKey() {
    SendCommand(ID_HELP);
}

void Dialog::OnCloseRequest() {
    PostClose();
}

void Dialog::OnEnterKey() {
    if (auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
        button != nullptr && button->window() == window_.get()) {
        button->click();
        return;
    }
    int id = IDOK;
    for (const auto& ctl : template_.controls) {
        if (ctl.style & kDefPushButton) {
            id = ctl.id;
            break;
        }
    }
    SendCommand(id);
}

bool Dialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

bool Dialog::OnCmdMsg(int id, int code) {
    if (code != BN_CLICKED) {
        return false;
    }
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    if (id == ID_HELP) {
        OnHelp();
        return true;
    }
    return false;
}

void Dialog::OnOK() {
    if (UpdateData(true)) {
        EndDialog(IDOK);
    }
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void Dialog::OnHelp() {
    const unsigned context = kHelpContextBase + static_cast<unsigned>(template_.id);
    if (!LaunchHelp(services_.shell, services_.helpFile, context)) {
        const QString missing = services_.shell.MissingOpener();
        MessageBox(missing.isEmpty() ? QString("Failed to launch help.")
                                     : "Failed to launch help.\n\n" + missing,
                   BoxIcon::Exclamation);
    }
}

void Dialog::OnClose() {
    SendCommand(IDCANCEL);
}

bool Dialog::UpdateData(bool saveAndValidate) {
    if (!window_) {
        return false;
    }
    DataExchange dx([this](int id) { return GetDlgItem(id); },
                    [this](const QString& text, BoxIcon icon) { MessageBox(text, icon); },
                    boundControls_, saveAndValidate);
    ++exchangeDepth_;
    DoDataExchange(dx);
    --exchangeDepth_;
    return !dx.Failed();
}

QDialog* Dialog::Window() const {
    return window_.get();
}

QWidget* Dialog::GetDlgItem(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void Dialog::EnableWindow(int id, bool enable) {
    if (QWidget* w = GetDlgItem(id)) {
        w->setEnabled(enable);
    }
}

bool Dialog::HasMenu() const {
    return !menuItems_.empty();
}

void Dialog::SetMenuItemText(int command, const QString& text) {
    if (auto it = menuItems_.find(command); it != menuItems_.end()) {
        it->second->setText(text);
    }
}

void Dialog::EnableMenuItem(int command, bool enable) {
    auto it = menuItems_.find(command);
    if (it != menuItems_.end()) {
        it->second->setEnabled(enable);
    }
}

bool Dialog::IsMenuItemEnabled(int command) const {
    auto it = menuItems_.find(command);
    return it != menuItems_.end() && it->second->isEnabled();
}

void Dialog::SetTimer(unsigned id, std::int64_t periodMs) {
    services_.timers.Set(this, id, periodMs);
}

void Dialog::KillTimer(unsigned id) {
    services_.timers.Kill(this, id);
}

void Dialog::OnTimerFired(unsigned id) {
    if (window_) {
        OnTimer(id);
    }
}

void Dialog::MessageBox(const QString& text, BoxIcon icon) {
    if (ModalStack::IsEnding()) {
        return;  // the program is ending: nobody is left to read it
    }
    services_.messageBoxes.Show(window_.get(), text, services_.appName, icon);
}

}  // namespace platform
