#pragma once

#include "link/linktransport.h"

#include <QByteArray>
#include <QString>

// Plays the board through an external script: the interpreter is started
// with the script path and one command text as arguments (no shell), and
// what it prints, without line ends, is the reply. Each run has a process
// of its own, so any thread may run it.
class ScriptRunner : public LinkTransport
{
public:
    static constexpr int TimeoutMs = 30000;

    void setInterpreter(const QString &interpreter) { m_interpreter = interpreter; }
    void setScriptPath(const QString &path) { m_scriptPath = path; }
    QByteArray run(const QByteArray &command) const;
    bool exchange(const LinkRequest &request, LinkSink &sink) override;

private:
    QString m_interpreter = QStringLiteral("python3");
    QString m_scriptPath;
};
