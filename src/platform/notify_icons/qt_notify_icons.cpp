#include "platform/notify_icons/qt_notify_icons.h"

#include <qpa/qplatformnativeinterface.h>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <map>

#include "platform/diagnostics.h"
#include "platform/dialogs/modal_stack.h"
#include "platform/notify_icons/xembed_tray.h"

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

// Sends the icon's callback message with a mouse message, as the shell would.
std::function<void()> Notifier(const NotifyIconData& data, unsigned mouseMessage) {
    return [window = data.hWnd, id = data.uID, message = data.uCallbackMessage, mouseMessage] {
        window->WindowProc({message, id, mouseMessage});
    };
}

// How long an XEmbed tray may take to embed a new icon before it counts as no
// tray: a tray owner that shows nothing must not keep the window hidden.
constexpr int kEmbedWaitMs = 2000;

}  // namespace

QtNotifyIcons::QtNotifyIcons(const QDBusConnection& bus)
    : bus_(bus),
      listener_([this] { OnTrayHostChanged(); }),
      hostWatch_(bus, [this] { OnTrayHostChanged(); }) {
    // On X11 the platform announces an XEmbed tray host that appears anew or
    // goes; elsewhere there is no such announcement.
    QObject* native = QGuiApplication::platformNativeInterface();
    if (native != nullptr &&
        native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0) {
        QObject::connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), &listener_,
                         SLOT(TrayWindowChanged(QScreen*)));
    }
    if (lcTray().isInfoEnabled()) {
        const bool dbusHost = hostWatch_.HostPresent();
        qCInfo(lcTray) << "tray hosts at start-up: D-Bus (StatusNotifierItem)" << dbusHost
                       << "XEmbed" << (!dbusHost && XEmbedTrayPresent());
    }
}

QtNotifyIcons::~QtNotifyIcons() {
    for (auto& [key, icon] : icons_) {
        delete icon.xembed;
        delete icon.dbus;
    }
}

// A window whose icon's host went away hears it; then, when a host is there,
// every window hears "TaskbarCreated" and adds its icon again.
void QtNotifyIcons::OnTrayHostChanged() {
    const bool dbusHost = hostWatch_.HostPresent();
    const bool xembedHost = !dbusHost && XEmbedTrayPresent();
    std::set<NotifyWindow*> lost;
    for (const auto& [key, icon] : icons_) {
        if ((icon.dbus != nullptr && !dbusHost) || (icon.xembed != nullptr && !xembedHost)) {
            lost.insert(key.first);
        }
    }
    qCInfo(lcTray) << "tray hosts changed: D-Bus" << dbusHost << "XEmbed" << xembedHost;
    for (NotifyWindow* window : lost) {
        if (windows_.contains(window)) {
            window->OnTrayHostGone();
        }
    }
    if (!dbusHost && !xembedHost) {
        return;
    }
    static const unsigned taskbarCreated = RegisterWindowMessage("TaskbarCreated");
    const std::set<NotifyWindow*> windows = windows_;
    for (NotifyWindow* window : windows) {
        if (windows_.contains(window)) {
            window->WindowProc({taskbarCreated});
        }
    }
}

bool QtNotifyIcons::IsAvailable() const {
    return hostWatch_.HostPresent() || XEmbedTrayPresent();
}

void QtNotifyIcons::CreateWindow(NotifyWindow* window) {
    windows_.insert(window);
}

void QtNotifyIcons::DestroyWindow(NotifyWindow* window) {
    windows_.erase(window);
    for (auto it = icons_.begin(); it != icons_.end();) {
        if (it->first.first == window) {
            Discard(it->second);
            it = icons_.erase(it);
        } else {
            ++it;
        }
    }
}

bool QtNotifyIcons::Add(const NotifyIconData& data) {
    if (data.hWnd == nullptr) {
        return false;
    }
    Icon& icon = icons_[{data.hWnd, data.uID}];
    const bool added = hostWatch_.HostPresent() ? ShowOnDBusHost(icon, data)
                       : XEmbedTrayPresent()    ? ShowOnXEmbedHost(icon, data)
                                                : false;
    if (!added) {
        qCWarning(lcTray) << "the tray icon could not be added: no tray host took it";
        Discard(icon);
    }
    return added;
}

