// Builds a register from the first line of the input, then runs one operation
// per further line: the line's first character picks it (g get, s set, i
// fieldInfo, f format, v select, r range, b fromBitString, l fill, c copy,
// n invert, w whole-register write, x range write, z clear), the rest is its text
// (a reference, a template, a selection, a bit string or a description), and a
// hash of the line supplies the numbers. Invariants that must hold for any
// input are checked after each step.

#include "fuzzcheck.h"
#include "model/fieldtext.h"
#include "model/register.h"

#include <QLoggingCategory>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

quint32 hashOf(QStringView text)
{
    quint32 h = 2166136261u;
    for (QChar c : text)
        h = (h ^ c.unicode()) * 16777619u;
    return h;
}

QByteArray snapshot(const Register &reg)
{
    QByteArray bits(reg.size(), '0');
    for (int i = 0; i < reg.size(); ++i) {
        if (reg.bit(i))
            bits[i] = '1';
    }
    return bits;
}

// The bits that the layout rules fix: names, field numbering, ownership.
void checkLayout(const Register &reg)
{
    CHECK(reg.size() >= 0 && reg.size() <= Register::MaxSize);
    for (int i = 1; i < reg.size(); ++i) {
        const RegisterBit *prev = reg.bitAt(i - 1);
        const RegisterBit *cur = reg.bitAt(i);
        CHECK(cur && prev && cur != prev);
        CHECK(cur->fieldIndex == prev->fieldIndex + (cur->name == prev->name ? 0 : 1));
    }
    CHECK(!reg.bitAt(reg.size()));
}

// What a reference write must leave readable through the same reference.
quint32 expectedReadBack(Register &reg, const QString &ref, quint32 v)
{
    const FieldSpec spec(ref);
    if (spec.symbolic) {
        int named = 0;
        for (int i = 0; i < reg.size(); ++i)
            named += reg.bitAt(i)->name == spec.first;
        return named >= 32 ? v : v & ((1u << named) - 1u);
    }
    quint32 expected = 0;
    const qint64 last = std::min<qint64>({spec.hi, reg.size() - 1, qint64(spec.lo) + 31});
    for (qint64 i = std::max<qint64>(spec.lo, 0); i <= last; ++i)
        expected |= v & (1u << (i - spec.lo));
    return expected;
}

struct Announcements
{
    int sets = 0;
    int gets = 0;
};

void runLine(Register &reg, const QString &line, Announcements &seen)
{
    const QString arg = line.mid(1);
    const quint32 h = hashOf(line);
    const QByteArray before = snapshot(reg);
    const int setsBefore = seen.sets;
    // Writes that announce only a change.
    auto checkChangeAnnounced = [&] { CHECK(seen.sets - setsBefore == (snapshot(reg) != before ? 1 : 0)); };

    // Seeds use the letters; any other character picks an operation as well.
    static const QString letters = QStringLiteral("gsifvrblcnwxz");
    const char16_t c = line.at(0).unicode();
    const qsizetype op = letters.contains(QChar(c)) ? letters.indexOf(QChar(c)) : c % letters.size();
    switch (op) {
    case 0: {
        const int getsBefore = seen.gets;
        reg.get(arg);
        CHECK(seen.gets == getsBefore);
        break;
    }
    case 1: {
        if (reg.set(arg, h)) {
            checkChangeAnnounced();
            CHECK(reg.get(arg) == expectedReadBack(reg, arg, h));
        } else {
            CHECK(snapshot(reg) == before && seen.sets == setsBefore);
        }
        break;
    }
    case 2: {
        QString name = QStringLiteral("-");
        QString description = QStringLiteral("-");
        if (!reg.fieldInfo(arg, name, description))
            CHECK(name == QStringLiteral("-") && description == QStringLiteral("-"));
        break;
    }
    case 3: reg.format(arg, h & 1u); break;
    case 4: {
        const Register *view = reg.select(arg);
        QSet<const RegisterBit *> owned;
        for (int i = 0; i < reg.size(); ++i)
            owned.insert(reg.bitAt(i));
        for (int k = 0; k < view->size(); ++k)
            CHECK(owned.contains(view->bitAt(k)));
        break;
    }
    case 5: {
        Register *view = reg.range(int(h % 64) - 8, int((h >> 8) % 80) - 8);
        view->set(h >> 3, h & 4u);
        checkChangeAnnounced();
        break;
    }
    case 6: {
        reg.fromBitString(arg.toLatin1(), h & 1u);
        CHECK(seen.sets == setsBefore);
        const QByteArray bits = reg.toBitString(true);
        CHECK(bits.size() == reg.size());
        QByteArray reversed = bits;
        std::reverse(reversed.begin(), reversed.end());
        CHECK(reg.toBitString(false) == reversed);
        break;
    }
    case 7:
        reg.fill(h & 1u, int(h >> 1) % 64 - 2, int(h >> 9) % 64 - 2);
        CHECK(seen.sets == setsBefore + 1);
        break;
    case 8: {
        Register other(arg, QStringLiteral("O"));
        checkLayout(other);
        const bool wasEmpty = reg.size() == 0;
        other = reg;
        reg = other;
        // An empty register takes the other's whole layout; any other keeps its own.
        CHECK(snapshot(reg) == (wasEmpty ? snapshot(other) : before));
        const QByteArray copied = snapshot(reg);
        const Register copy(reg);
        CHECK(snapshot(copy) == copied && copy.name().isEmpty());
        checkLayout(copy);
        break;
    }
    case 9: {
        const Register inverted = ~reg;
        CHECK(snapshot(reg) == before && seen.sets == setsBefore + 1);
        const QByteArray flipped = snapshot(inverted);
        for (int i = 0; i < reg.size(); ++i)
            CHECK(flipped[i] != before[i]);
        break;
    }
    case 10: {
        const bool lsbFirst = h & 1u;
        reg.set(h, lsbFirst);
        checkChangeAnnounced();
        const quint32 mask = reg.size() >= 32 ? ~0u : (1u << reg.size()) - 1u;
        CHECK(reg.value(lsbFirst) == (h & mask));
        break;
    }
    case 11: {
        const uint lo = h % 48;
        const uint hi = (h >> 6) % 48;
        if (reg.set(lo, hi, h >> 12)) {
            CHECK(std::min(lo, hi) < uint(reg.size()));
            checkChangeAnnounced();
        } else {
            CHECK(snapshot(reg) == before && std::min(lo, hi) >= uint(reg.size()));
        }
        const QByteArray bytes = reg.toBytes(h & 1u, h & 2u);
        CHECK(bytes.size() == (reg.size() + 7) / 8);
        break;
    }
    default:
        reg.clear();
        CHECK(reg.size() == 0);
        break;
    }
    checkLayout(reg);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("hql.model.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList lines = input.split(u'\n');

    Register reg(lines.first(), QStringLiteral("R"));
    Announcements seen;
    QObject::connect(&reg, &Register::signal_updateSet, [&](const QString &name) {
        CHECK(name == reg.name());
        ++seen.sets;
    });
    QObject::connect(&reg, &Register::signal_updateGet, [&](const QString &name) {
        CHECK(name == reg.name());
        ++seen.gets;
    });
    checkLayout(reg);

    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            runLine(reg, lines[i], seen);
    }
    return 0;
}
