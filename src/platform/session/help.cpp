#include "platform/session/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace platform {

QString FindHelpFile() {
    const QString name = QCoreApplication::applicationName() + ".html";
    const QDir exeDir(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {exeDir.filePath(name), exeDir.filePath("../share/kestrome/" + name)}) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return {};
}

QString HelpAnchor(unsigned context) {
    return "0x" + QString::number(context, 16);
}

bool LaunchHelp(Shell& shell, const QString& helpFile, unsigned context) {
    if (helpFile.isEmpty() || !QFileInfo(helpFile).isReadable()) {
        return false;
    }
    QUrl url = QUrl::fromLocalFile(helpFile);
    url.setFragment(HelpAnchor(context));
    return shell.Open(url.toString());
}

}  // namespace platform
