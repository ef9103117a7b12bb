#include "platform/notify_icons/status_notifier.h"

#include <unistd.h>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QTimer>
#include <QtEndian>

#include <utility>

namespace platform {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kHostNamePrefix = QStringLiteral("org.kde.StatusNotifierHost-");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
constexpr auto kExportAll = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                            QDBusConnection::ExportAllProperties;
// A host that does not answer within this time is taken for absent: the
// window must not freeze behind a hung bus peer.
constexpr int kCallTimeoutMs = 1000;

void RegisterTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmapList>();
        qDBusRegisterMetaType<SniToolTip>();
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        // QtDBus finds the types of exported members by the names written in
        // their declarations.
        qRegisterMetaType<SniPixmapList>("platform::SniPixmapList");
        qRegisterMetaType<DBusMenuItemList>("platform::DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("platform::DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("platform::DBusMenuEventList");
        return true;
    }();
    (void)registered;
}

QDBusMessage Call(const QDBusConnection& bus, const QDBusMessage& message) {
    return QDBusConnection(bus).call(message, QDBus::Block, kCallTimeoutMs);
}

bool WatcherHasOwner(const QDBusConnection& bus) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << kWatcherService;
    const QDBusMessage reply = Call(bus, ask);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

// "&Restore" becomes "_Restore": the menu protocol marks mnemonics with '_'.
QString MenuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&' && i + 1 < text.size()) {
            label += text[++i] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i];
        } else {
            label += c == u'_' ? QStringLiteral("__") : QString(c);
        }
    }
    return label;
}

SniPixmapList Pixmaps(const QIcon& icon) {
    SniPixmapList list;
    for (int size : {16, 22, 24, 32, 48}) {
        const QImage image =
            icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) {
            continue;
        }
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4) {
                qToBigEndian(line[x], out);
            }
        }
        list << pixmap;
    }
    return list;
}

}  // namespace

// D-Bus marshalling of the protocol's structures.
QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.argb;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.argb;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.image << tip.title << tip.text;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.image >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children) {
        arg << QDBusVariant(QVariant::fromValue(child));
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.beginArray();
    item.children.clear();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        item.children << qdbus_cast<DBusMenuLayoutItem>(child.variant());
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg << keys.id << keys.names;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys) {
    arg.beginStructure();
    arg >> keys.id >> keys.names;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

bool StatusNotifierHostPresent(const QDBusConnection& bus) {
    if (!bus.isConnected() || !WatcherHasOwner(bus)) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    ask << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = Call(bus, ask);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

StatusNotifierHostWatch::StatusNotifierHostWatch(const QDBusConnection& bus,
                                                 std::function<void()> onChange)
    : bus_(bus), onChange_(std::move(onChange)) {
    if (!bus_.isConnected()) {
        return;
    }
    auto* watcher = new QDBusServiceWatcher(kWatcherService, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &StatusNotifierHostWatch::Changed);
    ListenToWatcher();
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                 SLOT(NameOwnerChanged(QString, QString, QString)));
    const QDBusReply<QStringList> names = bus_.interface()->registeredServiceNames();
    for (const QString& name : names.value()) {
        NoteHostName(name, true);
    }
}

bool StatusNotifierHostWatch::HostPresent() const {
    return StatusNotifierHostPresent(bus_) && (!hostNameSeen_ || !hostNames_.empty());
}

void StatusNotifierHostWatch::NoteHostName(const QString& name, bool present) {
    if (!name.startsWith(kHostNamePrefix)) {
        return;
    }
    if (present) {
        hostNames_.insert(name);
        hostNameSeen_ = true;
    } else {
        hostNames_.erase(name);
    }
}

void StatusNotifierHostWatch::NameOwnerChanged(const QString& name, const QString&,
                                               const QString& newOwner) {
    if (name.startsWith(kHostNamePrefix)) {
        NoteHostName(name, !newOwner.isEmpty());
        Changed();
    }
}

void StatusNotifierHostWatch::ListenToWatcher() {
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus_.connect(kWatcherService, kWatcherPath, kWatcherInterface, QString::fromLatin1(signal),
                     this, SLOT(Changed()));
    }
}

void StatusNotifierHostWatch::Changed() {
    onChange_();
}

DBusMenuExporter::DBusMenuExporter(std::vector<SniMenuEntry> entries,
                                   std::function<void(int)> onChoice)
    : entries_(std::move(entries)), onChoice_(std::move(onChoice)) {}

bool DBusMenuExporter::Exists(int id) const {
    return id >= 0 && static_cast<std::size_t>(id) <= entries_.size();
}

