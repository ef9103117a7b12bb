// A StatusNotifierWatcher that is its own host, for checks on a private
// session bus: items register with it, and it prints one line per change
// ("registered SERVICE/PATH", "unregistered SERVICE/PATH") on its output.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QStringList>
#include <cstdio>

class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    explicit Watcher(const QDBusConnection& bus)
        : owners_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
        connect(&owners_, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::Vanished);
    }
    QStringList Items() const { return items_; }
    bool HostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

public slots:
    // An item names its service, or only its object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& serviceOrPath) {
        const bool isPath = serviceOrPath.startsWith(u'/');
        const QString service = isPath ? message().service() : serviceOrPath;
        const QString item =
            service + (isPath ? serviceOrPath : QStringLiteral("/StatusNotifierItem"));
        if (!items_.contains(item)) {
            items_ << item;
            owners_.addWatchedService(service);
            Print("registered", item);
            emit StatusNotifierItemRegistered(item);
        }
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private:
    void Vanished(const QString& service) {
        for (const QString& item : QStringList(items_)) {
            if (item.startsWith(service + u'/')) {
                items_.removeAll(item);
                Print("unregistered", item);
                emit StatusNotifierItemUnregistered(item);
            }
        }
        owners_.removeWatchedService(service);
    }
    static void Print(const char* what, const QString& item) {
        std::printf("%s %s\n", what, qPrintable(item));
        std::fflush(stdout);
    }

    QStringList items_;
    QDBusServiceWatcher owners_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher(bus);
    if (!bus.registerObject("/StatusNotifierWatcher", &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService("org.kde.StatusNotifierWatcher")) {
        std::fprintf(stderr, "sni-watcher: cannot own org.kde.StatusNotifierWatcher\n");
        return 1;
    }
    return app.exec();
}

#include "sni_watcher.moc"
