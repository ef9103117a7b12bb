// The D-Bus tray protocol (StatusNotifierItem) that KDE Plasma, GNOME's
// AppIndicator extension, XFCE's panel and waybar speak: one item with its
// icon, and its menu exported so that the host shows it itself. Hosts click by
// calling Activate.
#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/notify_icons/dbus_menu.h"
#include "platform/notify_icons/dbus_types.h"

namespace platform {

// One item in the host's tray. Its service name is unique to the process.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconName READ NoName)
    Q_PROPERTY(platform::SniPixmapList IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ NoName)
    Q_PROPERTY(platform::SniPixmapList OverlayIconPixmap READ NoPixmap)
    Q_PROPERTY(QString AttentionIconName READ NoName)
    Q_PROPERTY(platform::SniPixmapList AttentionIconPixmap READ NoPixmap)
    Q_PROPERTY(QString AttentionMovieName READ NoName)
    Q_PROPERTY(platform::SniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
    Q_PROPERTY(QString IconThemePath READ NoName)
public:
    struct Handlers {
        std::function<void()> activate;     // the host's click
        std::function<void()> contextMenu;  // the host asks the program for its menu
        std::function<void(int)> menuChoice;
    };
    StatusNotifierItem(const QDBusConnection& bus, QString title, Handlers handlers);
    ~StatusNotifierItem() override;

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& tip);
    void SetMenu(std::vector<SniMenuEntry> entries);
    // Exports the item (once) and registers it with the watcher; true when the
    // watcher took it.
    bool Register();
    // Leaves the bus: hosts drop the item.
    void Withdraw();

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return title_; }
    QString Title() const { return title_; }
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    QString NoName() const { return {}; }
    SniPixmapList IconPixmap() const { return pixmaps_; }
    SniPixmapList NoPixmap() const { return {}; }
    SniToolTip ToolTip() const { return {{}, {}, tip_, {}}; }
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const;

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    bool Export();
    void Later(const std::function<void()>& handler);

    QDBusConnection bus_;
    QString title_;
    Handlers handlers_;
    QString service_;
    bool exported_ = false;
    SniPixmapList pixmaps_;
    QString tip_;
    std::unique_ptr<DBusMenuExporter> menu_;
};

}  // namespace platform
