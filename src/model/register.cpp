#include "model/register.h"

#include "model/fieldtext.h"
#include "model/modellog.h"
#include "model/modeltext.h"

#include <QtAlgorithms>

#include <algorithm>
#include <functional>

Register::Register() = default;

Register::Register(const QString &description, const QString &name, QObject *parent)
    : QObject(parent), m_description(description), m_name(name)
{
    parse(description);
}

Register::Register(const Register &other) : QObject(nullptr)
{
    copyFrom(other);
}

Register &Register::operator=(const Register &other)
{
    copyFrom(other);
    return *this;
}

Register::~Register()
{
    clear();
    delete m_view;
}

bool Register::bit(int i) const
{
    return i >= 0 && i < size() && m_bits[i]->value;
}

const RegisterBit *Register::bitAt(int i) const
{
    return i >= 0 && i < size() ? m_bits[i] : nullptr;
}

void Register::setBit(int i, bool v)
{
    if (i >= 0 && i < size())
        m_bits[i]->value = v;
}

int Register::indexOf(const QString &fieldName) const
{
    for (int i = 0; i < size(); ++i) {
        if (m_bits[i]->name == fieldName)
            return i;
    }
    return -1;
}

uint Register::value(bool lsbFirst)
{
    emit signal_updateGet(m_name);
    const int n = size();
    uint result = 0;
    for (int i = 0; i < qMin(n, 32); ++i) {
        if (m_bits[lsbFirst ? i : n - 1 - i]->value)
            result |= 1u << i;
    }
    return result;
}

QByteArray Register::toBytes(bool lsbFirst, bool msbInByte)
{
    emit signal_updateGet(m_name);
    const int n = size();
    QByteArray bytes((n + 7) / 8, '\0');
    for (int j = 0; j < n; ++j) {
        if (!m_bits[lsbFirst ? j : n - 1 - j]->value)
            continue;
        const int k = j % 8;
        bytes[j / 8] = char(uchar(bytes[j / 8]) | (msbInByte ? 0x80u >> k : 1u << k));
    }
    return bytes;
}

QByteArray Register::toBitString(bool lsbFirst)
{
    emit signal_updateGet(m_name);
    const int n = size();
    QByteArray text(n, '0');
    for (int j = 0; j < n; ++j) {
        if (m_bits[lsbFirst ? j : n - 1 - j]->value)
            text[j] = '1';
    }
    return text;
}

void Register::set(uint v, bool lsbFirst)
{
    const int n = size();
    bool changed = false;
    for (int i = 0; i < qMin(n, 32); ++i) {
        RegisterBit *b = m_bits[lsbFirst ? i : n - 1 - i];
        const bool nv = (v >> i) & 1u;
        changed |= b->value != nv;
        b->value = nv;
    }
    if (changed)
        announceSet();
}

bool Register::set(uint lo, uint hi, uint v)
{
    if (lo > hi)
        std::swap(lo, hi);
    return writeRange(lo, hi, v);
}

void Register::fill(bool v, int end, int start)
{
    if (end == -1 || end > size())
        end = size();
    for (int i = qMax(start, 0); i < end; ++i)
        m_bits[i]->value = v;
    announceSet();
}

Register Register::operator~()
{
    Register inverted(*this);
    for (RegisterBit *b : std::as_const(inverted.m_bits))
        b->value = !b->value;
    announceSet();
    return inverted;
}

void Register::fromBitString(const QByteArray &text, bool lsbFirst)
{
    const qsizetype length = text.size();
    for (qsizetype i = 0; i < length; ++i) {
        const qsizetype index = lsbFirst ? i : length - 1 - i;
        if (index < size())
            m_bits[index]->value = text[i] != '0';
    }
}

const FieldSpec &Register::reference(const QString &ref) const
{
    auto it = m_references.constFind(ref);
    if (it != m_references.constEnd())
        return *it;
    // Scripts may name endless distinct references: keep the cache small.
    if (m_references.size() >= 256)
        m_references.clear();
    return *m_references.insert(ref, FieldSpec(ref));
}

uint Register::get(const QString &ref)
{
    const FieldSpec &spec = reference(ref);
    if (!spec.valid)
        return 0;
    if (spec.symbolic) {
        Register *view = ensureView();
        view->m_bits = bitsNamed(spec.first);
        return view->m_bits.isEmpty() ? 0 : view->value(true);
    }
    return bits(spec.lo, spec.hi);
}

uint Register::bits(qint64 lo, qint64 hi) const
{
    const qint64 last = std::min<qint64>({hi, size() - 1, lo + 31});
    uint result = 0;
    for (qint64 i = qMax<qint64>(lo, 0); i <= last; ++i) {
        if (m_bits[i]->value)
            result |= 1u << (i - lo);
    }
    return result;
}

bool Register::rangeOf(const QString &ref, qint64 &lo, qint64 &hi) const
{
    const FieldSpec &spec = reference(ref);
    if (!spec.valid || spec.symbolic)
        return false;
    lo = spec.lo;
    hi = spec.hi;
    return true;
}

