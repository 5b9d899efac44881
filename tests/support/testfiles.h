#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A file's whole content, or "<missing>" when it cannot be read, so a
// comparison shows which.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
