#include "platform/notify_icons/host_watch.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace platform {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kHostNamePrefix = QStringLiteral("org.kde.StatusNotifierHost-");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kCallTimeoutMs = 1000;

bool WatcherHasOwner(const QDBusConnection& bus) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << kWatcherService;
    const QDBusMessage reply = CallWithTimeout(bus, ask);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

}  // namespace

QDBusMessage CallWithTimeout(const QDBusConnection& bus, const QDBusMessage& message) {
    return QDBusConnection(bus).call(message, QDBus::Block, kCallTimeoutMs);
}

bool RegisterWithWatcher(const QDBusConnection& bus, const QString& itemService) {
    QDBusMessage add =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    add << itemService;
    return CallWithTimeout(bus, add).type() == QDBusMessage::ReplyMessage;
}

bool StatusNotifierHostPresent(const QDBusConnection& bus) {
    if (!bus.isConnected() || !WatcherHasOwner(bus)) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    ask << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = CallWithTimeout(bus, ask);
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

}  // namespace platform
