#pragma once

#include "link/controlboard.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class BoardDiscovery;
class DeviceEvents;
class PortView;
class QTimer;

// What the port watcher needs of the application.
class PortWatcherHost
{
public:
    virtual ~PortWatcherHost() = default;
    virtual QVariant settingValue(const QString &key) const = 0;
    virtual void setSettingValue(const QString &key, const QVariant &value) = 0;
    // Null until the main window is made.
    virtual PortView *portView() const = 0;
    virtual ControlBoard *link() const = 0;
    virtual bool isBoardConnected() const = 0;
    virtual bool isShutDown() const = 0;
    virtual bool connectToBoard(const QString &port) = 0;
    virtual void log(int level, const QString &text) = 0;
};

// Keeps the port box current (boards looked for in the background, serial
// devices coming and going) and, when the user wants it, connects again to
// a board that was lost once it returns.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    PortWatcher(PortWatcherHost *host, QObject *parent);

    // Where serial devices coming and going are heard of; the watcher takes
    // it over. Without one, start() watches the system's.
    void setDeviceEvents(DeviceEvents *events);
    // Ports offered besides the ones found (given with --port); they are
    // checked for a board like the others.
    void setExtraPorts(const QStringList &ports) { m_extraPorts = ports; }
    void start();
    // Before the link goes: nothing is looked for or waited for any more.
    void stop();

    // Starts looking for boards; the port box fills as they answer.
    void refresh();
    BoardDiscovery *discovery() const { return m_discovery; }

    bool reconnectsAutomatically() const;
    void setReconnectAutomatically(bool on);
    // The port waited for, while the board is away.
    QString awaitedPort() const { return m_awaitedPort; }

    // The link connected: the board is known again by its stable name.
    void boardConnected();
    // The link lost the board without being asked to: says so and, when
    // the user wants it, waits for the board to come back.
    void boardLost(ControlBoard::Loss loss);
    // The firmware window restarted the board and it was disconnected:
    // connects again as soon as it answers.
    void boardRestarted();
    void stopWaiting();

private:
    void showPorts();
    void discoveryFinished();
    void deviceAdded(const QString &name);
    void deviceRemoved(const QString &name);
    void waitForBoard(const QString &port);
    void tryReconnect();
    void setStatusText(const QString &text);

    PortWatcherHost *m_host;
    BoardDiscovery *m_discovery = nullptr;
    DeviceEvents *m_deviceEvents = nullptr;
    QStringList m_extraPorts;
    // Device events come in bursts (the tty, then its links): one look
    // after they settle.
    QTimer *m_rescanTimer;
    // Looks again now and then while waiting for a board whose port stayed.
    QTimer *m_retryTimer;
    // The connected port as named and the device it led to.
    QString m_connectedName;
    QString m_connectedDevice;
    QString m_awaitedPort;
    bool m_reconnecting = false;
};
