#include "app/scriptrecorder.h"

#include "util/regularfile.h"
#include "util/safefile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString pythonString(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\') + c;
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

bool isIdentifier(const QString &name)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return identifier.match(name).hasMatch();
}

} // namespace

ScriptRecorder::ScriptRecorder(QObject *parent) : QObject(parent)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    m_clock = [clock] { return clock->elapsed(); };
}

ScriptRecorder::~ScriptRecorder()
{
    stop();
}

bool ScriptRecorder::start(const QString &path, Target target, QString *error)
{
    stop();
    const QString opening = target == Target::Simulated ? QStringLiteral("hql3318.simulated()")
                                                        : QStringLiteral("hql3318.Client()");
    // The block is never empty, so the script runs even before any action.
    const QString header = QStringLiteral("#!/usr/bin/env python3\n"
                                          "# Recorded by hql3318 on %1.\n"
                                          "import time\n"
                                          "\n"
                                          "import hql3318\n"
                                          "\n"
                                          "with %2 as app:\n"
                                          "    pass\n")
                               .arg(QDateTime::currentDateTime().toString(Qt::ISODate), opening);
    // The old script stays until the new one's start is safely in its place;
    // from then on actions are appended to it.
    SafeFile script(path);
    QString reason;
    if (!script.open() || !script.write(header.toUtf8()) || !script.commit())
        reason = script.reason();
    else
        m_fd = RegularFile::open(path, O_WRONLY | O_APPEND, &reason);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("Cannot record to %1: %2").arg(path, reason);
        return false;
    }
    m_path = path;
    m_actions = 0;
    m_lastActionMs = -1;
    m_lastWrite.clear();
    emit signal_changed();
    return true;
}

void ScriptRecorder::stop()
{
    if (!isRecording())
        return;
    closeFile();
    emit signal_changed();
}

void ScriptRecorder::closeFile()
{
    ::close(m_fd);
    m_fd = -1;
}

QString ScriptRecorder::pythonValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return value.toString();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        // repr() of a float: always with a point, so it travels as a real.
        QString text = QString::number(number, 'g', 17);
        if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) &&
            !text.contains(QLatin1Char('n')))
            text += QStringLiteral(".0");
        return text;
    }
    case QMetaType::QByteArray: {
        QString out = QStringLiteral("bytes.fromhex(\"%1\")");
        return out.arg(QString::fromLatin1(value.toByteArray().toHex()));
    }
    default: return pythonString(value.toString());
    }
}

void ScriptRecorder::recordWrite(const QString &applet, const QString &path, const QVariant &value)
{
    if (!isRecording())
        return;
    // Windows that show the same variable all pass one change on; the
    // script needs it once.
    const QString write = path + QLatin1Char('=') + pythonValue(value);
    if (write == m_lastWrite)
        return;
    const QString target = isIdentifier(applet) ? QStringLiteral("app.%1").arg(applet)
                                                : QStringLiteral("app[%1]").arg(pythonString(applet));
    writeAction(QStringLiteral("%1[%2] = %3").arg(target, pythonString(path), pythonValue(value)));
    m_lastWrite = write;
}

void ScriptRecorder::recordRun(const QString &applet, const QString &function, const QVariant &argument)
{
    if (!isRecording())
        return;
    const bool hasArgument =
        argument.isValid() && !(argument.typeId() == QMetaType::QString && argument.toString().isEmpty());
    const QString args = hasArgument ? pythonValue(argument) : QString();
    m_lastWrite.clear();
    if (isIdentifier(applet) && isIdentifier(function))
        writeAction(QStringLiteral("app.%1.%2(%3)").arg(applet, function, args));
    else
        writeAction(QStringLiteral("app.run(%1%2)")
                        .arg(pythonString(applet + QLatin1Char('.') + function),
                             hasArgument ? QStringLiteral(", ") + args : QString()));
}

void ScriptRecorder::recordComment(const QString &text)
{
    if (!isRecording())
        return;
    QString oneLine = text;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    writeLines(QStringLiteral("    # %1\n").arg(oneLine).toUtf8());
}

void ScriptRecorder::writeAction(const QString &line)
{
    const qint64 now = m_clock();
    QString text;
    if (m_lastActionMs >= 0) {
        const qint64 pause = now - m_lastActionMs;
        if (pause > MinPauseMs)
            text += QStringLiteral("    time.sleep(%1)\n")
                        .arg(QString::number(double(qMin(pause, MaxPauseMs)) / 1000.0));
    }
    m_lastActionMs = now;
    text += QStringLiteral("    ") + line + QLatin1Char('\n');
    if (!writeLines(text.toUtf8()))
        return;
    ++m_actions;
    emit signal_changed();
}

bool ScriptRecorder::writeLines(const QByteArray &text)
{
    QString reason;
    if (RegularFile::append(m_fd, text, &reason))
        return true;
    closeFile();
    emit signal_changed();
    emit signal_failed(QStringLiteral("Recording to %1 stopped: %2").arg(m_path, reason));
    return false;
}
