#include "app/mainapp.h"

#include "app/appcontext.h"
#include "app/apphost.h"
#include "app/buildinfo.h"
#include "app/dialogprogressbar.h"
#include "app/localserver.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "app/modalboxdiverter.h"
#include "app/portwatcher.h"
#include "app/scriptingfacade.h"
#include "app/scriptrecorder.h"
#include "app/settings.h"
#include "app/updaterlauncher.h"
#include "app/windowgrabber.h"
#include "app/windowstatefile.h"
#include "app/workspacecontroller.h"
#include "app/workspacefile.h"
#include "applet/applet.h"
#include "applet/applethelper.h"
#include "applets/basic.h"
#include "applets/board.h"
#include "applets/chipid.h"
#include "applets/hbcontroller.h"
#include "applets/spicontroller.h"
#include "applets/spiraw.h"
#include "applets/watchdog.h"
#include "chip/registermap.h"
#include "controls/dialogcheckboxes.h"
#include "controls/noticebox.h"
#include "controls/universalcontrol.h"
#include "link/boarddiscovery.h"
#include "link/controlboard.h"
#include "model/registerexport.h"
#include "model/variable.h"
#include "tools/bootloader.h"
#include "tools/logs.h"
#include "tools/measurements.h"
#include "util/bytes.h"
#include "util/safefile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLoggingCategory>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcApp, "hql.app", QtInfoMsg)

namespace {
MainApp *s_instance = nullptr;

} // namespace

MainApp *MainApp::instance()
{
    if (!s_instance)
        s_instance = new MainApp;
    return s_instance;
}

void MainApp::destroyInstance()
{
    delete s_instance;
    s_instance = nullptr;
}

MainApp::MainApp()
    : m_progressDialog(new DialogProgressBar), m_registers(std::make_unique<RegisterMap>()),
      m_settingsPath(Settings::defaultFilePath()), m_appletFactory(&MainApp::createDeviceApplets),
      m_host(std::make_unique<AppHost>(this)), m_context(std::make_unique<AppContext>(this)),
      m_facade(new ScriptingFacade(m_host.get(), this)),
      m_workspaces(std::make_unique<WorkspaceController>(m_host.get())),
      m_grabber(std::make_unique<WindowGrabber>(m_host.get())),
      m_recorder(std::make_unique<ScriptRecorder>()), m_ports(new PortWatcher(m_host.get(), this))
{
    connect(m_facade, &ScriptingFacade::signal_log, this, &MainApp::signal_log);
    connect(m_recorder.get(), &ScriptRecorder::signal_failed, this,
            [this](const QString &error) { emit signal_log(-1, error); });
}

MainApp::~MainApp()
{
    delete m_progressDialog;
    qDeleteAll(appletList);
    m_ports->stop();
    delete m_link;
    CustomControls::UniversalControl::setActiveAppletProvider(nullptr);
    // The log window lives in a dock of the main window and goes with it.
    delete m_mainWindow;
    // Placed in the main window it went with it; otherwise it goes here.
    delete m_measurements;
}

QList<Applet *> MainApp::createDeviceApplets()
{
    return {new Basic, new Board, new HBController, new SpiController, new SpiRaw, new WatchDog, new ChipID};
}

void MainApp::setAppletFactory(AppletFactory factory)
{
    m_appletFactory = std::move(factory);
}