QVariantMap DBusMenuExporter::Properties(int id, const QStringList& names) const {
    QVariantMap all;
    if (id == 0) {
        all[QStringLiteral("children-display")] = QStringLiteral("submenu");
    } else if (Exists(id)) {
        const SniMenuEntry& entry = entries_[static_cast<std::size_t>(id - 1)];
        all[QStringLiteral("label")] = MenuLabel(entry.text);
        all[QStringLiteral("enabled")] = entry.enabled;
        all[QStringLiteral("visible")] = true;
        all[QStringLiteral("type")] = QStringLiteral("standard");
    }
    if (names.isEmpty()) {
        return all;
    }
    QVariantMap wanted;
    for (const QString& name : names) {
        if (all.contains(name)) {
            wanted[name] = all[name];
        }
    }
    return wanted;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    layout = {parentId, Properties(parentId, propertyNames), {}};
    if (parentId == 0 && recursionDepth != 0) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const int id = static_cast<int>(i) + 1;
            layout.children << DBusMenuLayoutItem{id, Properties(id, propertyNames), {}};
        }
    }
    return 1;  // the menu never changes: one revision
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    DBusMenuItemList items;
    for (int id : ids) {
        if (Exists(id)) {
            items << DBusMenuItem{id, Properties(id, propertyNames)};
        }
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(Properties(id, {name}).value(name));
}

// The choice runs after the host has its reply: the command may delete the
// item that exports this menu.
bool DBusMenuExporter::Choose(int id, const QString& eventId) {
    if (id == 0 || !Exists(id)) {
        return id == 0;
    }
    const SniMenuEntry& entry = entries_[static_cast<std::size_t>(id - 1)];
    if (eventId == QStringLiteral("clicked") && entry.enabled) {
        QTimer::singleShot(0, this, [this, command = entry.command] { onChoice_(command); });
    }
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    Choose(id, eventId);
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> errors;
    for (const DBusMenuEvent& event : events) {
        if (!Choose(event.id, event.eventId)) {
            errors << event.id;
        }
    }
    return errors;
}

bool DBusMenuExporter::AboutToShow(int) {
    return false;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (!Exists(id)) {
            idErrors << id;
        }
    }
    return {};
}

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& bus, QString title, Handlers handlers)
    : bus_(bus), title_(std::move(title)), handlers_(std::move(handlers)) {
    RegisterTypes();
    static int items = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(getpid()).arg(++items);
}

StatusNotifierItem::~StatusNotifierItem() {
    Withdraw();
}

void StatusNotifierItem::Withdraw() {
    if (std::exchange(exported_, false)) {
        bus_.unregisterObject(kItemPath);
        bus_.unregisterObject(kMenuPath);
        bus_.unregisterService(service_);
    }
}

void StatusNotifierItem::SetIcon(const QIcon& icon) {
    pixmaps_ = Pixmaps(icon);
    emit NewIcon();
}

void StatusNotifierItem::SetToolTip(const QString& tip) {
    tip_ = tip;
    emit NewToolTip();
}

void StatusNotifierItem::SetMenu(std::vector<SniMenuEntry> entries) {
    Withdraw();
    menu_ = std::make_unique<DBusMenuExporter>(std::move(entries), [this](int command) {
        if (exported_) {
            handlers_.menuChoice(command);
        }
    });
}

QDBusObjectPath StatusNotifierItem::Menu() const {
    return QDBusObjectPath(menu_ ? kMenuPath : QStringLiteral("/NO_DBUSMENU"));
}

bool StatusNotifierItem::Export() {
    if (exported_) {
        return true;
    }
    if (!bus_.isConnected() || !bus_.registerService(service_)) {
        return false;
    }
    exported_ = true;
    return bus_.registerObject(kItemPath, this, kExportAll) &&
           (!menu_ || bus_.registerObject(kMenuPath, menu_.get(), kExportAll));
}

bool StatusNotifierItem::Register() {
    if (!Export()) {
        return false;
    }
    QDBusMessage add =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    add << service_;
    return Call(bus_, add).type() == QDBusMessage::ReplyMessage;
}

// Each of the host's requests runs after the host has its reply, and not at
// all once the item has left the bus.
void StatusNotifierItem::Later(const std::function<void()>& handler) {
    QTimer::singleShot(0, this, [this, &handler] {
        if (exported_) {
            handler();
        }
    });
}

void StatusNotifierItem::Activate(int, int) {
    Later(handlers_.activate);
}

void StatusNotifierItem::ContextMenu(int, int) {
    Later(handlers_.contextMenu);
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace platform
