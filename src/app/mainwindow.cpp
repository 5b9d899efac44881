#include "app/mainwindow.h"

#include "app/buildinfo.h"
#include "app/mdiarea.h"
#include "app/portbox.h"
#include "app/portwatcher.h"
#include "app/scriptrecorder.h"
#include "app/workspacecontroller.h"
#include "applet/applet.h"
#include "controls/myswitch.h"
#include "tools/keepawake.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextDocument>
#include <QVariant>

#include <algorithm>

using CustomControls::MySwitch;

namespace {

// Long names are cut in the middle: the device's maker and serial number at
// the end of a by-id name tell boards apart, its directory does not. The
// full text stays the widget's own; only the painting is shorter.
class ElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const QString full = text();
        const QRect area = contentsRect();
        if (Qt::mightBeRichText(full) || fontMetrics().horizontalAdvance(full) <= area.width()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(),
                              PortBox::elided(full, fontMetrics(), area.width()), foregroundRole());
    }
};

// Closing a tool window hides it, so its content survives until shown again.
class ToolSubWindow : public QMdiSubWindow
{
public:
    explicit ToolSubWindow(QAction *action) : m_action(action) {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        hide();
        m_action->setChecked(false);
    }

private:
    QAction *m_action;
};

// A window's entry in "&Windows": its title, which begins with its key,
// and the key again where menus show shortcuts. The text after the tab is
// only shown: a real shortcut for the key would make it ambiguous beside
// the application-wide filter, and ambiguous keys do nothing.
QString windowEntryText(const QString &title, int key)
{
    if (key < Qt::Key_0 || key > Qt::Key_9)
        return title;
    return title + QLatin1Char('\t') +
           QKeySequence(Qt::CTRL | Qt::Key(key)).toString(QKeySequence::NativeText);
}

} // namespace

