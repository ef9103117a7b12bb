// The D-Bus tray protocol (StatusNotifierItem) that KDE Plasma, GNOME's
// AppIndicator extension, XFCE's panel and waybar speak: one item with its
// icon, and its menu exported as a com.canonical.dbusmenu object so that the
// host shows it itself. Hosts click by calling Activate.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace platform {

// An icon image: width, height and ARGB32 pixels in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmapList = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmapList image;
    QString title;
    QString text;
};

// One menu entry with its properties and, for the layout, its children.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

}  // namespace platform

Q_DECLARE_METATYPE(platform::SniPixmap)
Q_DECLARE_METATYPE(platform::SniToolTip)
Q_DECLARE_METATYPE(platform::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(platform::DBusMenuItem)
Q_DECLARE_METATYPE(platform::DBusMenuItemKeys)
Q_DECLARE_METATYPE(platform::DBusMenuEvent)

namespace platform {

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);

// Whether a StatusNotifierWatcher with a registered host is on the bus: the
// test by which Qt itself prefers this protocol to XEmbed. Asked each time.
bool StatusNotifierHostPresent(const QDBusConnection& bus);

// Calls onChange whenever the watcher comes or goes, a host registers or
// unregisters with it, or a host's own bus name (org.kde.StatusNotifierHost-*)
// comes or goes: some watchers keep a host that died registered and say
// nothing, so its name leaving the bus is the only sign.
class StatusNotifierHostWatch : public QObject {
    Q_OBJECT
public:
    StatusNotifierHostWatch(const QDBusConnection& bus, std::function<void()> onChange);

    // A host is registered with the watcher and, where hosts were seen on the
    // bus by name, one of them is still there. (Some watchers are their own
    // host and own no such name.)
    bool HostPresent() const;

private slots:
    void Changed();
    void NameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    void ListenToWatcher();
    void NoteHostName(const QString& name, bool present);

    QDBusConnection bus_;
    std::function<void()> onChange_;
    std::set<QString> hostNames_;  // host names on the bus now
    bool hostNameSeen_ = false;    // a host ever owned such a name in this run
};

// A menu entry as the host shows it: its label with the program's '&'
// mnemonic, and the command it sends.
struct SniMenuEntry {
    QString text;
    int command = 0;
    bool enabled = true;
};

// The item's menu, exported for the host to show and to report choices to.
class DBusMenuExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
public:
    DBusMenuExporter(std::vector<SniMenuEntry> entries, std::function<void(int)> onChoice);

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::DBusMenuLayoutItem& layout);
    platform::DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                  const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const platform::DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const platform::DBusMenuItemList& updated,
                                const platform::DBusMenuItemKeysList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QVariantMap Properties(int id, const QStringList& names) const;
    bool Exists(int id) const;
    bool Choose(int id, const QString& eventId);

    std::vector<SniMenuEntry> entries_;  // item id = position + 1; 0 is the root
    std::function<void(int)> onChoice_;
};

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
