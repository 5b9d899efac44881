#include "util/safefile.h"

#include "util/regularfile.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

SafeFile::SafeFile(const QString &path) : m_path(path), m_file(path) {}

bool SafeFile::open()
{
    if (failed())
        return false;
    const RegularFile::Target target = RegularFile::resolve(m_path);
    if (!target.ok())
        return fail(target.refusal);
    m_file.setFileName(target.path);
    if (!m_file.open(QIODevice::WriteOnly))
        return fail(m_file.errorString());
    return true;
}

bool SafeFile::write(const QByteArray &bytes)
{
    if (failed())
        return false;
    if (!m_file.isOpen())
        return fail(QStringLiteral("the file is not open"));
    if (m_file.write(bytes) != bytes.size() || m_file.error() != QFileDevice::NoError)
        return fail(m_file.errorString());
    return true;
}

bool SafeFile::commit()
{
    if (failed())
        return false;
    if (!m_file.isOpen())
        return fail(QStringLiteral("the file is not open"));
    // A write through device() may have failed without its writer noticing.
    if (m_file.error() != QFileDevice::NoError || !m_file.flush())
        return fail(m_file.errorString());
#ifdef Q_OS_UNIX
    // commit() syncs too but ignores the result; some file systems report
    // a lack of room only here. Devices that cannot sync are no failure.
    if (::fsync(m_file.handle()) != 0 && errno != EINVAL && errno != EROFS)
        return fail(qt_error_string(errno));
#endif
    // The rename replaces whatever is there now: a node put in the file's
    // place meanwhile stays.
    const RegularFile::Target now = RegularFile::resolve(m_file.fileName());
    if (!now.ok())
        return fail(now.refusal);
    if (now.path != m_file.fileName())
        return fail(QStringLiteral("it was replaced by a symbolic link while it was written"));
    if (!m_file.commit())
        return fail(m_file.errorString());
    return true;
}

void SafeFile::cancel(const QString &reason)
{
    if (failed())
        return;
    // A writer that gave up because the device failed reports the device's reason.
    fail(m_file.error() != QFileDevice::NoError ? m_file.errorString() : reason);
}

bool SafeFile::fail(const QString &reason)
{
    // The full path says where, also for a name relative to the working directory.
    m_reason = reason.isEmpty() ? QStringLiteral("unknown error") : reason;
    m_error = QStringLiteral("Cannot write %1: %2")
                  .arg(QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath()), m_reason);
    if (m_file.isOpen()) {
        // With the error set, commit() removes the new file at once.
        m_file.cancelWriting();
        m_file.commit();
    }
    return false;
}

bool SafeFile::save(const QString &path, const QByteArray &bytes, QString *error)
{
    SafeFile file(path);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}
