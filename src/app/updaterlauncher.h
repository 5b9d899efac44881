#pragma once

#include <QString>
#include <QStringList>

// Starts the external updater, detached, with the product name and the
// working directory as separate arguments: no shell sees the paths, so
// blanks and quotes in them are safe.
class UpdaterLauncher
{
public:
    struct Command
    {
        QString program;
        QStringList arguments;
    };

    static Command command(const QString &updaterPath, const QString &workingDirectory);
    // False when the program is missing or cannot be started.
    static bool start(const Command &command);
};
