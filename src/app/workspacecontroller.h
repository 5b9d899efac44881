#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class MainApp;

// Workspaces (the user configuration registers in *.bench files, found in
// the known workspace directories) and the window geometry in
// HQL3318.state, with their dialogs.
class WorkspaceController
{
public:
    // Asked for a file to save or open; empty when the user declined.
    using FileChooser = std::function<QString(const QString &caption, const QString &filter, bool save)>;

    explicit WorkspaceController(MainApp *app);

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

    MainApp *m_app;
    FileChooser m_chooser;
};
