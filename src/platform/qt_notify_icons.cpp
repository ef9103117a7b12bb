#include "platform/qt_notify_icons.h"

#include <qpa/qplatformnativeinterface.h>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <map>

#include "platform/modal_stack.h"

namespace platform {

namespace {

unsigned MouseMessage(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::DoubleClick:
            return WM_LBUTTONDBLCLK;
        case QSystemTrayIcon::Context:
            return WM_RBUTTONUP;
        case QSystemTrayIcon::Trigger:
            return WM_LBUTTONUP;
        case QSystemTrayIcon::MiddleClick:
            return WM_MBUTTONUP;
        default:
            return WM_MOUSEMOVE;
    }
}

}  // namespace

QtNotifyIcons::QtNotifyIcons() : listener_([this] { OnTrayHostChanged(); }) {
    // On X11 the platform announces a tray host that appears anew; elsewhere
    // there is no such announcement.
    QObject* native = QGuiApplication::platformNativeInterface();
    if (native != nullptr &&
        native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0) {
        QObject::connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), &listener_,
                         SLOT(TrayWindowChanged(QScreen*)));
    }
}

// A tray host that appears anew counts as "TaskbarCreated" for every window.
void QtNotifyIcons::OnTrayHostChanged() {
    if (!IsAvailable()) {
        return;
    }
    static const unsigned taskbarCreated = RegisterWindowMessage("TaskbarCreated");
    const std::set<NotifyWindow*> windows = windows_;
    for (NotifyWindow* window : windows) {
        if (windows_.contains(window)) {
            window->WindowProc(taskbarCreated, 0, 0);
        }
    }
}

QtNotifyIcons::~QtNotifyIcons() {
    for (auto& [key, icon] : icons_) {
        delete icon;
    }
}

bool QtNotifyIcons::IsAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtNotifyIcons::CreateWindow(NotifyWindow* window) {
    windows_.insert(window);
}

void QtNotifyIcons::DestroyWindow(NotifyWindow* window) {
    windows_.erase(window);
    std::erase_if(icons_, [window](auto& entry) {
        if (entry.first.first != window) {
            return false;
        }
        entry.second->hide();
        entry.second->deleteLater();
        return true;
    });
}

bool QtNotifyIcons::Add(const NotifyIconData& data) {
    if (!IsAvailable() || data.hWnd == nullptr) {
        return false;
    }
    QSystemTrayIcon*& icon = icons_[{data.hWnd, data.uID}];
    if (icon == nullptr) {
        icon = new QSystemTrayIcon();
        NotifyWindow* window = data.hWnd;
        const unsigned id = data.uID;
        const unsigned message = data.uCallbackMessage;
        QObject::connect(icon, &QSystemTrayIcon::activated,
                         [window, id, message](QSystemTrayIcon::ActivationReason reason) {
                             window->WindowProc(message, id, MouseMessage(reason));
                         });
    }
    if (data.uFlags & NIF_ICON) {
        icon->setIcon(data.hIcon);
    }
    if (data.uFlags & NIF_TIP) {
        icon->setToolTip(data.szTip);
    }
    icon->show();
    return true;
}

bool QtNotifyIcons::Delete(const NotifyIconData& data) {
    auto it = icons_.find({data.hWnd, data.uID});
    if (it == icons_.end()) {
        return false;
    }
    // The icon may be delivering the message that led here: let it finish.
    it->second->hide();
    it->second->deleteLater();
    icons_.erase(it);
    return true;
}

QPoint QtNotifyIcons::CursorPos() const {
    return QCursor::pos();
}

int QtNotifyIcons::TrackPopupMenu(const MenuItemTemplate& popup, QPoint at) {
    QMenu menu;
    for (const auto& item : popup.items) {
        QAction* action = menu.addAction(QString::fromUtf8(item.text));
        action->setData(item.command);
        action->setEnabled(!item.grayed);
    }
    ModalScope modal([&menu] { menu.close(); });
    QAction* chosen = menu.exec(at);
    return chosen != nullptr ? chosen->data().toInt() : 0;
}

}  // namespace platform
