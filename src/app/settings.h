#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

// The application's persistent values: tool paths and the workspace
// directories, in one INI file without groups.
class Settings
{
public:
    explicit Settings(const QString &filePath);

    // "hql3318.ini" in the working directory as it is (the case of the
    // directory is kept: on Linux another case is another directory).
    static QString defaultFilePath();
    static QString defaultUpdaterPath();

    QString filePath() const { return m_settings.fileName(); }

    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);

    // Workspace directories are stored as _Path0, _Path1, ... and read up to
    // the first missing number.
    QStringList workspaceDirectories() const;
    QString firstUnusedDirectoryKey() const;

private:
    mutable QSettings m_settings;
};
