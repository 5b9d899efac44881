#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class Applet;
class ControlBoard;
class Measurements;
class ScriptRecorder;
class WindowGrabber;

// What the global commands reach of the application.
class ScriptingHost
{
public:
    virtual ~ScriptingHost() = default;
    virtual const QList<Applet *> &applets() const = 0;
    // The device applet of that object name, or null.
    virtual Applet *applet(const QString &name) const = 0;
    virtual ControlBoard *link() const = 0;
    virtual bool isBoardConnected() const = 0;
    virtual bool isShutDown() const = 0;
    virtual bool connectToBoard(const QString &port) = 0;
    virtual void disconnectFromBoard() = 0;
    // Ends the event loop; the rest of the shutdown runs after it.
    virtual void requestShutdown() = 0;
    // The communication log on or off, shown by the main window's "Log" switch.
    virtual void setLogSwitch(bool on) = 0;
    virtual Measurements *measurements() const = 0;
    virtual ScriptRecorder *recorder() const = 0;
    // See MainApp::toggleRecording.
    virtual bool toggleRecording(const QString &path) = 0;
    virtual WindowGrabber *grabber() const = 0;
    // The server's last error of a request.
    virtual QString lastError() const = 0;
};

// The names scripts use: "Applet.member" reaches a device window's set, get
// or run, as a control would; any other name is a global command, looked up
// in a table (case-insensitive). Requests come one at a time from the local
// server.
class ScriptingFacade : public QObject
{
    Q_OBJECT

public:
    ScriptingFacade(ScriptingHost *host, QObject *parent);

    bool set(const QString &name, QVariant &value);
    bool get(const QString &name, QVariant *result);
    bool run(const QString &name, QVariant &value, QVariant *result);

    // The origin scripting writes carry.
    static constexpr int Origin = int(0xFF004321u);

signals:
    void signal_log(int level, const QString &text);

private:
    // A global command: true when done (result set, or left alone for
    // "nothing to report"), false with the reason in error.
    using Command = std::function<bool(QVariant &value, QVariant *result, QString *error)>;

    void addCommands();
    // The applet of a target, or null with the reason.
    Applet *target(const QString &applet, QString *error) const;
    void reportMissingParameter(Applet *applet, const QString &member);

    ScriptingHost *m_host;
    QHash<QString, Command> m_commands;
};