MainWindow::MainWindow(MainWindowHost *host)
    : mdiArea(new MdiArea(this)), configMenu(new QMenu(QStringLiteral("&Config"), this)),
      windowsMenu(new QMenu(QStringLiteral("&Windows"), this)),
      serviceMenu(new QMenu(QStringLiteral("&Service"), this)), connectButton(new QPushButton(this)),
      portCombo(new PortBox(this)), rescanButton(new QPushButton(this)), speedCombo(new QComboBox(this)),
      statusLabel(new ElidedLabel(this)), connectionCaption(new QLabel(QStringLiteral("Connection"), this)),
      logCheck(new QCheckBox(QStringLiteral("Log"), this)),
      restoreButton(new QPushButton(QStringLiteral("Restore last"), this)), m_host(host),
      m_portBox(static_cast<PortBox *>(portCombo))
{
    setWindowTitle(titleText());
    setWindowIcon(QIcon(QStringLiteral(":/app/hql3318")));
    setCentralWidget(mdiArea);

    // Menus: the bar holds "&Service", "&Windows", "&Config" in that order.
    menuBar()->addMenu(serviceMenu);
    menuBar()->addMenu(windowsMenu);
    menuBar()->addMenu(configMenu);

    QAction *saveConfig =
        configMenu->addAction(QIcon(QStringLiteral(":/buttons/export")), QStringLiteral("&Save config"));
    QAction *loadConfig =
        configMenu->addAction(QIcon(QStringLiteral(":/buttons/import")), QStringLiteral("&Load config"));
    configMenu->addSeparator();
    // Files added to a workspace directory since the last look are listed too.
    connect(configMenu, &QMenu::aboutToShow, this, &MainWindow::rebuildConfigurationMenu);
    connect(saveConfig, &QAction::triggered, this, &MainWindow::slot_SaveConfig);
    connect(loadConfig, &QAction::triggered, this, &MainWindow::slot_LoadConfig);

    QAction *about = serviceMenu->addAction(QStringLiteral("About"));
    connect(about, &QAction::triggered, this, &MainWindow::slot_AboutApp);
    updateFirmwareAction = serviceMenu->addAction(QStringLiteral("Update Firmware"));
    connect(updateFirmwareAction, &QAction::triggered, this, &MainWindow::slot_UpdateFirmware);
    updateSoftwareAction = serviceMenu->addAction(QStringLiteral("Update Software"));
    connect(updateSoftwareAction, &QAction::triggered, this, &MainWindow::slot_UpdateBenchSoftware);
    keepAwakeAction = serviceMenu->addAction(QStringLiteral("Keep awake"));
    keepAwakeAction->setCheckable(true);
    keepAwakeAction->setStatusTip(
        QStringLiteral("Keep the computer from idling or sleeping during a long test"));
    connect(keepAwakeAction, &QAction::toggled, this, &MainWindow::slot_pbDontSleep);
    connect(&keepAwakeTimer, &QTimer::timeout, this, &MainWindow::slot_timeout);
    recordAction = serviceMenu->addAction(QStringLiteral("Record script\u2026"));
    recordAction->setCheckable(true);
    recordAction->setStatusTip(QStringLiteral("Record what you do in the device windows as a Python script"));
    connect(recordAction, &QAction::triggered, this, [this] {
        m_host->toggleRecording(QString());
        showRecording();
    });
    recordLabel = new QLabel(this);
    recordLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    recordLabel->hide();
    statusBar()->addPermanentWidget(recordLabel);
    connect(m_host->recorder(), &ScriptRecorder::signal_changed, this, &MainWindow::showRecording);
    reconnectAction = serviceMenu->addAction(QStringLiteral("Reconnect automatically"));
    reconnectAction->setCheckable(true);
    reconnectAction->setChecked(m_host->ports()->reconnectsAutomatically());
    reconnectAction->setStatusTip(QStringLiteral("Connect again when the board returns after it was lost"));
    connect(reconnectAction, &QAction::toggled, m_host->ports(), &PortWatcher::setReconnectAutomatically);
    serviceMenu->addSeparator();
    logWindowAction =
        serviceMenu->addAction(QIcon(QStringLiteral(":/buttons/log")), QStringLiteral("Log window"));
    logWindowAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    logWindowAction->setEnabled(false);

    m_arrangeSeparator = windowsMenu->addSeparator();
    cascadeAction = windowsMenu->addAction(QStringLiteral("&Cascade"));
    connect(cascadeAction, &QAction::triggered, mdiArea, &QMdiArea::cascadeSubWindows);
    tileAction = windowsMenu->addAction(QStringLiteral("&Tile"));
    connect(tileAction, &QAction::triggered, mdiArea, &MdiArea::tileSideBySide);

    QAction *closeAll = contextMenu.addAction(QStringLiteral("Close All"));
    connect(closeAll, &QAction::triggered, this, &MainWindow::slot_CloseAll);
    QAction *closeAllButActive = contextMenu.addAction(QStringLiteral("Close All But Active"));
    connect(closeAllButActive, &QAction::triggered, this, &MainWindow::slot_CloseAllButActive);

    // Status bar, left to right.
    connectButton->setCheckable(true);
    connectButton->setFixedSize(100, 20);
    connectButton->setText(QStringLiteral("Connect"));
    connect(connectButton, &QPushButton::clicked, this, &MainWindow::slot_pbConnectBoard_click);

    rescanButton->setIcon(QIcon(QStringLiteral(":/buttons/refresh")));
    rescanButton->setFixedSize(20, 20);
    rescanButton->setToolTip(QStringLiteral("Look for boards again"));
    connect(rescanButton, &QPushButton::clicked, this, &MainWindow::slot_Rescan);

    speedCombo->setFixedSize(100, 20);
    speedCombo->addItem(QStringLiteral("Normal"), 115200);
    connect(speedCombo, &QComboBox::currentIndexChanged, this, &MainWindow::slot_ChangeConenctionSpeed);

    statusLabel->setFixedWidth(250);

    connectionLamp = makeLamp();
    rxLamp = makeLamp();
    txLamp = makeLamp();

    connect(logCheck, &QCheckBox::toggled, this, &MainWindow::slot_cbLogComm_toggled);

    const QList<QWidget *> statusWidgets = {
        connectButton,  portCombo,
        rescanButton,   speedCombo,
        statusLabel,    connectionCaption,
        connectionLamp, new QLabel(QStringLiteral(" rx "), this),
        rxLamp,         new QLabel(QStringLiteral(" tx "), this),
        txLamp,         restoreButton,
        logCheck,
    };
    for (QWidget *w : statusWidgets)
        statusBar()->addWidget(w, 0);
    connect(restoreButton, &QPushButton::clicked, this, &MainWindow::slot_RestorePreviousWorkspace);

    connect(&lampTimer, &QTimer::timeout, this, &MainWindow::slot_supress_led);
    lampTimer.start(100);

    setConnectedState(Connection::Disconnected);
    rebuildConfigurationMenu();
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
}

