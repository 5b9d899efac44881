#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Applet;
class MainWindow;
class QVariant;
class Settings;

// What workspaces and the window state reach of the application.
class WorkspaceHost
{
public:
    virtual ~WorkspaceHost() = default;
    virtual const QList<Applet *> &applets() const = 0;
    // The device applet of that object name, or null.
    virtual Applet *applet(const QString &name) const = 0;
    virtual bool isBoardConnected() const = 0;
    virtual Settings &settings() const = 0;
    virtual void setSettingValue(const QString &key, const QVariant &value) = 0;
    // Null until it is made.
    virtual MainWindow *mainWindow() const = 0;
    virtual void log(int level, const QString &text) = 0;
};

// Workspaces (the user configuration registers in *.bench files, found in
// the known workspace directories) and the window geometry in
// HQL3318.state, with their dialogs.
class WorkspaceController
{
public:
    // Asked for a file to save or open; empty when the user declined.
    using FileChooser = std::function<QString(const QString &caption, const QString &filter, bool save)>;

    explicit WorkspaceController(WorkspaceHost *host);

    // Tests and scripts answer the file dialogs themselves.
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    void save();
    // An empty path asks for one.
    void load(const QString &path);
    QStringList directories() const;
    void rememberDirectory(const QString &directory);

    void saveWindowState();
    void restoreWindowState();

private:
    QString choose(const QString &caption, const QString &filter, bool save) const;

    WorkspaceHost *m_host;
    FileChooser m_chooser;
};
