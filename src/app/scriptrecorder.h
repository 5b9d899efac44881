#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

// Turns what a person does in the device windows into a Python script that
// does the same through the scripting socket: one line per action, pauses
// as sleeps. Every action is in the file once it is recorded, so a crash
// loses none, and is written whole or not at all, so the script runs.
class ScriptRecorder : public QObject
{
    Q_OBJECT

public:
    // Which application the script talks to: the one running, or a
    // simulated board with an application of its own.
    enum class Target
    {
        Running,
        Simulated
    };

    explicit ScriptRecorder(QObject *parent = nullptr);
    ~ScriptRecorder() override;

    // The clock (milliseconds) that measures pauses; tests set their own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    bool start(const QString &path, Target target, QString *error);
    void stop();
    bool isRecording() const { return m_fd >= 0; }
    int actions() const { return m_actions; }
    QString path() const { return m_path; }

    void recordWrite(const QString &applet, const QString &path, const QVariant &value);
    void recordRun(const QString &applet, const QString &function, const QVariant &argument);
    void recordComment(const QString &text);

    // A value as Python writes it: int, float, str or bytes.
    static QString pythonValue(const QVariant &value);

    static constexpr qint64 MinPauseMs = 500;
    static constexpr qint64 MaxPauseMs = 10000;

signals:
    void signal_changed();
    // Writing failed (a full disk): the recording has stopped.
    void signal_failed(const QString &error);

private:
    void writeAction(const QString &line);
    bool writeLines(const QByteArray &text);
    void closeFile();

    QString m_path;
    int m_fd = -1;
    std::function<qint64()> m_clock;
    qint64 m_lastActionMs = -1;
    int m_actions = 0;
    QString m_lastWrite;
};