QString MainWindow::titleText()
{
    return QStringLiteral("Velmora DemoBoard <<< %1 >> %2")
        .arg(QStringLiteral("HQL3318"), BuildInfo::date() + QLatin1Char(',') + BuildInfo::time());
}

MySwitch *MainWindow::makeLamp()
{
    auto *lamp = new MySwitch(this);
    lamp->setFixedSize(20, 20);
    lamp->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    lamp->setReadOnly(true);
    lamp->addState(QStringLiteral("1"), QStringLiteral(":/leds/img_led_gray"), 0);
    lamp->addState(QStringLiteral("2"), QStringLiteral(":/leds/img_led_green"), 1);
    lamp->addState(QStringLiteral("3"), QStringLiteral(":/leds/img_led_red"), 2);
    return lamp;
}

void MainWindow::addApplet(int menuChoice, Applet *applet, bool asSubWindow)
{
    if (!applet)
        return;
    if (asSubWindow) {
        applet->createContainer(Applet::ContainerMdi, mdiArea);
    } else {
        auto *dock = static_cast<QDockWidget *>(applet->createContainer(Applet::ContainerDock, this));
        addDockWidget(Qt::RightDockWidgetArea, dock);
    }
    if (asSubWindow && applet->shortcutKey())
        applet->windowAction()->setText(windowEntryText(applet->windowTitle(), applet->shortcutKey()));
    addWindowEntry(menuChoice == ServiceMenu ? serviceMenu : windowsMenu, applet->windowAction());
}

void MainWindow::addWindowEntry(QMenu *menu, QAction *action)
{
    if (menu == windowsMenu)
        menu->insertAction(m_arrangeSeparator, action);
    else
        menu->addAction(action);
}

void MainWindow::addToolWindow(QWidget *window, int key)
{
    if (!window || toolWindow(window))
        return;
    const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
    if (digit)
        window->setWindowTitle(QStringLiteral("(Ctrl+%1) ").arg(key - Qt::Key_0) + window->windowTitle());
    ToolWindow tool;
    tool.window = window;
    tool.key = digit ? key : 0;
    tool.action = new QAction(window->windowIcon(), windowEntryText(window->windowTitle(), tool.key), this);
    tool.action->setCheckable(true);
    tool.action->setObjectName(window->objectName() + QLatin1String("Action"));
    auto *sub = new ToolSubWindow(tool.action);
    tool.subWindow = sub;
    sub->setWidget(window);
    sub->setWindowIcon(window->windowIcon());
    sub->resize(window->sizeHint().expandedTo(QSize(720, 420)));
    mdiArea->addSubWindow(sub);
    sub->hide();
    connect(tool.action, &QAction::triggered, this, [this, window](bool checked) {
        if (checked) {
            showToolWindow(window);
        } else if (const ToolWindow *t = toolWindow(window)) {
            t->subWindow->hide();
        }
    });
    m_toolWindows.append(tool);
    addWindowEntry(windowsMenu, tool.action);
}

