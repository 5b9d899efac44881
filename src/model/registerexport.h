#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

class Register;

// Registers written out for firmware (a C header of values, masks and
// shifts) and for other tools (JSON), as the model holds them: nothing is
// read from the board.
class RegisterExport
{
public:
    enum Format
    {
        Unknown,
        CHeader,
        Json
    };

    // source names what is exported (an applet): the include guard and the
    // header's comment carry it.
    explicit RegisterExport(const QString &source);

    void addRegister(const Register *reg);
    // The frame a write of the register sends, with the watchdog bit 0.
    void setFrame(const QString &registerName, quint16 frame);
    void setChipIdentity(const QString &text) { m_identity = text; }
    // Now, unless set.
    void setTimestamp(const QDateTime &when) { m_when = when; }
    int registerCount() const { return int(m_registers.size()); }

    QByteArray cHeader() const;
    QByteArray json() const;

    // ".h" or ".json" (in any case); Unknown otherwise.
    static Format formatFor(const QString &path);
    // Writes the format the path's suffix names; the file is replaced whole
    // or not at all. False with the reason in *error.
    bool write(const QString &path, QString *error) const;
    bool write(const QString &path, Format format, QString *error) const;

    // A name as a C identifier part: upper case, every character that is
    // not an ASCII letter or digit turned into '_'.
    static QString identifier(const QString &name);

private:
    struct Field
    {
        QString name;
        QString macro;
        int lo = 0;
        int hi = 0;
        QString description;
    };

    QList<Field> fieldsOf(const Register *reg) const;
    QString stamp() const;
    QString generator() const;

    QString m_source;
    QString m_identity;
    QDateTime m_when;
    QList<const Register *> m_registers;
    QHash<QString, quint16> m_frames;
};
