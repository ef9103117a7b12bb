#include "res/app_icon.h"

// Resources compiled into a static library must be registered by hand.
static void RegisterIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace res {

QIcon AppIcon() {
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
    QIcon icon;
    // The sizes a window and a tray icon use; decoding the large one at every
    // start would cost more than the rest of the window.
    for (int size : {16, 32, 48}) {
        icon.addFile(QString(":/kestrome/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace res