const MainWindow::ToolWindow *MainWindow::toolWindow(QWidget *window) const
{
    for (const ToolWindow &tool : m_toolWindows) {
        if (tool.window == window)
            return &tool;
    }
    return nullptr;
}

bool MainWindow::showToolWindow(QWidget *window)
{
    const ToolWindow *tool = toolWindow(window);
    if (!tool)
        return false;
    tool->subWindow->show();
    tool->action->setChecked(true);
    mdiArea->bringIntoView(tool->subWindow);
    mdiArea->setActiveSubWindow(tool->subWindow);
    return true;
}

QAction *MainWindow::toolWindowAction(QWidget *window) const
{
    const ToolWindow *tool = toolWindow(window);
    return tool ? tool->action : nullptr;
}

QMdiSubWindow *MainWindow::toolSubWindow(QWidget *window) const
{
    const ToolWindow *tool = toolWindow(window);
    return tool ? tool->subWindow : nullptr;
}

void MainWindow::setConnectedState(Connection state)
{
    const bool connected = state == Connection::Connected;
    connectButton->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    connectButton->setChecked(connected);
    windowsMenu->setEnabled(connected);
    portCombo->setEnabled(!connected);
    connectionLamp->setCurrentState(connected ? 1 : 0);
    rescanButton->setEnabled(!connected);
    updateFirmwareAction->setEnabled(connected);
}

void MainWindow::setPortList(const QStringList &ports)
{
    m_portBox->setPortList(ports, lastPort());
}

void MainWindow::setPorts(const QList<PortEntry> &ports)
{
    m_portBox->setPorts(ports, lastPort());
}

int MainWindow::findPort(const QString &name) const
{
    return m_portBox->findPort(name);
}

void MainWindow::showConnectedPort(const QString &port)
{
    m_portBox->showConnectedPort(port);
}

QString MainWindow::lastPort() const
{
    return m_host->settingValue(QStringLiteral("last_port")).toString();
}

void MainWindow::showRecording()
{
    const ScriptRecorder *recorder = m_host->recorder();
    recordAction->setChecked(recorder->isRecording());
    recordLabel->setVisible(recorder->isRecording());
    recordLabel->setText(QStringLiteral("REC %1").arg(recorder->actions()));
}

void MainWindow::addStatusWidget(QWidget *widget)
{
    statusBar()->addWidget(widget, 0);
}

int MainWindow::statusBarWidth() const
{
    const QStatusBar *bar = statusBar();
    const int spacing = bar->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
    int width = 0;
    for (const QWidget *w : bar->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow() || w->isHidden())
            continue;
        width += qMax(w->minimumWidth(), w->sizeHint().width()) + qMax(spacing, 6);
    }
    // The bar's margins and its size grip.
    return width + 2 * bar->style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
}

QSize MainWindow::roomySize() const
{
    QSize largest;
    for (const QMdiSubWindow *window : mdiArea->subWindowList())
        largest = largest.expandedTo(window->size());
    const int frame = 2 * mdiArea->frameWidth();
    const int chrome = menuBar()->sizeHint().height() + statusBar()->sizeHint().height() + frame;
    return QSize(std::max({1100, minimumSizeHint().width(), statusBarWidth(), largest.width() + frame}),
                 std::max(760, largest.height() + chrome));
}

QRect MainWindow::placement(const QSize &wanted, const QPoint &preferred, const QRect &available,
                            const QSize &frame)
{
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    const QSize size = wanted.boundedTo(room);
    const int x = std::clamp(preferred.x(), available.left(), available.left() + room.width() - size.width());
    const int y = std::clamp(preferred.y(), available.top(), available.top() + room.height() - size.height());
    return QRect(QPoint(x, y), size);
}

