#include "app/updaterlauncher.h"

#include <QFileInfo>
#include <QProcess>

UpdaterLauncher::Command UpdaterLauncher::command(const QString &updaterPath, const QString &workingDirectory)
{
    // A detached start looks a bare name up in PATH, not in the working
    // directory where the existence check found it.
    const QString program = updaterPath.isEmpty() ? updaterPath : QFileInfo(updaterPath).absoluteFilePath();
    return {program, {QStringLiteral("HQL3318"), workingDirectory}};
}

bool UpdaterLauncher::start(const Command &command)
{
    if (!QFileInfo(command.program).isFile())
        return false;
    return QProcess::startDetached(command.program, command.arguments);
}