bool Register::set(const QString &ref, uint v)
{
    const FieldSpec spec = reference(ref);
    if (!spec.valid)
        return false;
    if (spec.symbolic) {
        Register *view = ensureView();
        view->m_bits = bitsNamed(spec.first);
        if (view->m_bits.isEmpty())
            return false;
        view->set(v, true);
        return true;
    }
    return writeRange(spec.lo, spec.hi, v);
}

bool Register::fieldInfo(const QString &ref, QString &fieldName, QString &fieldDescription)
{
    const FieldSpec spec = reference(ref);
    if (!spec.valid)
        return false;
    if (spec.symbolic) {
        const int index = indexOf(spec.first);
        if (index < 0)
            return false;
        fieldName = spec.first;
        fieldDescription = m_bits[index]->description;
        return true;
    }
    if (spec.lo < 0 || spec.lo >= size())
        return false;
    fieldName = m_bits[spec.lo]->name;
    fieldDescription = m_bits[spec.lo]->description;
    return true;
}

Register *Register::select(const QString &spec)
{
    Register *view = ensureView();
    if (!spec.contains(u';')) {
        view->m_bits = bitsNamed(spec);
        return view;
    }
    QList<RegisterBit *> chosen;
    for (QStringView piece : QStringView(spec).tokenize(u';')) {
        const qsizetype colon = piece.indexOf(u':');
        bool okLo = false;
        bool okHi = false;
        if (colon >= 0) {
            const int a = piece.left(colon).toInt(&okLo);
            const int b = piece.mid(colon + 1).toInt(&okHi);
            if (okLo && okHi) {
                for (int i = qMax(a, 0); i <= qMin(b, size() - 1); ++i)
                    chosen.append(m_bits[i]);
                continue;
            }
        } else {
            const int n = piece.toInt(&okLo);
            if (okLo) {
                if (n >= 0 && n < size())
                    chosen.append(m_bits[n]);
                continue;
            }
        }
        chosen.append(bitsNamed(piece));
    }
    view->m_bits = chosen;
    return view;
}

Register *Register::range(int lo, int hi)
{
    Register *view = ensureView();
    if (hi < 0 || hi >= size())
        hi = size() - 1;
    view->m_bits = m_bits.mid(qMax(lo, 0), qMax(hi - qMax(lo, 0) + 1, 0));
    return view;
}

QString Register::format(const QString &templ, bool perField) const
{
    QString out;
    const int n = size();
    for (int lo = 0; lo < n;) {
        int hi = lo;
        if (perField) {
            while (hi + 1 < n && m_bits[hi + 1]->name == m_bits[lo]->name)
                ++hi;
        }
        // An unnamed one-bit field is a gap, not a field.
        if (!(perField && hi == lo && m_bits[lo]->name.isEmpty()))
            out += formatPiece(templ, lo, hi, perField);
        lo = hi + 1;
    }
    return out;
}

void Register::clear()
{
    if (!m_isView)
        qDeleteAll(m_bits);
    m_bits.clear();
    // The view borrows these bits; it must not keep pointers to deleted ones.
    if (m_view)
        m_view->clear();
}

void Register::parse(const QString &description)
{
    for (QStringView item : QStringView(description).tokenize(u';'))
        parseItem(item.trimmed());
}

int Register::parseItem(QStringView item)
{
    if (item.isEmpty())
        return 0;
    return item.startsWith(u'@') ? parseOptionItem(item) : parseFieldItem(item);
}

int Register::parseFieldItem(QStringView item)
{
    const FieldSpec spec(item);
    if (!spec.valid)
        return 0;
    return declareField(spec, spec.description, spec.value, {}, item);
}

int Register::parseOptionItem(QStringView item)
{
    bool declared = false;
    FieldSpec field;
    quint32 defaults = 0;
    QString fieldDescription;
    QHash<QString, QString> fieldAttributes;
    QString key;
    QString value;
    for (QStringView piece : item.tokenize(u'@', Qt::SkipEmptyParts)) {
        if (!ModelText::splitKeyValue(piece, key, value))
            continue;
        if (key == u"bit" || key == u"name" || key == u"field") {
            FieldSpec spec(value);
            if (!spec.valid)
                return 0;
            if (m_declaredNames.contains(spec.name)) {
                qCWarning(lcModel).noquote()
                    << "field" << spec.name << "declared twice in register" << m_name;
                declared = false;
                continue;
            }
            m_declaredNames.append(spec.name);
            field = spec;
            declared = true;
        } else if (key == u"value") {
            defaults = ModelText::toUIntAuto(value);
        } else if (key == u"descr") {
            fieldDescription = value;
        } else if (key == u"register") {
            m_name = value;
        } else if (key == u"readonly") {
            m_readOnly = value.isEmpty() || ModelText::toInt(value) != 0;
        } else {
            (declared ? fieldAttributes : m_attributes).insert(key, value);
        }
    }
    if (!declared)
        return 0;
    return declareField(field, fieldDescription, defaults, fieldAttributes, item);
}

