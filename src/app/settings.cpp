#include "app/settings.h"

#include <QCoreApplication>
#include <QDir>

Settings::Settings(const QString &filePath) : m_settings(filePath, QSettings::IniFormat) {}

QString Settings::defaultFilePath()
{
    return QDir::current().filePath(QStringLiteral("hql3318.ini"));
}

QString Settings::defaultUpdaterPath()
{
    // An installed updater sits beside the application.
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("hql3318-updater"));
}

QVariant Settings::value(const QString &key) const
{
    if (key == QLatin1String("updater_path"))
        return m_settings.value(key, defaultUpdaterPath());
    if (key == QLatin1String("python_path"))
        return m_settings.value(key, QStringLiteral("python3"));
    return m_settings.value(key);
}

void Settings::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}

QStringList Settings::workspaceDirectories() const
{
    QStringList dirs;
    for (int i = 0;; ++i) {
        const QVariant v = m_settings.value(QStringLiteral("_Path%1").arg(i));
        if (v.isNull())
            break;
        dirs.append(v.toString());
    }
    return dirs;
}

QString Settings::firstUnusedDirectoryKey() const
{
    return QStringLiteral("_Path%1").arg(workspaceDirectories().size());
}