bool MainApp::initialise()
{
    if (m_headless && !m_boxDiverter)
        m_boxDiverter = new ModalBoxDiverter(this);
    DialogProgressBar *progress = m_progressDialog;
    if (!m_headless)
        progress->show();
    progress->setProgress(0, 100);
    progress->setStepText(QStringLiteral("Initializing ..."));
    progress->setProgress(10, 100);

    // Without the scripting socket the program does not start.
    if (!m_server) {
        m_server = new LocalServer(m_host.get(), this);
        if (!m_server->start(m_serverName, m_askOnConflict)) {
            qCWarning(lcApp) << "the scripting socket could not start:" << m_server->errorText();
            delete m_server;
            m_server = nullptr;
            return false;
        }
        connect(this, &MainApp::signal_shutDown, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }

    m_mainWindow = new MainWindow(m_host.get());
    // Script snippets dragged from a control name the active device window.
    const QPointer<MainWindow> mainWindow(m_mainWindow);
    CustomControls::UniversalControl::setActiveAppletProvider(
        [mainWindow]() -> QWidget * { return mainWindow ? mainWindow->activeApplet() : nullptr; });
    // Integer division as given; the window is kept below the screen's top
    // edge so its title bar stays reachable on small screens.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const int y = (screen->geometry().height() - 1) / 2 - m_mainWindow->height();
        m_mainWindow->move(200, qMax(y, screen->availableGeometry().top()));
    }

    // The log window comes first: every applet reports to it from its own
    // initialisation on. It lives in a dock of the main window, hidden.
    m_logs = new Logs;
    m_logs->createContainer(Applet::ContainerDock, m_mainWindow);
    m_mainWindow->addDockWidget(Qt::BottomDockWidgetArea, qobject_cast<QDockWidget *>(m_logs->container()));
    MainWindow *window = m_mainWindow;
    m_logs->setStatusHost([window](QWidget *widget) { window->addStatusWidget(widget); });
    m_logs->setContext(m_context.get());

    appletList = m_appletFactory();
    for (Applet *applet : std::as_const(appletList)) {
        if (!applet)
            continue;
        applet->setContext(m_context.get());
        ScriptRecorder *recorder = m_recorder.get();
        connect(applet, &Applet::signal_userWrite, recorder,
                [recorder, applet](const QString &path, const QVariant &value) {
                    recorder->recordWrite(applet->objectName(), path, value);
                });
        connect(applet, &Applet::signal_userRun, recorder,
                [recorder, applet](const QString &function, const QVariant &argument) {
                    recorder->recordRun(applet->objectName(), function, argument);
                });
    }
    m_logs->initialize();
    progress->setProgress(20, 100);

    bool ok = true;
    int key = Qt::Key_0;
    for (int i = 0; i < appletList.size(); ++i) {
        Applet *applet = appletList.at(i);
        if (applet) {
            // One applet failing with an exception must not stop the others.
            try {
                progress->setStepText(applet->objectName());
                ok = applet->initialize();
                if (applet->containerMode() == Applet::ContainerMdi) {
                    applet->setShortcutKey(key);
                    applet->setWindowTitle(QStringLiteral("(Ctrl+%1) ").arg(key - Qt::Key_0) +
                                           applet->windowTitle());
                    ++key;
                }
                if (!ok)
                    break;
            } catch (...) {
                qCWarning(lcApp) << "initialisation of" << applet->objectName() << "failed with an exception";
            }
        } else {
            // An empty place keeps its shortcut for the window that will fill it.
            ++key;
        }
        progress->setProgress(progress->progress() + i, 100);
    }

    // The plot takes the next free window key after the device applets.
    m_measurements = new Measurements;
    m_measurementsKey = key;
    if (auto *boardApplet = qobject_cast<Board *>(findApplet(QStringLiteral("Board"), ByObjectName)))
        connect(boardApplet, &Board::signal_measured, m_measurements.data(), &Measurements::slot_addSample);

    connect(this, &MainApp::signal_log, m_logs, &Logs::slot_addLog);
    connect(m_server, &LocalServer::signal_log, m_logs, &Logs::slot_addLog);
    connect(m_logs, &Logs::signal_errorAdded, m_server, &LocalServer::slot_errorLogged);
    if (!settings().readError().isEmpty())
        emit signal_log(-1, settings().readError());

    m_link = new ControlBoard;
    // The windows stay live while the board answers.
    BoardActions *actions = m_context->actions();
    m_link->setLiveWait([actions](bool entering) { entering ? actions->enterWait() : actions->leaveWait(); });
    m_ports->start();
    m_link->setPythonPath(settingValue(QStringLiteral("python_path")).toString());
    m_link->setScriptPathProvider([this] {
        // Nobody could answer a file dialog without a screen, and a script
        // must not wait for a person to answer one.
        if (m_headless) {
            emit signal_log(-1, QStringLiteral("Error RUN:open: \"script\" asks for a file, which needs a "
                                               "window; use \"script:PATH\" instead"));
            return QString();
        }
        if (m_server && m_server->isServing()) {
            emit signal_log(-1, QStringLiteral("Error RUN:open: \"script\" asks a person for a file; a "
                                               "script gives it as \"script:PATH\""));
            return QString();
        }
        return QFileDialog::getOpenFileName(nullptr, QStringLiteral("Script path"), QString(),
                                            QStringLiteral("Files (*.py)"));
    });
    // Control refreshes held back during a function run fire their slots now,
    // so commands those slots send keep their place on the wire.
    connect(
        m_link, &ControlBoard::signal_aboutToSend, this, [this] { m_context->refreshes().flush(); },
        Qt::DirectConnection);
    connect(m_link, &ControlBoard::signal_tx, m_mainWindow, &MainWindow::slot_ActivityTx_LED);
    connect(m_link, &ControlBoard::signal_rx, m_mainWindow, &MainWindow::slot_ActivityRx_LED);
    connect(m_link, &ControlBoard::signal_disconnected, this, &MainApp::slot_disconnected);
    connect(m_link, &ControlBoard::signal_connected, this, &MainApp::slot_connected);
    connect(m_link, &ControlBoard::signal_notice, this, &MainApp::slot_notice);
    LocalServer *server = m_server;
    connect(m_link, &ControlBoard::signal_unreserved, server, [server] { server->resume(); });
    connect(m_link, &ControlBoard::signal_log, m_logs, &Logs::slot_addLog);
    m_logs->setBoard(m_link);
    m_mainWindow->logWindowAction->setEnabled(true);
    connect(m_mainWindow->logWindowAction, &QAction::triggered, this, &MainApp::showLogWindow);

    return ok;
}