int Register::declareField(const FieldSpec &spec, const QString &fieldDescription, quint32 defaults,
                           const QHash<QString, QString> &fieldAttributes, QStringView item)
{
    if (spec.allBits) {
        qCWarning(lcModel).noquote() << "field with \"[]\" declares no bits:" << item.toString();
        return 0;
    }
    const qint64 width = spec.width();
    if (width > MaxSize - size()) {
        qCWarning(lcModel).noquote() << "field would make register" << m_name << "longer than" << MaxSize
                                     << "bits:" << item.toString();
        return 0;
    }
    const int from = size();
    m_bits.reserve(from + width);
    for (int k = 0; k < width; ++k) {
        auto *b = new RegisterBit;
        b->value = k < 32 && ((defaults >> k) & 1u);
        b->attributes = fieldAttributes;
        b->name = spec.name;
        b->description = fieldDescription;
        m_bits.append(b);
    }
    renumber(from);
    return int(width);
}

void Register::renumber(int from)
{
    // A new field starts wherever the name changes; the walk starts from an empty
    // name, so leading unnamed bits keep the index -1.
    QString remembered = from > 0 ? m_bits[from - 1]->name : QString();
    int counter = from > 0 ? m_bits[from - 1]->fieldIndex : -1;
    for (int i = from; i < size(); ++i) {
        if (m_bits[i]->name != remembered) {
            ++counter;
            remembered = m_bits[i]->name;
        }
        m_bits[i]->fieldIndex = counter;
    }
}

void Register::copyFrom(const Register &other)
{
    if (&other == this)
        return;
    const int n = other.size();
    if (n > 0 && n == size()) {
        bool sameLayout = true;
        for (int i = 0; i < n && sameLayout; ++i)
            sameLayout = m_bits[i]->name == other.m_bits[i]->name;
        if (sameLayout) {
            for (int i = 0; i < n; ++i)
                m_bits[i]->value = other.m_bits[i]->value;
            return;
        }
    }
    // A view cannot take bits of its own: it only borrows.
    if (size() != 0 || m_isView)
        return;
    m_bits.reserve(n);
    for (const RegisterBit *b : other.m_bits)
        m_bits.append(new RegisterBit(*b));
}

Register *Register::ensureView()
{
    if (!m_view) {
        m_view = new Register;
        m_view->m_isView = true;
        m_view->m_parent = m_isView ? m_parent : this;
    }
    m_view->m_name = m_name;
    return m_view;
}

QList<RegisterBit *> Register::bitsNamed(QStringView fieldName) const
{
    QList<RegisterBit *> named;
    for (RegisterBit *b : m_bits) {
        if (b->name == fieldName)
            named.append(b);
    }
    return named;
}

bool Register::writeRange(qint64 lo, qint64 hi, uint v)
{
    const qint64 first = qMax<qint64>(lo, 0);
    const qint64 last = qMin<qint64>(hi, size() - 1);
    if (first > last)
        return false;
    bool changed = false;
    for (qint64 i = first; i <= qMin(last, lo + 31); ++i) {
        const bool nv = (v >> (i - lo)) & 1u;
        changed |= m_bits[i]->value != nv;
        m_bits[i]->value = nv;
    }
    if (changed)
        announceSet();
    return true;
}

void Register::announceSet()
{
    Register *owner = m_isView && m_parent ? m_parent : this;
    emit owner->signal_updateSet(owner->m_name);
}

QString Register::formatPiece(const QString &templ, int lo, int hi, bool perField) const
{
    const RegisterBit *first = m_bits[lo];
    const int width = hi - lo + 1;
    quint32 fieldValue = 0;
    for (int k = 0; k < qMin(width, 32); ++k) {
        if (m_bits[lo + k]->value)
            fieldValue |= 1u << k;
    }

    QString piece = templ;
    if (perField) {
        piece.replace(QStringLiteral("@name"),
                      width > 1 ? QString(first->name + u'[' + QString::number(width) + u']') : first->name);
        piece.replace(QStringLiteral("@purename"), first->name);
    } else {
        piece.replace(QStringLiteral("@name"), first->name);
    }
    piece.replace(QStringLiteral("@value_hex"), QString::number(fieldValue, 16));
    piece.replace(QStringLiteral("@value"), QString::number(fieldValue));
    piece.replace(QStringLiteral("@group"), QString::number(first->fieldIndex));
    if (!perField)
        piece.replace(QStringLiteral("@bitn"), QString::number(lo));
    else if (width == 1)
        piece.replace(QStringLiteral("@bitn"), QString(QString::number(lo) + u' '));
    else
        piece.replace(QStringLiteral("@bitn"),
                      QString(QString::number(lo) + u':' + QString::number(hi) + u' '));
    piece.replace(QStringLiteral("@descr"), first->description);

    // Longer keys first, so that "@pin2" is not taken for "@pin" followed by "2".
    const auto substitute = [&piece](const QHash<QString, QString> &table) {
        QStringList keys = table.keys();
        std::sort(keys.begin(), keys.end(), std::greater<QString>());
        for (const QString &key : std::as_const(keys))
            piece.replace(QString(u'@' + key), table.value(key));
    };
    substitute(first->attributes);
    substitute(m_attributes);
    return piece;
}
