// Builds a variable from the first line of the input, then runs one write per
// further line: the first character picks the write (d setValue(double),
// i setValue(int), t setText, = assignment), the second the origin (f forced,
// u user, anything else a code of its own), the rest is the value (a number when
// it reads as one, else bits taken from a hash).
// The guard, range and notification rules are checked after each write.

#include "fuzzcheck.h"
#include "model/variable.h"

#include <QLoggingCategory>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

quint64 hashOf(QStringView text)
{
    quint64 h = 14695981039346656037ull;
    for (QChar c : text)
        h = (h ^ c.unicode()) * 1099511628211ull;
    return h;
}

double numberOf(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok)
        return v;
    // Any bit pattern: NaNs, infinities and subnormals included.
    const quint64 bits = hashOf(text);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool same(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

void runLine(Variable &var, const QString &line, int &announced)
{
    static const QString letters = QStringLiteral("dit=");
    const char16_t c = line.at(0).unicode();
    const qsizetype op = letters.contains(QChar(c)) ? letters.indexOf(QChar(c)) : c % letters.size();
    const QChar o = line.size() > 1 ? line.at(1) : QChar();
    const int origin = o == u'f' ? ORIGIN_FORCED : (o == u'u' ? ORIGIN_USER : int(hashOf(line)));
    const QString arg = line.mid(2);
    const double before = var.value();
    const QByteArray textBefore = var.text();
    const int typeBefore = var.type();
    const int announcedBefore = announced;

    switch (op) {
    case 0:
    case 1: {
        const bool asInt = op == 1;
        bool isInt = false;
        const int i = asInt ? arg.toInt(&isInt) : 0;
        const int iv = isInt ? i : int(hashOf(arg));
        const double v = asInt ? double(iv) : numberOf(arg);
        const bool ok = asInt ? var.setValue(iv, origin) : var.setValue(v, origin);
        const bool allowed = !(var.isReadOnly() && origin != ORIGIN_FORCED) && !std::isnan(v) &&
                             !(v < var.min()) && !(v > var.max());
        CHECK(ok == allowed);
        CHECK(ok ? same(var.value(), v) : same(var.value(), before));
        CHECK(announced - announcedBefore == (ok && !(before == v) ? 1 : 0));
        CHECK(typeBefore != Variable::Undefined ||
              var.type() == (asInt ? Variable::Integer : Variable::Real));
        break;
    }
    case 2: {
        const QByteArray bytes = arg.toUtf8();
        const bool ok = var.setText(bytes, origin);
        CHECK(ok == !(var.isReadOnly() && origin != ORIGIN_FORCED));
        CHECK(var.text() == (ok ? bytes : textBefore));
        CHECK(announced - announcedBefore == (ok && bytes != textBefore ? 1 : 0));
        CHECK(typeBefore != Variable::Undefined || var.type() == Variable::String);
        break;
    }
    default: {
        const double v = numberOf(arg);
        var = v;
        if (typeBefore == Variable::String)
            CHECK(same(var.value(), before) && announced == announcedBefore);
        else
            CHECK(same(var.value(), v) || same(var.value(), before));
        break;
    }
    }
    CHECK(var.type() >= Variable::Undefined && var.type() <= Variable::String);
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

    Variable var(lines.first());
    int announced = 0;
    QObject::connect(&var, &Variable::signal_updateSet, [&](const QString &name) {
        CHECK(name == var.name());
        ++announced;
    });
    QObject::connect(&var, &Variable::signal_updateGet, [&](const QString &) { CHECK(false); });

    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            runLine(var, lines[i], announced);
    }

    // The value-and-range constructor takes the value as given, unchecked.
    const quint64 h = hashOf(input);
    const Variable made(numberOf(lines.last()), lines.first(), input, double(qint32(h)),
                        double(qint32(h >> 32)));
    CHECK(made.type() == Variable::Real && made.name() == lines.first());
    return 0;
}