void MainApp::startMainWindow()
{
    DialogProgressBar *progress = m_progressDialog;
    progress->setStepText(QStringLiteral("Starting mainwindow"));
    progress->setProgress(90, 100);
    for (int i = 0; i < appletList.size(); ++i) {
        progress->setProgress(progress->progress() + i, 100);
        m_mainWindow->addApplet(MainWindow::WindowsMenu, appletList.at(i), true);
    }
    m_mainWindow->addToolWindow(m_measurements, m_measurementsKey);
    progress->setStepText(QStringLiteral("Initializing channel connection..."));
    m_ports->refresh();
    progress->hide();
    progress->deleteLater();
    m_progressDialog = nullptr;
    // Room for the whole status bar and the largest device window, kept whole
    // on the screen with some room for the window manager's frame.
    const QSize roomy = m_mainWindow->roomySize();
    if (QScreen *screen = m_mainWindow->screen()) {
        const QRect place =
            MainWindow::placement(roomy, m_mainWindow->pos(), screen->availableGeometry(), QSize(16, 40));
        m_mainWindow->resize(place.size());
        m_mainWindow->move(place.topLeft());
    } else {
        m_mainWindow->resize(roomy);
    }
    if (m_headless) {
        // Errors reach the daily log file instead of a screen.
        m_logs->saveLogCheck->setChecked(true);
        return;
    }
    m_mainWindow->show();
    // For the start-up benchmark.
    qCDebug(lcApp) << "main window shown";
}

namespace {

constexpr int OriginScripting = int(0xFF004321u);

} // namespace

bool MainApp::set(const QString &name, QVariant &value)
{
    return m_facade->set(name, value);
}

bool MainApp::get(const QString &name, QVariant *result)
{
    return m_facade->get(name, result);
}

bool MainApp::run(const QString &name, QVariant &value, QVariant *result)
{
    return m_facade->run(name, value, result);
}

void MainApp::requestShutdown()
{
    m_shutDown = true;
    emit signal_shutDown();
}

void MainApp::shutdown()
{
    m_ports->stop();
    disconnectFromBoard();
    qDeleteAll(appletList);
    appletList.clear();
    // A second shutdown (or a late request) finds nothing to touch.
    if (m_logs)
        m_logs->setBoard(nullptr);
    delete m_link;
    m_link = nullptr;
}

bool MainApp::connectToBoard(const QString &port)
{
    if (!m_link || m_shutDown)
        return false;
    // Connecting while connected starts afresh, as Disconnect and Connect
    // would: the windows are retired and set up again.
    if (isBoardConnected())
        disconnectFromBoard();
    // A probe still holding the port would make the open fail.
    if (BoardDiscovery *discovery = m_ports->discovery())
        discovery->cancelProbe(port);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The mock-up's notice box runs the event loop inside the connect.
    m_ownDisconnect = true;
    const bool ok = m_link->connectBoard(port);
    m_ownDisconnect = false;
    // The chosen speed is recorded even when the connect failed.
    if (m_link && m_mainWindow)
        m_link->setBaudRate(int(m_mainWindow->selectedBaudRate()));
    // Why it failed stays in sight; the log has it too.
    if (!ok && m_link && m_mainWindow)
        m_mainWindow->setStatusText(m_link->connectError());
    QApplication::restoreOverrideCursor();
    return ok;
}

