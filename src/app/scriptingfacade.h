#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class Applet;
class MainApp;

// The names scripts use: "Applet.member" reaches a device window's set, get
// or run, as a control would; any other name is a global command, looked up
// in a table (case-insensitive). Requests come one at a time from the local
// server.
class ScriptingFacade : public QObject
{
    Q_OBJECT

public:
    explicit ScriptingFacade(MainApp *app);

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

    MainApp *m_app;
    QHash<QString, Command> m_commands;
};