// The host's click is the double-click of an XEmbed tray (no host makes
// double-clicks), and the host shows the exported menu itself; a host that
// asks the program for its menu gets the right button's popup.
bool QtNotifyIcons::ShowOnDBusHost(Icon& icon, const NotifyIconData& data) {
    qCInfo(lcTray) << "tray icon for a D-Bus (StatusNotifierItem) host";
    if (icon.xembed != nullptr) {
        Discard(icon);
    }
    if (icon.dbus == nullptr) {
        StatusNotifierItem::Handlers handlers{
            Notifier(data, WM_LBUTTONDBLCLK), Notifier(data, WM_RBUTTONUP),
            [window = data.hWnd](int command) { window->OnHostMenuChoice(command); }};
        icon.dbus =
            new StatusNotifierItem(bus_, QCoreApplication::applicationName(), std::move(handlers));
        if (!icon.hostMenu.empty()) {
            icon.dbus->SetMenu(icon.hostMenu);
        }
    }
    if (data.uFlags & NIF_ICON) {
        icon.dbus->SetIcon(data.hIcon);
    }
    if (data.uFlags & NIF_TIP) {
        icon.dbus->SetToolTip(data.szTip);
    }
    return icon.dbus->Register();
}

bool QtNotifyIcons::ShowOnXEmbedHost(Icon& icon, const NotifyIconData& data) {
    qCInfo(lcTray) << "tray icon for an XEmbed tray";
    if (icon.dbus != nullptr) {
        Discard(icon);
    }
    if (icon.xembed == nullptr) {
        icon.xembed = new QSystemTrayIcon();
        QObject::connect(icon.xembed, &QSystemTrayIcon::activated,
                         [data](QSystemTrayIcon::ActivationReason reason) {
                             Notifier(data, MouseMessage(reason))();
                         });
    }
    if (data.uFlags & NIF_ICON) {
        icon.xembed->setIcon(data.hIcon);
    }
    if (data.uFlags & NIF_TIP) {
        icon.xembed->setToolTip(data.szTip);
    }
    icon.xembed->show();
    QTimer::singleShot(kEmbedWaitMs, icon.xembed,
                       [this, window = data.hWnd] { CheckEmbedded(window); });
    return true;
}

void QtNotifyIcons::CheckEmbedded(NotifyWindow* window) {
    if (XEmbedIconEmbedded() || !windows_.contains(window)) {
        return;
    }
    qCInfo(lcTray) << "no XEmbed tray embedded the icon: taken as no tray";
    for (auto& [key, icon] : icons_) {
        if (key.first == window) {
            Discard(icon);
        }
    }
    window->OnTrayHostGone();
}

// The icon may be delivering the message that led here: it goes from the
// host now and is deleted once that delivery has finished.
void QtNotifyIcons::Discard(Icon& icon) {
    if (icon.xembed != nullptr) {
        icon.xembed->hide();
        icon.xembed->deleteLater();
        icon.xembed = nullptr;
    }
    if (icon.dbus != nullptr) {
        icon.dbus->Withdraw();
        icon.dbus->deleteLater();
        icon.dbus = nullptr;
    }
}

bool QtNotifyIcons::Delete(const NotifyIconData& data) {
    auto it = icons_.find({data.hWnd, data.uID});
    if (it == icons_.end() || (it->second.xembed == nullptr && it->second.dbus == nullptr)) {
        return false;
    }
    Discard(it->second);
    icons_.erase(it);
    return true;
}

void QtNotifyIcons::SetHostMenu(const NotifyIconData& data, const MenuItemTemplate& popup) {
    Icon& icon = icons_[{data.hWnd, data.uID}];
    icon.hostMenu.clear();
    for (const auto& item : popup.items) {
        icon.hostMenu.push_back({QString::fromUtf8(item.text), item.command, !item.grayed});
    }
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