void MainApp::disconnectFromBoard()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The windows are still where the user left them.
    if (isBoardConnected())
        m_workspaces->saveWindowState();
    disableApplets();
    // Asked for: nothing to wait for.
    m_ports->stopWaiting();
    m_ownDisconnect = true;
    if (m_link)
        m_link->disconnectBoard(ControlBoard::ByUser);
    m_ownDisconnect = false;
    QApplication::restoreOverrideCursor();
}

bool MainApp::isBoardConnected() const
{
    return m_link && m_link->isConnected();
}

bool MainApp::isWaitingForBoard() const
{
    return m_context->actions()->isWaiting();
}

BoardActions *MainApp::boardActions() const
{
    return m_context->actions();
}

bool MainApp::isBoardReserved() const
{
    return m_link && m_link->isReserved();
}

void MainApp::setBaudRate(unsigned baudRate)
{
    if (m_link)
        m_link->setBaudRate(int(baudRate));
}

Applet *MainApp::findApplet(const QVariant &key, FindMode mode) const
{
    for (Applet *applet : appletList) {
        if (!applet)
            continue;
        if (mode == ByObjectName && applet->objectName() == key.toString())
            return applet;
        if (mode == ByShortcutKey && applet->shortcutKey() == key.toInt())
            return applet;
    }
    return nullptr;
}

void MainApp::enableApplets()
{
    // Each applet configures its part of the board as it comes online.
    for (Applet *applet : appletList) {
        if (applet)
            applet->activate();
    }
}

void MainApp::disableApplets()
{
    for (Applet *applet : appletList) {
        // Only applets still active are retired: a second pass after the link
        // reports the disconnect must not run their hooks again.
        if (!applet || applet->objectName() == QLatin1String("Logs") || !applet->windowAction()->isEnabled())
            continue;
        applet->windowAction()->setEnabled(false);
        applet->deactivate();
        if (QWidget *container = applet->container())
            container->hide();
        applet->windowAction()->setChecked(false);
    }
}

void MainApp::setCommunicationLogging(bool on)
{
    if (m_link)
        m_link->setLogging(on);
    if (m_server)
        m_server->setLoggingOn(on);
}

void MainApp::setServerName(const QString &name, bool askOnConflict)
{
    m_serverName = name;
    m_askOnConflict = askOnConflict;
}

Bootloader *MainApp::firmwareWindow() const
{
    return m_firmwareWindow;
}

void MainApp::openFirmwareWindow()
{
    if (!m_firmwareWindow) {
        m_firmwareWindow = new Bootloader(m_mainWindow);
        connect(m_firmwareWindow, &Bootloader::signal_restartFinished, this, &MainApp::slot_boardRestarted);
    }
    m_firmwareWindow->setBoard(m_link);
    m_firmwareWindow->show();
    m_firmwareWindow->raise();
    m_firmwareWindow->activateWindow();
}

QString MainApp::aboutText()
{
    return QStringLiteral("<p>PROJECT:<b>%1</b></p><p>COMPILATION:<font color=blue> %3</color></p>")
        .arg(QStringLiteral("HQL3318"), BuildInfo::date() + QLatin1String("  ") + BuildInfo::time());
}

