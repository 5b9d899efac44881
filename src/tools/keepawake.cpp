#include "tools/keepawake.h"

#include "tools/toolslog.h"

#include <QDBusMessage>

namespace {

const QString ScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString ScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString LoginService = QStringLiteral("org.freedesktop.login1");
const QString LoginPath = QStringLiteral("/org/freedesktop/login1");
const QString LoginManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString Who = QStringLiteral("HQL3318");
const QString Why = QStringLiteral("Long test running");
// A missing or stuck service must not hold the window for the bus's
// default of 25 seconds.
constexpr int CallTimeoutMs = 2000;

QDBusMessage call(const QDBusConnection &bus, const QDBusMessage &message)
{
    return bus.call(message, QDBus::Block, CallTimeoutMs);
}

} // namespace

KeepAwake::KeepAwake(QObject *parent)
    : QObject(parent), m_defaultBuses(true), m_session(QString()), m_system(QString())
{
}

KeepAwake::KeepAwake(const QDBusConnection &sessionBus, const QDBusConnection &systemBus, QObject *parent)
    : QObject(parent), m_defaultBuses(false), m_session(sessionBus), m_system(systemBus)
{
}

KeepAwake::~KeepAwake()
{
    clear();
}

void KeepAwake::connectDefaultBuses()
{
    // Only a program that asks to stay awake talks to the buses at all.
    if (!m_defaultBuses)
        return;
    m_defaultBuses = false;
    m_session = QDBusConnection::sessionBus();
    if (m_session.isConnected())
        m_system = QDBusConnection::systemBus();
}

bool KeepAwake::set()
{
    connectDefaultBuses();
    // Renewals repeat every few minutes: only the first request reports.
    m_quiet = m_on;
    m_on = true;
    if (!m_session.isConnected()) {
        report() << "keep-awake: no session bus, the computer may still go to sleep:"
                 << m_session.lastError().message();
        return false;
    }
    if (!m_haveCookie)
        inhibitScreenSaver();
    if (!m_sleepLock.isValid())
        inhibitSleep();
    return m_haveCookie || m_sleepLock.isValid();
}

QDebug KeepAwake::report() const
{
    if (m_quiet)
        return QMessageLogger().debug(lcTools);
    return QMessageLogger().info(lcTools);
}

void KeepAwake::inhibitScreenSaver()
{
    QDBusMessage message = QDBusMessage::createMethodCall(ScreenSaverService, ScreenSaverPath,
                                                          ScreenSaverService, QStringLiteral("Inhibit"));
    message << Who << Why;
    const QDBusMessage reply = call(m_session, message);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        report() << "keep-awake: the screen saver cannot be held off:" << reply.errorMessage();
        return;
    }
    m_cookie = reply.arguments().first().toUInt();
    m_haveCookie = true;
    qCDebug(lcTools) << "keep-awake: screen saver held off, cookie" << m_cookie;
}

void KeepAwake::inhibitSleep()
{
    if (!m_system.isConnected()) {
        report() << "keep-awake: no system bus, sleep is not held off";
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(LoginService, LoginPath, LoginManager, QStringLiteral("Inhibit"));
    message << QStringLiteral("idle:sleep") << Who << Why << QStringLiteral("block");
    const QDBusMessage reply = call(m_system, message);
    const QDBusUnixFileDescriptor lock =
        reply.arguments().isEmpty() ? QDBusUnixFileDescriptor()
                                    : qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (reply.type() != QDBusMessage::ReplyMessage || !lock.isValid()) {
        report() << "keep-awake: sleep cannot be held off:" << reply.errorMessage();
        return;
    }
    m_sleepLock = lock;
    qCDebug(lcTools) << "keep-awake: idle and sleep held off";
}

void KeepAwake::clear()
{
    m_on = false;
    if (m_haveCookie) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            ScreenSaverService, ScreenSaverPath, ScreenSaverService, QStringLiteral("UnInhibit"));
        message << m_cookie;
        const QDBusMessage reply = call(m_session, message);
        if (reply.type() == QDBusMessage::ErrorMessage)
            qCInfo(lcTools) << "keep-awake: the screen saver refused the release:" << reply.errorMessage();
        m_haveCookie = false;
        m_cookie = 0;
    }
    // Closing the descriptor ends the login manager's inhibition.
    m_sleepLock = QDBusUnixFileDescriptor();
}
