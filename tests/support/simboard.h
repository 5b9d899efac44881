#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The simulated board as a child process: started with the given options,
// it serves a pseudo-terminal whose path is path(). Every received line goes
// to a transcript that the test can read.
class SimBoard
{
public:
    explicit SimBoard(const QStringList &options = {});
    ~SimBoard();
    SimBoard(const SimBoard &) = delete;
    SimBoard &operator=(const SimBoard &) = delete;

    static QString program();

    bool isRunning() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    // The lines received so far ("<ENQ>" and "<CAN>" for control bytes).
    QStringList transcript() const;
    void stop();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
    QString m_error;
};