namespace {

// The history is wrapped for reading as a file; the box wraps it again at
// its own width, so an item's indented continuation lines join it first.
QString joinedContinuations(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const bool continues = line.startsWith(QLatin1Char(' ')) && !line.trimmed().isEmpty();
        if (continues && !lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.last() += QLatin1Char(' ') + line.trimmed();
        else
            lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool MainApp::toggleRecording(const QString &path)
{
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        return false;
    }
    QString file = path;
    if (file.isEmpty()) {
        // Nobody could answer a file dialog without a screen.
        if (isHeadless() || !m_mainWindow)
            return false;
        file = QFileDialog::getSaveFileName(m_mainWindow, QStringLiteral("Record script"), QString(),
                                            QStringLiteral("Python scripts (*.py)"));
        if (file.isEmpty())
            return false;
        if (!file.endsWith(QLatin1String(".py")))
            file += QStringLiteral(".py");
    }
    // A setting chooses scripts that start their own simulated board.
    const auto target = settingValue(QStringLiteral("record_simulated")).toBool()
                            ? ScriptRecorder::Target::Simulated
                            : ScriptRecorder::Target::Running;
    QString error;
    if (!m_recorder->start(file, target, &error)) {
        emit signal_log(-1, error);
        return false;
    }
    return true;
}

void MainApp::showAbout()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("About"), aboutText(), QMessageBox::Ok);
    QFile history(QStringLiteral(":/project/changes.txt"));
    if (history.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = upToNul(history.readAll());
        auto *text = new QTextEdit(&box);
        text->setReadOnly(true);
        text->setPlainText(joinedContinuations(QString::fromLatin1(bytes)));
        text->setFixedSize(400, 500);
        if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
            grid->addWidget(text, grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

bool MainApp::launchUpdater()
{
    QString path = settingValue(QStringLiteral("updater_path")).toString();
    while (!QFileInfo(path).isFile()) {
        bool ok = false;
        const QString entered =
            QInputDialog::getText(nullptr, QString(), QStringLiteral("Enter updater path:"),
                                  QLineEdit::Normal, Settings::defaultUpdaterPath(), &ok);
        if (!ok)
            break;
        path = entered;
    }
    if (UpdaterLauncher::start(UpdaterLauncher::command(path, QDir::currentPath()))) {
        setSettingValue(QStringLiteral("updater_path"), path);
        return true;
    }
    QMessageBox::warning(nullptr, QStringLiteral("HQL3318"),
                         QStringLiteral("Error starting updater. \n Updater is not installed!"),
                         QMessageBox::Ok);
    return false;
}

void MainApp::slot_connected()
{
    if (!m_link || !m_mainWindow)
        return;
    m_ports->boardConnected();
    // The port box and the banner show the port that was opened, however
    // the connect was asked for.
    m_mainWindow->showConnectedPort(m_link->portName());
    if (m_link->mode() == ControlBoard::MockUp)
        m_mainWindow->setStatusText(
            QStringLiteral("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));
    else
        m_mainWindow->setStatusText(
            QStringLiteral("   %1 : %2 ").arg(m_link->firmwareIdentity()).arg(m_link->firmwareVersion()));
    m_mainWindow->setConnectedState(MainWindow::Connection::Connected);
    enableApplets();
}

void MainApp::showLogWindow()
{
    if (!m_logs)
        return;
    m_logs->showWindow();
    m_logs->container()->raise();
}

Measurements *MainApp::measurements() const
{
    return m_measurements;
}

void MainApp::showMeasurements()
{
    if (m_mainWindow && m_measurements)
        m_mainWindow->showToolWindow(m_measurements);
}

void MainApp::slot_boardRestarted()
{
    // The restarted firmware starts from its own defaults (generators off,
    // chip reset) and may be a new version: the windows would show what no
    // longer holds. Connecting again sets the board up and reads it anew.
    const bool wasConnected = isBoardConnected();
    disconnectFromBoard();
    if (wasConnected && m_ports->reconnectsAutomatically()) {
        m_ports->boardRestarted();
        return;
    }
    NoticeBox::information(m_firmwareWindow, QString(),
                           QStringLiteral("The board was restarted and has been disconnected.\n"
                                          "Press Connect to use it again."));
}

void MainApp::slot_notice(const QString &text)
{
    NoticeBox::information(nullptr, QString(), text);
}

void MainApp::slot_disconnected()
{
    // Lost, not left: the windows are still where the user had them.
    if (!m_ownDisconnect)
        m_workspaces->saveWindowState();
    disableApplets();
    m_mainWindow->setConnectedState(MainWindow::Connection::Disconnected);
    // The board's name belongs to the connection.
    m_mainWindow->setStatusText(QString());
    if (!m_ownDisconnect && m_link)
        m_ports->boardLost(m_link->loss());
}

Settings &MainApp::settings() const
{
    if (!m_settings)
        m_settings = std::make_unique<Settings>(m_settingsPath);
    return *m_settings;
}

QVariant MainApp::settingValue(const QString &key) const
{
    return settings().value(key);
}

void MainApp::setSettingValue(const QString &key, const QVariant &value)
{
    QString error;
    if (!settings().setValue(key, value, &error))
        emit signal_log(-1, error);
}
