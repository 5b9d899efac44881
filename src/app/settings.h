#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

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

    QString filePath() const { return m_path; }
    // "Cannot read settings from <path>: <reason>" when the file was there
    // but could not be read (every key then has its default), else empty.
    QString readError() const { return m_readError; }

    QVariant value(const QString &key) const;
    // Keeps the value and writes the file. When the file cannot take it,
    // error says "Cannot save settings to <path>: <reason>"; the value still
    // holds for this run and goes to the file with the next write that works.
    bool setValue(const QString &key, const QVariant &value, QString *error = nullptr);

    // Workspace directories are stored as _Path0, _Path1, ... and read up to
    // the first missing number.
    QStringList workspaceDirectories() const;
    QString firstUnusedDirectoryKey() const;

private:
    QString m_path;
    QVariantMap m_values;
    // Set in this run but not yet in the file.
    QVariantMap m_unsaved;
    QString m_readError;
};
