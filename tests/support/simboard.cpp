#include "simboard.h"

#include <QFile>

SimBoard::SimBoard(const QStringList &options)
{
    QStringList args = options;
    args << "--transcript" << m_dir.filePath("transcript.txt") << "--exit-on-stdin-eof";
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program(), args);
    if (!m_process.waitForStarted(5000)) {
        m_error = m_process.errorString();
        return;
    }
    // The first line is the terminal's path.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(5000)) {
            m_error = "the simulated board printed no path";
            return;
        }
    }
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

SimBoard::~SimBoard()
{
    stop();
}

QString SimBoard::program()
{
    return QStringLiteral(HQL_SIM_PATH);
}

QStringList SimBoard::transcript() const
{
    QFile file(m_dir.filePath("transcript.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void SimBoard::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}
