#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "model/fieldtext.h"

// One bit of a register. Neighbouring bits with the same name form a field.
struct RegisterBit
{
    bool value = false;
    int fieldIndex = 0;
    QHash<QString, QString> attributes;
    QString name;
    QString description;

    // A missing key reads as an empty text.
    QString attribute(const QString &key) const { return attributes.value(key); }
};

// A named chip or board register built from a description such as
// "T_PC1[1:0]#HB1 R/F slope pre-charge time;...;D10=0#;" (bit 0 is the first bit
// declared). It never talks to the hardware: writes are announced with
// signal_updateSet and reads with signal_updateGet, and the applets that
// registered it turn these into board transactions.
//
// Numeric operations work on 32-bit values: bits above 31 read as 0 and are not
// written by numeric writes.
class Register : public QObject
{
    Q_OBJECT

public:
    // No register grows beyond the bits that the all-bits reference "[]" reaches.
    static constexpr int MaxSize = 10001;

    Register();
    Register(const QString &description, const QString &name, QObject *parent = nullptr);
    // Copies bit values (or the whole layout into an empty register); see assignment.
    Register(const Register &other);
    // Same layout: only the values are copied. Empty target: it receives the
    // source's bits. Any other target stays as it is. Name, description, flags and
    // attributes are never copied, and nothing is announced.
    Register &operator=(const Register &other);
    ~Register() override;

    QString name() const { return m_name; }
    QString description() const { return m_description; }
    int size() const { return int(m_bits.size()); }
    bool isReadOnly() const { return m_readOnly; }
    bool isView() const { return m_isView; }

    // Bit access without notification; indices outside the register read as
    // false / nullptr and are not written.
    bool bit(int i) const;
    const RegisterBit *bitAt(int i) const;
    void setBit(int i, bool v);
    int indexOf(const QString &fieldName) const;
    QString attribute(const QString &key) const { return m_attributes.value(key); }

    // Reads: emit signal_updateGet first so that the owner can refresh the bits.
    uint value(bool lsbFirst = true);
    QByteArray toBytes(bool lsbFirst = true, bool msbInByte = true);
    QByteArray toBitString(bool lsbFirst = true);

    // Writes: signal_updateSet only when a bit changed.
    void set(uint v, bool lsbFirst = true);
    bool set(uint lo, uint hi, uint v);
    // Always announced, changed or not. end -1 stands for the size.
    void fill(bool v, int end = -1, int start = 0);
    // An inverted, unnamed copy; announced on this register, which keeps its bits.
    Register operator~();

    // Character i (anything but '0' is 1) to bit i, or to bit length-1-i; no notification.
    void fromBitString(const QByteArray &text, bool lsbFirst = true);

    // References: "CR5A[9:8]", "SR0[4]", "CR0[]", "DIO[EN]", "CR0" (bit 0).
    uint get(const QString &ref);
    // The bits lo..hi (at most 32 from lo) as a number, without notification.
    uint bits(qint64 lo, qint64 hi) const;
    // The bit range a numeric reference names; false for a symbolic or bad one.
    bool rangeOf(const QString &ref, qint64 &lo, qint64 &hi) const;
    bool set(const QString &ref, uint v);
    bool fieldInfo(const QString &ref, QString &fieldName, QString &fieldDescription);

    // The register's one view, refilled: borrowed bits that are written through to
    // this register and announced under its name.
    Register *select(const QString &spec);
    Register *range(int lo, int hi);

    QString format(const QString &templ, bool perField) const;

    // Connects the write and read announcements to the receiver's slots.
    template<typename Receiver>
    bool connectTo(Receiver *receiver, void (Receiver::*setSlot)(const QString &),
                   void (Receiver::*getSlot)(const QString &))
    {
        ensureView();
        if (!receiver)
            return false;
        bool ok = true;
        if (setSlot)
            ok = bool(connect(this, &Register::signal_updateSet, receiver, setSlot)) && ok;
        if (getSlot)
            ok = bool(connect(this, &Register::signal_updateGet, receiver, getSlot)) && ok;
        return ok;
    }
    void clear();

signals:
    void signal_updateSet(QString regname);
    void signal_updateGet(QString regname);

private:
    void parse(const QString &description);
    int parseItem(QStringView item);
    int parseFieldItem(QStringView item);
    int parseOptionItem(QStringView item);
    int declareField(const FieldSpec &spec, const QString &fieldDescription, quint32 defaults,
                     const QHash<QString, QString> &fieldAttributes, QStringView item);
    void renumber(int from);
    void copyFrom(const Register &other);
    Register *ensureView();
    QList<RegisterBit *> bitsNamed(QStringView fieldName) const;
    bool writeRange(qint64 lo, qint64 hi, uint v);
    void announceSet();
    QString formatPiece(const QString &templ, int lo, int hi, bool perField) const;
    // References are parsed once: controls read the same few on every refresh.
    // The reference stays valid until the next lookup of a new one.
    const FieldSpec &reference(const QString &ref) const;

    QStringList m_declaredNames;
    Register *m_parent = nullptr;
    Register *m_view = nullptr;
    bool m_isView = false;
    bool m_readOnly = false;
    QString m_description;
    QString m_name;
    QList<RegisterBit *> m_bits;
    QHash<QString, QString> m_attributes;
    mutable QHash<QString, FieldSpec> m_references;
};
