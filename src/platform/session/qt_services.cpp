#include "platform/session/qt_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

// Without xdg-open, Qt falls back on launchers that may start and show
// nothing (gio with no handler), so nothing is tried and the user is told.
bool QtShell::Open(const QString& target) {
    return MissingOpener().isEmpty() && QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

QString QtShell::MissingOpener() const {
    if (!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        return {};
    }
    return QStringLiteral(
        "Help and web pages open in your browser through xdg-open, which is not installed "
        "(it comes with the package xdg-utils).");
}

QTime QtClock::CurrentTime() const {
    return QTime::currentTime();
}

QString ExecutableName(const char* argv0) {
    return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName();
}

}  // namespace platform
