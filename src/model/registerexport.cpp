#include "model/registerexport.h"

#include "model/register.h"
#include "util/safefile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

const char *const Prefix = "HQL3318_";

bool isGap(const QString &name)
{
    return name.isEmpty() || name == QLatin1String("_");
}

// Numbers only reach 32 bits (Register::bits).
int valueBits(int size)
{
    return qMin(size, 32);
}

quint32 maskOf(int lo, int hi)
{
    const int width = hi - lo + 1;
    const quint32 ones = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
    return ones << lo;
}

QString hex(quint32 value, int bits)
{
    const QString digits = QString::number(value, 16).toUpper();
    return QStringLiteral("0x%1u").arg(digits.rightJustified(qMax(1, (bits + 3) / 4), QLatin1Char('0')));
}

// Text inside a C comment: printable ASCII, and nothing that ends or
// opens a comment or forms a trigraph.
QString commentText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        out += c.unicode() >= 0x20 && c.unicode() < 0x7F ? c : QLatin1Char('?');
    out.replace(QLatin1String("*/"), QLatin1String("* /"));
    out.replace(QLatin1String("/*"), QLatin1String("/ *"));
    out.replace(QLatin1String("??"), QLatin1String("? ?"));
    return out.trimmed();
}

// Takes the first of base, base_2, base_3 ... whose names (base followed by
// each suffix) are all still free.
QString claim(QSet<QString> &used, const QString &base, const QStringList &suffixes)
{
    for (int n = 1;; ++n) {
        const QString candidate = n == 1 ? base : QStringLiteral("%1_%2").arg(base).arg(n);
        bool free = true;
        for (const QString &suffix : suffixes)
            free = free && !used.contains(candidate + suffix);
        if (free) {
            for (const QString &suffix : suffixes)
                used.insert(candidate + suffix);
            return candidate;
        }
    }
}

} // namespace

RegisterExport::RegisterExport(const QString &source) : m_source(source) {}

void RegisterExport::addRegister(const Register *reg)
{
    if (reg && !m_registers.contains(reg))
        m_registers.append(reg);
}

void RegisterExport::setFrame(const QString &registerName, quint16 frame)
{
    m_frames.insert(registerName, frame);
}

QString RegisterExport::identifier(const QString &name)
{
    QString out = name.toUpper();
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        const bool alnum = (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!alnum)
            c = QLatin1Char('_');
    }
    return out;
}

QList<RegisterExport::Field> RegisterExport::fieldsOf(const Register *reg) const
{
    // A field is a run of neighbouring bits with one name, as everywhere
    // else in the model; unnamed bits are gaps.
    QList<Field> fields;
    const int n = reg->size();
    for (int lo = 0; lo < n;) {
        const QString name = reg->bitAt(lo)->name;
        int hi = lo;
        while (hi + 1 < n && reg->bitAt(hi + 1)->name == name)
            ++hi;
        if (!isGap(name)) {
            Field f;
            f.name = name;
            f.lo = lo;
            f.hi = hi;
            f.description = reg->bitAt(lo)->description;
            fields.append(f);
        }
        lo = hi + 1;
    }
    // Names that turn into the same identifier (one name in two runs, or
    // "A-B" beside "A_B") are told apart by their bits.
    QHash<QString, int> count;
    for (Field &f : fields) {
        f.macro = identifier(f.name);
        ++count[f.macro];
    }
    for (Field &f : fields) {
        if (count.value(f.macro) > 1) {
            f.macro +=
                f.lo == f.hi ? QStringLiteral("_%1").arg(f.lo) : QStringLiteral("_%1_%2").arg(f.hi).arg(f.lo);
        }
    }
    return fields;
}

