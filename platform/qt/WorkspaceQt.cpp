#include "platform/qt/WorkspaceQt.h"

#include <QProcess>
#include <QString>

#include "platform/Workspace.h"

namespace platform {

void installQtWorkspaceOpener() {
    Workspace::setOpener([](const std::string& url) {
        QProcess process;
        process.setProgram(QStringLiteral("xdg-open"));
        process.setArguments({QString::fromStdString(url)});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.startDetached();
    });
}

}  // namespace platform
