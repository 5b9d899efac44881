#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

class QIODevice;

// Replaces a file whole or not at all. Every write is checked; before the
// new file takes the old one's place its data is flushed and synced, and
// any failure drops it, so the old file stays as it was. QSaveFile alone is
// not enough: its commit() renames over the old file after a failed flush
// of a small buffer (a full disk leaves an empty file and reports success),
// and over a device node or a pipe as well. Only regular files are replaced;
// through a symbolic link the file it leads to is, and the link stays.
class SafeFile
{
public:
    explicit SafeFile(const QString &path);

    bool open();
    bool write(const QByteArray &bytes);
    // For writers that take a device (pictures); what they write is checked
    // by commit().
    QIODevice *device() { return &m_file; }
    bool commit();
    // Drops the new file, for a writer that gave up; the reason reported is
    // the device's own error if a write failed, else the one given.
    void cancel(const QString &reason);

    bool failed() const { return !m_error.isEmpty(); }
    // "Cannot write <absolute path>: <reason>" after a failure, else empty.
    QString errorString() const { return m_error; }
    // The reason alone, for callers that say in their own words what failed.
    QString reason() const { return m_reason; }

    // Open, write and commit in one; on failure error gets errorString().
    static bool save(const QString &path, const QByteArray &bytes, QString *error);

private:
    bool fail(const QString &reason);

    // The name as given, for messages; m_file has the file it leads to.
    QString m_path;
    QSaveFile m_file;
    QString m_error;
    QString m_reason;
};