QString RegisterExport::stamp() const
{
    const QDateTime local = m_when.isValid() ? m_when : QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString RegisterExport::generator() const
{
    const QString name = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? name : name + QLatin1Char(' ') + version;
}

QByteArray RegisterExport::cHeader() const
{
    const QString guard = QLatin1String(Prefix) + identifier(m_source) + QStringLiteral("_REGISTERS_H");
    QString out;
    out += QStringLiteral("/* HQL3318 registers of %1\n").arg(commentText(m_source));
    const QString by = commentText(generator());
    out += by.isEmpty() ? QStringLiteral(" * Exported %1.\n").arg(stamp())
                        : QStringLiteral(" * Exported %1 by %2.\n").arg(stamp(), by);
    if (!m_identity.isEmpty())
        out += QStringLiteral(" * Chip identity: %1.\n").arg(commentText(m_identity));
    out += QStringLiteral(" * Values are the application's at export time. _MASK and _SHIFT place a\n"
                          " * field: (value & MASK) >> SHIFT.\n");
    if (!m_frames.isEmpty())
        out += QStringLiteral(" * A _FRAME is the 16-bit SPI frame the register's write sends: address\n"
                              " * in bits 15..12, watchdog bit 11 (0 here), data in bits 10..0.\n");
    out += QStringLiteral(" */\n");
    out += QStringLiteral("#ifndef %1\n#define %1\n").arg(guard);

    QSet<QString> used{guard};
    for (const Register *reg : m_registers) {
        const int bits = valueBits(reg->size());
        const QString base = claim(used, QLatin1String(Prefix) + identifier(reg->name()),
                                   {QString(), QStringLiteral("_FRAME")});
        out += QStringLiteral("\n/* %1: %2 bit%3, %4 */\n")
                   .arg(commentText(reg->name()))
                   .arg(reg->size())
                   .arg(reg->size() == 1 ? QString() : QStringLiteral("s"))
                   .arg(reg->isReadOnly() ? QStringLiteral("read-only") : QStringLiteral("writable"));
        if (reg->size() <= 32)
            out += QStringLiteral("#define %1 %2\n").arg(base, hex(reg->bits(0, reg->size() - 1), bits));
        else
            out += QStringLiteral("/* wider than 32 bits: no value */\n");
        if (m_frames.contains(reg->name()))
            out += QStringLiteral("#define %1_FRAME %2\n").arg(base, hex(m_frames.value(reg->name()), 16));
        for (const Field &f : fieldsOf(reg)) {
            if (f.hi > 31)
                continue;
            const QString field = claim(used, base + QLatin1Char('_') + f.macro,
                                        {QStringLiteral("_MASK"), QStringLiteral("_SHIFT")});
            const QString description = commentText(f.description);
            out += QStringLiteral("#define %1_MASK %2").arg(field, hex(maskOf(f.lo, f.hi), bits));
            out +=
                description.isEmpty() ? QStringLiteral("\n") : QStringLiteral(" /* %1 */\n").arg(description);
            out += QStringLiteral("#define %1_SHIFT %2\n").arg(field).arg(f.lo);
        }
    }
    out += QStringLiteral("\n#endif /* %1 */\n").arg(guard);
    return out.toLatin1();
}

QByteArray RegisterExport::json() const
{
    QJsonArray registers;
    for (const Register *reg : m_registers) {
        QJsonObject r;
        r.insert(QStringLiteral("name"), reg->name());
        r.insert(QStringLiteral("size"), reg->size());
        r.insert(QStringLiteral("access"),
                 reg->isReadOnly() ? QStringLiteral("read-only") : QStringLiteral("writable"));
        if (reg->size() <= 32)
            r.insert(QStringLiteral("value"), qint64(reg->bits(0, reg->size() - 1)));
        if (m_frames.contains(reg->name()))
            r.insert(QStringLiteral("frame"), int(m_frames.value(reg->name())));
        QJsonArray fields;
        for (const Field &f : fieldsOf(reg)) {
            QJsonObject field;
            field.insert(QStringLiteral("name"), f.name);
            field.insert(QStringLiteral("lsb"), f.lo);
            field.insert(QStringLiteral("msb"), f.hi);
            if (f.hi - f.lo < 32)
                field.insert(QStringLiteral("value"), qint64(reg->bits(f.lo, f.hi)));
            field.insert(QStringLiteral("description"), f.description);
            fields.append(field);
        }
        r.insert(QStringLiteral("fields"), fields);
        registers.append(r);
    }
    QJsonObject root;
    root.insert(QStringLiteral("format"), QStringLiteral("hql3318-registers"));
    root.insert(QStringLiteral("formatVersion"), 1);
    root.insert(QStringLiteral("source"), m_source);
    root.insert(QStringLiteral("exported"), stamp());
    root.insert(QStringLiteral("generator"), generator());
    if (!m_identity.isEmpty())
        root.insert(QStringLiteral("chipIdentity"), m_identity);
    root.insert(QStringLiteral("registers"), registers);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

RegisterExport::Format RegisterExport::formatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("h"))
        return CHeader;
    if (suffix == QLatin1String("json"))
        return Json;
    return Unknown;
}

bool RegisterExport::write(const QString &path, QString *error) const
{
    return write(path, formatFor(path), error);
}

bool RegisterExport::write(const QString &path, Format format, QString *error) const
{
    if (path.isEmpty() || format == Unknown) {
        if (error)
            *error = QStringLiteral("%1: the file name must end in .h (C header) or .json").arg(path);
        return false;
    }
    return SafeFile::save(path, format == CHeader ? cHeader() : json(), error);
}
