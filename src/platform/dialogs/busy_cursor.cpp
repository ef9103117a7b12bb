#include "platform/dialogs/busy_cursor.h"

#include <QApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace platform {

BusyCursor::BusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The loop does not run while the work blocks it: the X server must hear
    // of the cursor now.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        xcb_flush(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    }
}

BusyCursor::~BusyCursor() {
    QApplication::restoreOverrideCursor();
}

}  // namespace platform
