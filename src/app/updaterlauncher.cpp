#include "app/updaterlauncher.h"

#include <QFileInfo>
#include <QProcess>

UpdaterLauncher::Command UpdaterLauncher::command(const QString &updaterPath, const QString &workingDirectory)
{
    return {updaterPath, {QStringLiteral("HQL3318"), workingDirectory}};
}

bool UpdaterLauncher::start(const Command &command)
{
    if (!QFileInfo(command.program).isFile())
        return false;
    return QProcess::startDetached(command.program, command.arguments);
}