QWidget *MainWindow::activeApplet() const
{
    QMdiSubWindow *sub = mdiArea->activeSubWindow();
    return sub ? sub->widget() : nullptr;
}

QString MainWindow::selectedPort() const
{
    return portCombo->currentText();
}

unsigned MainWindow::selectedBaudRate() const
{
    return speedCombo->currentData().toUInt();
}

QString MainWindow::statusText() const
{
    return statusLabel->text();
}

void MainWindow::setStatusText(const QString &text)
{
    statusLabel->setText(text);
    // A long board name is cut at the label's fixed width.
    statusLabel->setToolTip(text);
}

void MainWindow::setReconnectChecked(bool on)
{
    if (reconnectAction->isChecked() != on)
        reconnectAction->setChecked(on);
}

void MainWindow::slot_ActivityRx_LED()
{
    rxLamp->setCurrentState(1);
}

void MainWindow::slot_ActivityTx_LED()
{
    txLamp->setCurrentState(1);
}

void MainWindow::slot_Connection_LED(bool on)
{
    connectionLamp->setCurrentState(on ? 1 : 0);
}

void MainWindow::slot_supress_led()
{
    // Alternate between the two lamps so each stays lit for up to two ticks.
    MySwitch *lamp = (m_lampTick++ % 2) ? rxLamp : txLamp;
    if (lamp->stateValue() != 0)
        lamp->setCurrentState(0);
}

void MainWindow::slot_pbConnectBoard_click()
{
    bool ok = false;
    if (connectButton->isChecked()) {
        const QString port = portCombo->currentText();
        ok = m_host->connectToBoard(port);
        if (ok)
            m_host->setSettingValue(QStringLiteral("last_port"), port);
    } else {
        m_host->disconnectFromBoard();
    }
    setConnectedState(ok ? Connection::Connected : Connection::Disconnected);
}

void MainWindow::slot_Rescan()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The port named stays named: a look for boards does not choose another.
    m_portBox->keepNamed();
    m_host->ports()->refresh();
    QApplication::restoreOverrideCursor();
}

void MainWindow::slot_ChangeConenctionSpeed()
{
    m_host->setBaudRate(selectedBaudRate());
}

void MainWindow::slot_cbLogComm_toggled(bool on)
{
    m_host->setCommunicationLogging(on);
}

void MainWindow::rebuildConfigurationMenu()
{
    qDeleteAll(configActions);
    configActions.clear();
    for (const QString &directory : m_host->workspaces()->directories()) {
        const QDir dir(directory);
        const QStringList files = dir.entryList({QStringLiteral("*.bench")}, QDir::Files);
        for (const QString &file : files) {
            QString text = file;
            text.remove(QLatin1String(".bench"));
            // An '&' in a file name is shown, not taken as a mnemonic.
            auto *action =
                new QAction(QString(text).replace(QLatin1Char('&'), QLatin1String("&&")), configMenu);
            action->setToolTip(directory);
            action->setStatusTip(QStringLiteral("Configuration file %1 located %2").arg(file, directory));
            // The entry loads the file it was made from, whatever its name.
            action->setData(dir.filePath(file));
            connect(action, &QAction::triggered, this, &MainWindow::slot_LoadConfigName);
            configMenu->addAction(action);
            configActions.append(action);
        }
    }
}

void MainWindow::slot_SaveConfig()
{
    m_host->workspaces()->save();
    rebuildConfigurationMenu();
}

void MainWindow::slot_LoadConfig()
{
    m_host->workspaces()->load(QString());
}

void MainWindow::slot_LoadConfigName()
{
    if (auto *action = qobject_cast<QAction *>(sender()))
        m_host->workspaces()->load(action->data().toString());
}

void MainWindow::slot_RestorePreviousWorkspace()
{
    m_host->workspaces()->restoreWindowState();
}

void MainWindow::slot_AboutApp()
{
    m_host->showAbout();
}

