#include "platform/notify_icons/status_notifier_item.h"

#include <unistd.h>
#include <QImage>
#include <QTimer>
#include <QtEndian>
#include <utility>

#include "platform/notify_icons/host_watch.h"

namespace platform {

namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
constexpr auto kExportAll = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                            QDBusConnection::ExportAllProperties;

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

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& bus, QString title, Handlers handlers)
    : bus_(bus), title_(std::move(title)), handlers_(std::move(handlers)) {
    RegisterDBusTrayTypes();
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
    return RegisterWithWatcher(bus_, service_);
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
