#include "applet/appletregisterfiles.h"

#include "applet/applet.h"
#include "applet/registerfile.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "util/safefile.h"

#include <QDir>
#include <QFile>

QStringList AppletRegisterFiles::load(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read the register file %1: %2").arg(fileName, file.errorString());
        return {};
    }
    // Read with a bound: a device or a huge file picked by mistake must not fill the memory.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize) {
        *error = QStringLiteral("%1 is no register file: it is larger than %2 bytes")
                     .arg(fileName)
                     .arg(MaxFileSize);
        return {};
    }
    // Parsed in full before anything changes: a file without one line for
    // this applet leaves the model and the board alone.
    QList<QPair<Register *, QByteArray>> lines;
    for (const RegisterFile::Line &line : RegisterFile::parse(bytes)) {
        const ParameterEntry *entry = m_applet.parameter(line.name);
        if (entry && entry->reg)
            lines.append({entry->reg, line.bits});
    }
    if (lines.isEmpty()) {
        *error = QStringLiteral("%1 holds no register of %2").arg(fileName, m_applet.objectName());
        return {};
    }
    QStringList names;
    for (const auto &line : std::as_const(lines)) {
        line.first->fromBitString(line.second);
        const QString all = line.first->name() + QStringLiteral("[]");
        // A recording gets the values the file gave.
        emit m_applet.signal_userWrite(all, m_applet.binding().read(all));
        names.append(line.first->name());
    }
    return names;
}

bool AppletRegisterFiles::save(const QStringList &names, const QString &fileName, QString *error)
{
    QList<RegisterFile::Line> lines;
    for (const QString &name : names) {
        const ParameterEntry *entry = m_applet.parameter(name);
        if (entry && entry->reg)
            lines.append({name, entry->reg->toBitString()});
    }
    // A failed or interrupted write keeps the file that was there.
    return SafeFile::save(fileName, RegisterFile::compose(lines), error);
}

bool AppletRegisterFiles::exportOwned(const QString &fileName, int format, QString *error)
{
    RegisterExport out(m_applet.objectName());
    m_applet.describeExport(out);
    QString reason;
    if (!out.write(fileName, RegisterExport::Format(format), &reason)) {
        *error = QStringLiteral("Cannot export the registers: %1").arg(reason);
        return false;
    }
    return true;
}

QStringList AppletRegisterFiles::configurations() const
{
    return QDir::current().entryList({QStringLiteral("*.101.") + m_applet.objectName()}, QDir::Files,
                                     QDir::Name | QDir::IgnoreCase);
}