void MainWindow::slot_UpdateBenchSoftware()
{
    m_host->launchUpdater();
}

KeepAwake *MainWindow::keepAwake()
{
    if (!m_keepAwake)
        m_keepAwake = new KeepAwake(this);
    return m_keepAwake;
}

void MainWindow::setKeepAwakeService(KeepAwake *service)
{
    if (m_keepAwake == service)
        return;
    delete m_keepAwake;
    m_keepAwake = service;
    if (service)
        service->setParent(this);
}

void MainWindow::setKeepAwake(bool on)
{
    if (on) {
        keepAwakeTimer.start(200000);
        keepAwake()->set();
    } else {
        keepAwakeTimer.stop();
        // Nothing to hand back from a service that was never made.
        if (m_keepAwake)
            m_keepAwake->clear();
    }
}

void MainWindow::slot_pbDontSleep(bool on)
{
    setKeepAwake(on);
    // Called directly, the menu entry still shows the truth.
    const QSignalBlocker blocker(keepAwakeAction);
    keepAwakeAction->setChecked(on);
}

void MainWindow::slot_timeout()
{
    if (m_keepAwake)
        m_keepAwake->set();
}

void MainWindow::slot_UpdateFirmware()
{
    m_host->openFirmwareWindow();
}

void MainWindow::slot_CloseAll()
{
    for (Applet *applet : m_host->applets()) {
        if (applet)
            applet->hideWindow();
    }
    for (const ToolWindow &tool : std::as_const(m_toolWindows))
        tool.subWindow->close();
}

void MainWindow::slot_CloseAllButActive()
{
    QWidget *active = activeApplet();
    for (Applet *applet : m_host->applets()) {
        if (applet && applet != active)
            applet->hideWindow();
    }
    for (const ToolWindow &tool : std::as_const(m_toolWindows)) {
        if (tool.window != active)
            tool.subWindow->close();
    }
}

void MainWindow::handleWindowShortcut(int key)
{
    // The plot keeps its readings after a disconnect: it opens without a board.
    for (const ToolWindow &tool : std::as_const(m_toolWindows)) {
        if (tool.key == key) {
            showToolWindow(tool.window);
            return;
        }
    }
    if (m_host->isBoardConnected()) {
        Applet *applet = m_host->appletWithKey(key);
        if (!applet)
            return;
        applet->showWindow();
        if (auto *sub = qobject_cast<QMdiSubWindow *>(applet->container())) {
            // Shown already, it may lie where the area no longer reaches.
            mdiArea->bringIntoView(sub);
            mdiArea->setActiveSubWindow(sub);
        }
        return;
    }
    // One box at a time, however often the key comes while it is open.
    if (m_connectBoxOpen)
        return;
    m_connectBoxOpen = true;
    const QPointer<MainWindow> self(this);
    QMessageBox::information(nullptr, QString(), QStringLiteral("Connect board before window open."),
                             QMessageBox::Ok);
    if (self)
        m_connectBoxOpen = false;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->modifiers() & Qt::ControlModifier) && key->key() >= Qt::Key_0 && key->key() <= Qt::Key_9 &&
            !key->isAutoRepeat() && (key != m_lastShortcutEvent || key->timestamp() != m_lastShortcutTime)) {
            m_lastShortcutEvent = key;
            m_lastShortcutTime = key->timestamp();
            // Acted on once the key press has been delivered: a box's modal
            // loop inside the delivery would see the key's release and the
            // same press again on its way to the parent widgets.
            const int code = key->key();
            QMetaObject::invokeMethod(
                this,
                [this, code] {
                    m_lastShortcutEvent = nullptr;
                    handleWindowShortcut(code);
                },
                Qt::QueuedConnection);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    slot_pbDontSleep(false);
    m_host->disconnectFromBoard();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::contextMenuEvent(QContextMenuEvent *event)
{
    contextMenu.popup(event->globalPos());
}
