#include "platform/session/qt_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace platform {

bool QtShell::Open(const QString& target) {
    return QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

QTime QtClock::CurrentTime() const {
    return QTime::currentTime();
}

QString ExecutableName(const char* argv0) {
    return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName();
}

}  // namespace platform
