// The real notification-area icons: one QSystemTrayIcon per added icon.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "platform/notify_icon.h"

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
    QtNotifyIcons();
    ~QtNotifyIcons() override;

    bool IsAvailable() const override;
    void CreateWindow(NotifyWindow* window) override;
    void DestroyWindow(NotifyWindow* window) override;
    bool Add(const NotifyIconData& data) override;
    bool Delete(const NotifyIconData& data) override;
    QPoint CursorPos() const override;
    int TrackPopupMenu(const MenuItemTemplate& popup, QPoint at) override;

private:
    void OnTrayHostChanged();

    using Key = std::pair<NotifyWindow*, unsigned>;
    std::map<Key, QSystemTrayIcon*> icons_;
    std::set<NotifyWindow*> windows_;
    TrayHostListener listener_;
};

}  // namespace platform
