#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDebug>
#include <QObject>

// Keeps the computer awake during a long test: asks the desktop session's
// screen saver not to blank (a cookie to hand back) and the login manager
// not to idle or suspend (a file descriptor to hold). Without a session bus
// it does nothing and says so in the diagnostics.
class KeepAwake : public QObject
{
    Q_OBJECT

public:
    // The user's session bus and the system bus.
    explicit KeepAwake(QObject *parent = nullptr);
    // Tests hand in buses of their own.
    KeepAwake(const QDBusConnection &sessionBus, const QDBusConnection &systemBus, QObject *parent = nullptr);
    ~KeepAwake() override;

    // Asks for whatever is not held yet; true when something is held.
    bool set();
    // Hands everything back; harmless when nothing is held.
    void clear();
    bool isOn() const { return m_on; }
    bool screenSaverInhibited() const { return m_haveCookie; }
    bool sleepInhibited() const { return m_sleepLock.isValid(); }

private:
    void inhibitScreenSaver();
    void inhibitSleep();
    void connectDefaultBuses();
    QDebug report() const;

    bool m_defaultBuses;
    QDBusConnection m_session;
    QDBusConnection m_system;
    bool m_on = false;
    bool m_quiet = false;
    bool m_haveCookie = false;
    uint m_cookie = 0;
    QDBusUnixFileDescriptor m_sleepLock;
};
