#include "res/app_icon.h"

namespace res {

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        icon.addFile(QString(":/kestrome/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace res
