#include "app/apphost.h"

#include "app/dialogprogressbar.h"
#include "app/mainapp.h"
#include "app/mdiarea.h"
#include "applet/applet.h"
#include "applet/boardactions.h"
#include "link/controlboard.h"
#include "tools/logs.h"
#include "tools/measurements.h"

#include <QCheckBox>
#include <QMdiSubWindow>

bool AppHost::set(const QString &name, QVariant &value)
{
    return m_app->set(name, value);
}

bool AppHost::get(const QString &name, QVariant *result)
{
    return m_app->get(name, result);
}

bool AppHost::run(const QString &name, QVariant &value, QVariant *result)
{
    return m_app->run(name, value, result);
}

bool AppHost::isBoardReserved() const
{
    return m_app->isBoardReserved();
}

bool AppHost::isWaitingForBoard() const
{
    return m_app->isWaitingForBoard();
}

void AppHost::afterBoardWait(std::function<void()> serve)
{
    m_app->boardActions()->run(std::move(serve));
}

bool AppHost::isBoardConnected() const
{
    return m_app->isBoardConnected();
}

bool AppHost::isShutDown() const
{
    return m_app->isShutDown();
}

ControlBoard *AppHost::link() const
{
    return m_app->link();
}

bool AppHost::connectToBoard(const QString &port)
{
    return m_app->connectToBoard(port);
}

void AppHost::disconnectFromBoard()
{
    m_app->disconnectFromBoard();
}

void AppHost::setBaudRate(unsigned baudRate)
{
    m_app->setBaudRate(baudRate);
}

void AppHost::requestShutdown()
{
    m_app->requestShutdown();
}

const QList<Applet *> &AppHost::applets() const
{
    return m_app->applets();
}

Applet *AppHost::applet(const QString &name) const
{
    return m_app->findApplet(name, MainApp::ByObjectName);
}

Applet *AppHost::appletWithKey(int key) const
{
    return m_app->findApplet(key, MainApp::ByShortcutKey);
}

MainWindow *AppHost::mainWindow() const
{
    return m_app->mainWindow();
}

QWidget *AppHost::mainWidget() const
{
    return m_app->mainWindow();
}

PortView *AppHost::portView() const
{
    return m_app->mainWindow();
}

QWidget *AppHost::showLogWindow()
{
    m_app->showLogWindow();
    return m_app->logsApplet() ? m_app->logsApplet()->container() : nullptr;
}

QWidget *AppHost::showMeasurements()
{
    m_app->showMeasurements();
    MainWindow *window = m_app->mainWindow();
    return window ? window->toolSubWindow(m_app->measurements()) : nullptr;
}

QWidget *AppHost::showApplet(Applet *applet)
{
    applet->showWindow();
    if (auto *sub = qobject_cast<QMdiSubWindow *>(applet->container()))
        m_app->mainWindow()->mdiArea->setActiveSubWindow(sub);
    return applet->container();
}

QWidget *AppHost::progressDialog() const
{
    return m_app->progressDialog();
}

Measurements *AppHost::measurements() const
{
    return m_app->measurements();
}

void AppHost::openFirmwareWindow()
{
    m_app->openFirmwareWindow();
}

void AppHost::showAbout()
{
    m_app->showAbout();
}

bool AppHost::launchUpdater()
{
    return m_app->launchUpdater();
}

PortWatcher *AppHost::ports() const
{
    return m_app->ports();
}

WorkspaceController *AppHost::workspaces() const
{
    return m_app->workspaces();
}

WindowGrabber *AppHost::grabber() const
{
    return m_app->grabber();
}

ScriptRecorder *AppHost::recorder() const
{
    return m_app->recorder();
}

bool AppHost::toggleRecording(const QString &path)
{
    return m_app->toggleRecording(path);
}

Settings &AppHost::settings() const
{
    return m_app->settings();
}

QVariant AppHost::settingValue(const QString &key) const
{
    return m_app->settingValue(key);
}

void AppHost::setSettingValue(const QString &key, const QVariant &value)
{
    m_app->setSettingValue(key, value);
}

void AppHost::setCommunicationLogging(bool on)
{
    m_app->setCommunicationLogging(on);
}

void AppHost::setLogSwitch(bool on)
{
    // The switch shows the truth; toggled, it sets the logging itself.
    if (MainWindow *window = m_app->mainWindow())
        window->logCheck->setChecked(on);
    else
        m_app->setCommunicationLogging(on);
}

void AppHost::log(int level, const QString &text)
{
    emit m_app->signal_log(level, text);
}

QString AppHost::lastError() const
{
    return m_app->server() ? m_app->server()->lastError() : QString();
}
