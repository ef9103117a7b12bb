// The real notification-area icons. Each icon goes to the tray host the
// desktop has at the moment it is added: a D-Bus (StatusNotifierItem) host
// when one is registered, as Qt itself prefers, else an XEmbed tray through
// QSystemTrayIcon.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/notify_icons/host_watch.h"
#include "platform/notify_icons/notify_icon.h"
#include "platform/notify_icons/status_notifier_item.h"

class QScreen;
class QSystemTrayIcon;

namespace platform {

// Hears the X11 platform announce that the tray host changed.
class TrayHostListener : public QObject {
    Q_OBJECT
public:
    explicit TrayHostListener(std::function<void()> onChange) : onChange_(std::move(onChange)) {}
public slots:
    void TrayWindowChanged(QScreen*) { onChange_(); }

private:
    std::function<void()> onChange_;
};

class QtNotifyIcons : public NotifyIcons {
public:
    explicit QtNotifyIcons(const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~QtNotifyIcons() override;

    bool IsAvailable() const override;
    void CreateWindow(NotifyWindow* window) override;
    void DestroyWindow(NotifyWindow* window) override;
    bool Add(const NotifyIconData& data) override;
    bool Delete(const NotifyIconData& data) override;
    QPoint CursorPos() const override;
    int TrackPopupMenu(const MenuItemTemplate& popup, QPoint at) override;
    void SetHostMenu(const NotifyIconData& data, const MenuItemTemplate& popup) override;

private:
    // One icon, on at most one kind of host at a time.
    struct Icon {
        QSystemTrayIcon* xembed = nullptr;
        StatusNotifierItem* dbus = nullptr;
        std::vector<SniMenuEntry> hostMenu;  // empty: the host is offered no menu
    };
    using Key = std::pair<NotifyWindow*, unsigned>;

    void OnTrayHostChanged();
    bool ShowOnDBusHost(Icon& icon, const NotifyIconData& data);
    bool ShowOnXEmbedHost(Icon& icon, const NotifyIconData& data);
    // An icon no XEmbed tray took in is gone, as when its host goes.
    void CheckEmbedded(NotifyWindow* window);
    static void Discard(Icon& icon);

    QDBusConnection bus_;
    std::map<Key, Icon> icons_;
    std::set<NotifyWindow*> windows_;
    TrayHostListener listener_;
    StatusNotifierHostWatch hostWatch_;
};

}  // namespace platform
