#include "platform/notify_icons/xembed_tray.h"

#include <qpa/qplatformnativeinterface.h>
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include <xcb/res.h>
#include <xcb/xcb.h>

#include "platform/diagnostics.h"

namespace platform {

namespace {

template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
XcbReply<Reply> Take(Reply* reply) {
    return XcbReply<Reply>(reply, &std::free);
}

bool OnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

xcb_connection_t* X11Connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t TraySelectionOwner(xcb_connection_t* x11) {
    const auto screen = reinterpret_cast<quintptr>(
        QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("x11screen"));
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(quint64(screen));
    auto atom = Take(xcb_intern_atom_reply(
        x11, xcb_intern_atom(x11, 1, uint16_t(name.size()), name.constData()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) {
        return XCB_WINDOW_NONE;
    }
    auto owner =
        Take(xcb_get_selection_owner_reply(x11, xcb_get_selection_owner(x11, atom->atom), nullptr));
    return owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
}

// The process of a local client that made the window (X-Resource
// extension); 0 when the server does not say.
uint32_t WindowProcess(xcb_connection_t* x11, xcb_window_t window) {
    const xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    auto ids =
        Take(xcb_res_query_client_ids_reply(x11, xcb_res_query_client_ids(x11, 1, &spec), nullptr));
    if (!ids) {
        return 0;
    }
    for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) == 1) {
            return *xcb_res_client_id_value_value(it.data);
        }
    }
    return 0;
}

// Plasma's xembedsniproxy owns the tray selection only to hand each icon on
// to the D-Bus host: with that host gone (plasmashell died), it takes icons
// in and shows them nowhere.
bool TrayOwnerIsBridgeToDBus() {
    if (!OnX11()) {
        return false;
    }
    xcb_connection_t* x11 = X11Connection();
    const xcb_window_t owner = TraySelectionOwner(x11);
    const uint32_t process = owner != XCB_WINDOW_NONE ? WindowProcess(x11, owner) : 0;
    if (process == 0) {
        return false;
    }
    QFile command(QStringLiteral("/proc/%1/comm").arg(process));
    const bool bridge =
        command.open(QIODevice::ReadOnly) && command.readAll().trimmed() == "xembedsniproxy";
    if (bridge) {
        qCInfo(lcTray) << "the XEmbed tray is a bridge to a D-Bus host: not a tray of its own";
    }
    return bridge;
}

}  // namespace

// The D-Bus host is asked first: Qt's own QSystemTrayIcon decides once per
// run whether that host exists, so it only ever learns that none does, and
// then serves XEmbed trays.
bool XEmbedTrayPresent() {
    return QSystemTrayIcon::isSystemTrayAvailable() && !TrayOwnerIsBridgeToDBus();
}

// The window Qt makes for the icon is no longer a child of the root window
// once a tray took it in. Where Qt made no such window (a platform theme that
// shows icons its own way), nothing tells.
bool XEmbedIconEmbedded() {
    if (!OnX11()) {
        return true;
    }
    xcb_connection_t* x11 = X11Connection();
    bool iconWindowSeen = false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() != QLatin1String("QSystemTrayIconSys") ||
            !widget->testAttribute(Qt::WA_WState_Created)) {
            continue;
        }
        iconWindowSeen = true;
        auto tree = Take(xcb_query_tree_reply(
            x11, xcb_query_tree(x11, static_cast<xcb_window_t>(widget->winId())), nullptr));
        if (tree && tree->parent != tree->root) {
            return true;
        }
    }
    return !iconWindowSeen;
}

}  // namespace platform
