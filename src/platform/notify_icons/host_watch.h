// The StatusNotifierWatcher, through which items reach the D-Bus tray host:
// whether a host is there, news of hosts coming and going, and the
// registration of an item.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <functional>
#include <set>

namespace platform {

// A blocking call with a short time-out: a host that does not answer within a
// second is taken for absent, so the window never freezes behind a hung peer.
QDBusMessage CallWithTimeout(const QDBusConnection& bus, const QDBusMessage& message);

// Registers an item's service name with the watcher; true when it took it.
bool RegisterWithWatcher(const QDBusConnection& bus, const QString& itemService);

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

}  // namespace platform
