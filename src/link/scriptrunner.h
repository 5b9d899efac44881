#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// Plays the board through an external script: the interpreter is started
// with the script path and one command text as arguments (no shell), and
// what it prints, without line ends, is the reply.
class ScriptRunner
{
public:
    static constexpr int TimeoutMs = 30000;

    QByteArray run(const QString &interpreter, const QString &scriptPath, const QByteArray &command);

private:
    QProcess m_process;
};
