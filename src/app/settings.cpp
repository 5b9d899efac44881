#include "app/settings.h"

#include "util/regularfile.h"
#include "util/safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// A settings file is a few hundred bytes; this is no settings file.
constexpr qint64 MaxFileSize = 1 << 20;

// The toolkit's INI reader and writer work on a private copy: on the file
// itself QSettings would open whatever is there, so a pipe put in its place
// would block it and a device would be read without end.
bool parse(const QByteArray &text, QVariantMap *values, QString *reason)
{
    values->clear();
    if (text.isEmpty())
        return true;
    QTemporaryDir dir;
    QFile copy(dir.filePath(QStringLiteral("copy.ini")));
    if (!dir.isValid() || !copy.open(QIODevice::WriteOnly) || copy.write(text) != text.size() ||
        !copy.flush()) {
        *reason = QStringLiteral("cannot make a private copy in %1").arg(QDir::tempPath());
        return false;
    }
    copy.close();
    const QSettings ini(copy.fileName(), QSettings::IniFormat);
    const QStringList keys = ini.allKeys();
    for (const QString &key : keys)
        values->insert(key, ini.value(key));
    return true;
}

bool compose(const QVariantMap &values, QByteArray *text, QString *reason)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.ini"));
    bool written = dir.isValid();
    if (written) {
        QSettings ini(copy, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            ini.setValue(it.key(), it.value());
        ini.sync();
        written = ini.status() == QSettings::NoError;
    }
    QFile file(copy);
    if (!written || (file.exists() && !file.open(QIODevice::ReadOnly))) {
        *reason = QStringLiteral("cannot make a private copy in %1").arg(QDir::tempPath());
        return false;
    }
    *text = file.isOpen() ? file.readAll() : QByteArray();
    return true;
}

} // namespace

Settings::Settings(const QString &filePath) : m_path(filePath)
{
    QByteArray text;
    bool exists = false;
    QString reason;
    if (!RegularFile::read(m_path, MaxFileSize, &text, &exists, &reason) || !parse(text, &m_values, &reason))
        m_readError = QStringLiteral("Cannot read settings from %1: %2")
                          .arg(QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath()), reason);
}

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
        return m_values.value(key, defaultUpdaterPath());
    if (key == QLatin1String("python_path"))
        return m_values.value(key, QStringLiteral("python3"));
    return m_values.value(key);
}

bool Settings::setValue(const QString &key, const QVariant &value, QString *error)
{
    m_values.insert(key, value);
    m_unsaved.insert(key, value);

    // What another instance wrote since is read again and kept; only the
    // values set here go over it.
    QByteArray text;
    bool exists = false;
    QString reason;
    QVariantMap stored;
    bool ok =
        RegularFile::read(m_path, MaxFileSize, &text, &exists, &reason) && parse(text, &stored, &reason);
    if (ok) {
        for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it)
            stored.insert(it.key(), it.value());
        ok = compose(stored, &text, &reason);
    }
    if (ok) {
        SafeFile file(m_path);
        ok = file.open() && file.write(text) && file.commit();
        if (!ok)
            reason = file.reason();
    }
    if (!ok) {
        if (error)
            *error = QStringLiteral("Cannot save settings to %1: %2")
                         .arg(QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath()), reason);
        return false;
    }
    m_values = stored;
    m_unsaved.clear();
    return true;
}

QStringList Settings::workspaceDirectories() const
{
    QStringList dirs;
    for (int i = 0;; ++i) {
        const QVariant v = m_values.value(QStringLiteral("_Path%1").arg(i));
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
