#include "protocol/scriptprotocol.h"
#include "util/bytes.h"

#include <QDir>
#include <QFile>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ScriptProtocol {

QString fallbackDirectory()
{
    return QStringLiteral("/tmp/hql3318-%1").arg(::geteuid());
}

QString socketPath(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return name;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString dir = runtime.isEmpty() ? fallbackDirectory() : QString::fromLocal8Bit(runtime);
    return QDir(dir).filePath(name);
}

bool checkPlace(const QString &name, bool create, QString *error)
{
    if (name.startsWith(QLatin1Char('/')) || !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return true;
    return checkPrivateDirectory(fallbackDirectory(), create, error);
}

bool checkPrivateDirectory(const QString &dir, bool create, QString *error)
{
    const QByteArray path = QFile::encodeName(dir);
    if (create && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0) {
        *error = QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        *error =
            QStringLiteral("%1 is not a directory of this user; remove it or set XDG_RUNTIME_DIR").arg(dir);
        return false;
    }
    if ((st.st_mode & 0077) != 0) {
        *error = QStringLiteral("%1 is open to other users (mode %2); it must be 0700")
                     .arg(dir, QString::number(st.st_mode & 0777, 8));
        return false;
    }
    return true;
}

QList<QByteArray> requestLines(const QByteArray &request)
{
    QByteArray text = request;
    text.replace('\r', QByteArray());
    QList<QByteArray> lines;
    QByteArray last;
    for (const QByteArray &line : text.split('\n')) {
        if (line == last || line.trimmed().isEmpty())
            continue;
        lines.append(line);
        last = line;
    }
    return lines;
}

Call parseLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split('\t');
    Call call;
    if (fields.size() < 2)
        return call;
    const QByteArray &word = fields.at(0);
    call.name = textUpToNul(fields.at(1));
    if (word == "set" && fields.size() == 3) {
        call.kind = Call::Set;
        call.value = decode(fields.at(2));
    } else if (word == "get" && fields.size() == 2) {
        call.kind = Call::Get;
    } else if (word == "run") {
        call.kind = Call::Run;
        if (fields.size() == 3) {
            call.value = decode(fields.at(2));
        } else if (fields.size() > 3) {
            QVariantList list;
            for (qsizetype i = 2; i < fields.size(); ++i)
                list.append(decode(fields.at(i)));
            call.value = list;
        }
    }
    return call;
}

QString textUpToNul(const QByteArray &bytes)
{
    return QString::fromLatin1(upToNul(bytes));
}

QVariant decode(const QByteArray &field)
{
    if (field.isEmpty())
        return QVariant();
    const QByteArray rest = field.mid(1);
    switch (field.at(0)) {
    case 'i': return rest.toInt();
    case 'f': return rest.toDouble();
    case 's': return QString::fromLatin1(rest);
    case 'x': {
        QByteArray digits;
        digits.reserve(rest.size());
        for (char c : rest) {
            if (std::isxdigit(static_cast<unsigned char>(c)))
                digits += c;
        }
        return QByteArray::fromHex(digits);
    }
    default: return QVariant();
    }
}

QByteArray encode(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool() ? "i1" : "i0";
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return 'i' + value.toString().toLatin1();
    case QMetaType::Double: return 'f' + QByteArray::number(value.toDouble(), 'g', 15);
    case QMetaType::QString: return 's' + value.toString().toLatin1();
    case QMetaType::QByteArray: return 'x' + value.toByteArray().toHex();
    default: return QByteArray();
    }
}

} // namespace ScriptProtocol
