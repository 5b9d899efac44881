#pragma once

#include <QString>
#include <QStringList>

class Applet;

// An applet's registers in files: register files ("NAME::bits" lines, named
// "<name>.101.<applet>") read into the registers or written from them, and
// the exports of the registers it owns for firmware. Each call that fails
// leaves the registers and the files as they were and says why.
class AppletRegisterFiles
{
public:
    explicit AppletRegisterFiles(Applet &applet) : m_applet(applet) {}

    // A register file holds a handful of short lines; anything this big is
    // not one.
    static constexpr qint64 MaxFileSize = 1 << 20;

    // The registers the file set, in its order; none (and the reason) when
    // it could not be read or holds no register of the applet. Lines that
    // name no register of the applet are skipped.
    QStringList load(const QString &fileName, QString *error);
    // "NAME::bits" lines for the named registers, the file replaced as a
    // whole or not at all.
    bool save(const QStringList &names, const QString &fileName, QString *error);
    // The owned registers as a C header or as JSON (RegisterExport::Format).
    bool exportOwned(const QString &fileName, int format, QString *error);
    // This applet's register files in the working directory, by name.
    QStringList configurations() const;

private:
    Applet &m_applet;
};
