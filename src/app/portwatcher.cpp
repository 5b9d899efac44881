#include "app/portwatcher.h"

#include "app/portview.h"
#include "link/boarddiscovery.h"
#include "link/controlboard.h"
#include "link/hotplugmonitor.h"

#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcPorts, "hql.app.ports", QtInfoMsg)

namespace {

QString lookingText()
{
    return QStringLiteral("Looking for boards\u2026");
}

QString waitingText()
{
    return QStringLiteral("Waiting for the board\u2026");
}

const QString ReconnectKey = QStringLiteral("reconnect_automatically");

} // namespace

PortWatcher::PortWatcher(PortWatcherHost *host, QObject *parent)
    : QObject(parent), m_host(host), m_rescanTimer(new QTimer(this)), m_retryTimer(new QTimer(this))
{
    m_rescanTimer->setSingleShot(true);
    m_rescanTimer->setInterval(150);
    connect(m_rescanTimer, &QTimer::timeout, this, &PortWatcher::refresh);
    m_retryTimer->setInterval(1000);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (m_discovery && !m_discovery->isRunning())
            refresh();
    });
}

void PortWatcher::setDeviceEvents(DeviceEvents *events)
{
    delete m_deviceEvents;
    m_deviceEvents = events;
    if (events)
        events->setParent(this);
}

void PortWatcher::start()
{
    m_discovery = new BoardDiscovery;
    const QVariant directories = m_host->settingValue(QStringLiteral("port_directories"));
    if (directories.isValid())
        m_discovery->setDirectories(directories.toStringList());
    connect(m_discovery, &BoardDiscovery::signal_portsChanged, this, &PortWatcher::showPorts);
    connect(m_discovery, &BoardDiscovery::signal_finished, this, &PortWatcher::discoveryFinished);
    if (!m_deviceEvents)
        setDeviceEvents(new HotplugMonitor(m_discovery->directories()));
    connect(m_deviceEvents, &DeviceEvents::signal_added, this, &PortWatcher::deviceAdded);
    connect(m_deviceEvents, &DeviceEvents::signal_removed, this, &PortWatcher::deviceRemoved);
}

void PortWatcher::stop()
{
    stopWaiting();
    m_rescanTimer->stop();
    delete m_discovery;
    m_discovery = nullptr;
}

void PortWatcher::refresh()
{
    if (!m_discovery || !m_host->portView())
        return;
    m_discovery->start(m_extraPorts);
    showPorts();
    if (!m_host->isBoardConnected() && m_awaitedPort.isEmpty())
        setStatusText(lookingText());
}

void PortWatcher::showPorts()
{
    PortView *window = m_host->portView();
    if (!m_discovery || !window)
        return;
    window->setPorts(m_discovery->ports());
    if (m_host->isBoardConnected())
        window->showConnectedPort(m_host->link()->portName());
    else if (!m_awaitedPort.isEmpty() && m_discovery->state(m_awaitedPort) == BoardDiscovery::Board)
        QTimer::singleShot(0, this, &PortWatcher::tryReconnect);
}

bool PortWatcher::reconnectsAutomatically() const
{
    return m_host->settingValue(ReconnectKey).toBool();
}

void PortWatcher::setReconnectAutomatically(bool on)
{
    m_host->setSettingValue(ReconnectKey, on);
    if (!on)
        stopWaiting();
    if (PortView *window = m_host->portView())
        window->setReconnectChecked(on);
}

void PortWatcher::boardConnected()
{
    ControlBoard *board = m_host->link();
    if (!board)
        return;
    // The same board is looked for under its stable name, if it has one.
    m_connectedName = board->portName();
    if (const PortEntry *entry = m_discovery ? m_discovery->find(m_connectedName) : nullptr) {
        if (!entry->stableName.isEmpty())
            m_connectedName = entry->stableName;
    }
    m_connectedDevice = BoardDiscovery::deviceOf(m_connectedName);
}

void PortWatcher::boardLost(ControlBoard::Loss loss)
{
    ControlBoard *board = m_host->link();
    if (!board || board->mode() != ControlBoard::Serial || m_connectedName.isEmpty())
        return;
    const QString port = m_connectedName;
    const QString message = loss == ControlBoard::Loss::Unplugged
                                ? QStringLiteral("The board on %1 was unplugged.").arg(port)
                                : QStringLiteral("The board on %1 stopped answering.").arg(port);
    m_host->log(1, message);
    // Lost, not left: wait for the board to come back.
    if (reconnectsAutomatically())
        waitForBoard(port);
    else
        setStatusText(message);
}

void PortWatcher::boardRestarted()
{
    if (m_connectedName.isEmpty())
        return;
    waitForBoard(m_connectedName);
    // It answered ENQ already, or soon will: no need to wait for the next
    // round of the retry timer.
    refresh();
}

void PortWatcher::deviceAdded(const QString &name)
{
    qCDebug(lcPorts) << "device added:" << name;
    if (!m_host->isShutDown())
        m_rescanTimer->start();
}

void PortWatcher::deviceRemoved(const QString &name)
{
    qCDebug(lcPorts) << "device removed:" << name;
    if (!m_host->isShutDown())
        m_rescanTimer->start();
    if (!m_host->isBoardConnected() || m_host->link()->mode() != ControlBoard::Serial)
        return;
    // The port's name may be a link that went with the device.
    const QString device = BoardDiscovery::deviceOf(m_connectedName);
    if (name != m_connectedName && name != m_connectedDevice && device == m_connectedDevice)
        return;
    // Gone, not left: a disconnect due to errors, told and waited for as one.
    m_host->link()->boardUnplugged();
}

void PortWatcher::waitForBoard(const QString &port)
{
    m_awaitedPort = port;
    setStatusText(waitingText());
    m_retryTimer->start();
}

void PortWatcher::stopWaiting()
{
    m_retryTimer->stop();
    if (m_awaitedPort.isEmpty())
        return;
    m_awaitedPort.clear();
    PortView *window = m_host->portView();
    if (window && window->statusText() == waitingText())
        window->setStatusText(QString());
}

void PortWatcher::tryReconnect()
{
    if (m_awaitedPort.isEmpty() || m_host->isBoardConnected() || m_reconnecting || m_host->isShutDown())
        return;
    m_reconnecting = true;
    const QString port = m_awaitedPort;
    if (m_host->connectToBoard(port)) {
        m_awaitedPort.clear();
        m_retryTimer->stop();
        m_host->log(0, QStringLiteral("Connected again to %1.").arg(port));
    }
    m_reconnecting = false;
}

void PortWatcher::discoveryFinished()
{
    PortView *window = m_host->portView();
    if (window && window->statusText() == lookingText())
        window->setStatusText(QString());
}

void PortWatcher::setStatusText(const QString &text)
{
    if (PortView *window = m_host->portView())
        window->setStatusText(text);
}
