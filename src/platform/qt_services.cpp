#include "platform/qt_services.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

bool QtShell::Open(const QString& target) {
    return QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

QTime QtClock::CurrentTime() const {
    return QTime::currentTime();
}

}  // namespace platform
