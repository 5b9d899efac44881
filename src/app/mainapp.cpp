#include "app/mainapp.h"

#include "app/buildinfo.h"
#include "app/dialogprogressbar.h"
#include "app/localserver.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "app/modalboxdiverter.h"
#include "app/settings.h"
#include "app/updaterlauncher.h"
#include "app/windowstatefile.h"
#include "app/workspacefile.h"
#include "applet/applet.h"
#include "applet/applethelper.h"
#include "applets/basic.h"
#include "applets/board.h"
#include "applets/chipid.h"
#include "applets/hbcontroller.h"
#include "applets/registermap.h"
#include "applets/spicontroller.h"
#include "applets/spiraw.h"
#include "applets/watchdog.h"
#include "controls/universalcontrol.h"
#include "link/controlboard.h"
#include "model/registerexport.h"
#include "model/variable.h"
#include "tools/bootloader.h"
#include "tools/dialogcheckboxes.h"
#include "tools/logs.h"
#include "tools/measurements.h"
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
}

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
      m_settingsPath(Settings::defaultFilePath()), m_appletFactory(&MainApp::createDeviceApplets)
{
}

MainApp::~MainApp()
{
    delete m_progressDialog;
    qDeleteAll(appletList);
    delete m_board;
    Applet::setLogWindow(nullptr);
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
        m_server = new LocalServer(this, this);
        if (!m_server->start(m_serverName, m_askOnConflict)) {
            qCWarning(lcApp) << "the scripting socket could not start:" << m_server->errorText();
            delete m_server;
            m_server = nullptr;
            return false;
        }
        connect(this, &MainApp::signal_shutDown, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }

    m_mainWindow = new MainWindow(this);
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
    Applet::setLogWindow(m_logs);

    appletList = m_appletFactory();
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

    m_board = new ControlBoard;
    m_board->setPythonPath(settingValue(QStringLiteral("python_path")).toString());
    m_board->setScriptPathProvider([this] {
        // Nobody could answer a file dialog without a screen.
        if (m_headless) {
            emit signal_log(-1, QStringLiteral("Error RUN:open: \"script\" asks for a file, which needs a "
                                               "window; use \"script:PATH\" instead"));
            return QString();
        }
        return QFileDialog::getOpenFileName(nullptr, QStringLiteral("Script path"), QString(),
                                            QStringLiteral("Files (*.py)"));
    });
    // Control refreshes held back during a function run fire their slots now,
    // so commands those slots send keep their place on the wire.
    connect(m_board, &ControlBoard::signal_aboutToSend, this, [] { Applet::flushRefreshes(); },
            Qt::DirectConnection);
    connect(m_board, &ControlBoard::signal_tx, m_mainWindow, &MainWindow::slot_ActivityTx_LED);
    connect(m_board, &ControlBoard::signal_rx, m_mainWindow, &MainWindow::slot_ActivityRx_LED);
    connect(m_board, &ControlBoard::signal_disconnected, this, &MainApp::slot_disconnected);
    connect(m_board, &ControlBoard::signal_connected, this, &MainApp::slot_connected);
    connect(m_board, &ControlBoard::signal_notice, this, &MainApp::slot_notice);
    connect(m_board, &ControlBoard::signal_log, m_logs, &Logs::slot_addLog);
    m_logs->setBoard(m_board);
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
    refreshPortList();
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
}

namespace {

constexpr int OriginScripting = int(0xFF004321u);

} // namespace

bool MainApp::set(const QString &name, QVariant &value)
{
    // Once a shutdown is asked for, nothing more runs.
    if (m_shutDown)
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return true;
    Applet *applet = findApplet(parts.at(0), ByObjectName);
    if (applet && isBoardConnected())
        return applet->set(parts.at(1), value, OriginScripting);
    emit signal_log(-1, QStringLiteral("Error SET:%1").arg(name));
    return false;
}

bool MainApp::get(const QString &name, QVariant *result)
{
    if (m_shutDown)
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        if (name.toLower() == QLatin1String("version") && result)
            *result = true;
        return true;
    }
    Applet *applet = findApplet(parts.at(0), ByObjectName);
    if (applet && isBoardConnected()) {
        const QVariant value = applet->get(parts.at(1), OriginScripting);
        if (result)
            *result = value;
        return !value.isNull();
    }
    emit signal_log(-1, QStringLiteral("Error GET %1").arg(name));
    return false;
}

bool MainApp::run(const QString &name, QVariant &value, QVariant *result)
{
    if (m_shutDown)
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        const QString command = name.toLower();
        if (command == QLatin1String("shutdown")) {
            // The event loop ends first and shutdown() runs after it, when
            // no wait, box or request is left on the stack to find its
            // applets gone.
            m_shutDown = true;
            emit signal_shutDown();
        } else if (command == QLatin1String("close")) {
            disconnectFromBoard();
        } else if (command == QLatin1String("open")) {
            connectToBoard(value.toString());
        } else if (command == QLatin1String("set_timeout")) {
            if (m_board)
                m_board->setDefaultTimeout(value.toInt());
        } else if (command == QLatin1String("log")) {
            // The "Log" switch of the main window shows the truth.
            if (m_mainWindow)
                m_mainWindow->logCheck->setChecked(value.toInt() != 0);
            else
                setCommunicationLogging(value.toInt() != 0);
        } else if (command == QLatin1String("export_measurements")) {
            QString error;
            if (!m_measurements || !m_measurements->exportCsv(value.toString(), &error)) {
                emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
                return false;
            }
        } else if (command == QLatin1String("export_registers")) {
            // The SPI controller's registers for firmware: ".h" or ".json".
            Applet *spi = findApplet(QStringLiteral("SpiController"), ByObjectName);
            QString error = QStringLiteral("there is no SPI controller");
            RegisterExport out(QStringLiteral("SpiController"));
            if (spi)
                spi->describeExport(out);
            if (!spi || !out.write(value.toString(), &error)) {
                emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
                return false;
            }
        } else if (command == QLatin1String("clear_measurements")) {
            if (m_measurements)
                m_measurements->slot_clear();
        } else if (command == QLatin1String("grab")) {
            const QVariantList args = value.toList();
            QString error = QStringLiteral("a window name and a file are needed");
            if (args.size() != 2 || !grabWindow(args.at(0).toString(), args.at(1).toString(), &error)) {
                emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
                return false;
            }
        } else if (command == QLatin1String("write")) {
            if (m_board && m_board->isConnected()) {
                QByteArray reply;
                // Text is 8-bit: its bytes go out as they came.
                const QByteArray bytes =
                    value.typeId() == QMetaType::QString ? value.toString().toLatin1() : value.toByteArray();
                m_board->transact(bytes, &reply);
                if (result)
                    *result = reply;
            }
            return true;
        } else {
            return true;
        }
        if (result)
            *result = true;
        return true;
    }
    Applet *applet = findApplet(parts.at(0), ByObjectName);
    if (applet && isBoardConnected()) {
        const QVariant r = applet->run(parts.at(1), value);
        if (result)
            *result = r;
        return true;
    }
    emit signal_log(-1, QStringLiteral("Error RUN:%1").arg(name));
    return false;
}

void MainApp::shutdown()
{
    disconnectFromBoard();
    qDeleteAll(appletList);
    appletList.clear();
    // A second shutdown (or a late request) finds nothing to touch.
    if (m_logs)
        m_logs->setBoard(nullptr);
    delete m_board;
    m_board = nullptr;
}

bool MainApp::connectToBoard(const QString &port)
{
    if (!m_board || m_shutDown)
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The mock-up's notice box runs the event loop inside the connect.
    const bool ok = m_board->connectBoard(port);
    // The chosen speed is recorded even when the connect failed.
    if (m_board && m_mainWindow)
        m_board->setBaudRate(int(m_mainWindow->selectedBaudRate()));
    QApplication::restoreOverrideCursor();
    return ok;
}

void MainApp::disconnectFromBoard()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The windows are still where the user left them.
    if (isBoardConnected())
        saveWindowState();
    disableApplets();
    if (m_board)
        m_board->disconnectBoard(ControlBoard::ByUser);
    QApplication::restoreOverrideCursor();
}

void MainApp::refreshPortList()
{
    if (!m_board || !m_mainWindow)
        return;
    QStringList candidates = m_board->listPorts();
    // Ports named by the user go before "mockup", which stays last.
    for (const QString &port : std::as_const(m_extraPorts)) {
        if (!candidates.contains(port))
            candidates.insert(candidates.size() - 1, port);
    }
    QStringList found;
    m_board->findBoards(candidates, found);
    m_mainWindow->setPortList(found);
}

bool MainApp::isBoardConnected() const
{
    return m_board && m_board->isConnected();
}

void MainApp::setBaudRate(unsigned baudRate)
{
    if (m_board)
        m_board->setBaudRate(int(baudRate));
}

Applet *MainApp::findApplet(const QVariant &key, int mode) const
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
    if (m_board)
        m_board->setLogging(on);
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
    m_firmwareWindow->setBoard(m_board);
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

void MainApp::showAbout()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("About"), aboutText(), QMessageBox::Ok);
    QFile history(QStringLiteral(":/project/changes.txt"));
    if (history.open(QIODevice::ReadOnly)) {
        QByteArray bytes = history.readAll();
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
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

namespace {

// The user configuration registers, A and B of each pair.
QStringList workspaceRegisterNames()
{
    QStringList names;
    for (int i = 5; i <= 8; ++i) {
        const QString a = QStringLiteral("CR%1A").arg(i);
        names << a << QString(a).replace(QLatin1Char('A'), QLatin1Char('B'));
    }
    return names;
}

bool isRegisterOf(Applet *applet, const QString &name)
{
    const ParameterEntry *entry = applet ? applet->parameter(name) : nullptr;
    return entry && entry->reg;
}

// An 11-bit register value written in decimal; the lines of a value were
// joined already.
bool parseRegisterValue(const QByteArray &text, uint *value)
{
    bool ok = false;
    const uint v = text.trimmed().toUInt(&ok, 10);
    if (!ok || v > 0x7FF)
        return false;
    *value = v;
    return true;
}

// Reads a small text file whole; an empty error text means success.
QByteArray readSmallFile(const QString &path, qint64 limit, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return QByteArray();
    }
    if (file.size() > limit) {
        *error = QStringLiteral("the file is larger than %1 bytes").arg(limit);
        return QByteArray();
    }
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        *error = QStringLiteral("the file is larger than %1 bytes").arg(limit);
    else if (file.error() != QFileDevice::NoError)
        *error = file.errorString();
    return bytes;
}

} // namespace

void MainApp::saveWorkspace()
{
    DialogCheckBoxes dialog(DialogCheckBoxes::CheckBoxes);
    dialog.setWindowTitle(QStringLiteral("Select windows save..."));
    dialog.addChoices(workspaceRegisterNames());
    QStringList chosen;
    if (dialog.exec() != QDialog::Accepted || dialog.checkedChoices(chosen) == 0)
        return;
    QString path = QFileDialog::getSaveFileName(nullptr, QStringLiteral("Save workspace"), QString(),
                                                QStringLiteral("Files (*.bench)"));
    if (path.isEmpty())
        return;
    // Only *.bench files appear in the configuration menu.
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(".bench");
    rememberWorkspaceDirectory(QFileInfo(path).absolutePath());

    Applet *spi = findApplet(QStringLiteral("SpiController"), ByObjectName);
    QList<WorkspaceFile::Block> blocks;
    for (const QString &name : std::as_const(chosen)) {
        if (isRegisterOf(spi, name))
            blocks.append({name, spi->get(name + QLatin1String("[]"), ORIGIN_FORCED).toByteArray()});
    }
    // A failed write leaves an earlier file of that name as it was.
    QString error;
    if (!SafeFile::save(path, WorkspaceFile::compose(blocks), &error))
        QMessageBox::warning(nullptr, QStringLiteral("Save workspace"), error, QMessageBox::Ok);
}

void MainApp::loadWorkspace(const QString &path)
{
    if (!isBoardConnected()) {
        QMessageBox::information(
            nullptr, QString(), QStringLiteral("Please connect board before loading configuration registers"),
            QMessageBox::Ok);
        return;
    }
    QString file = path;
    if (file.isEmpty()) {
        file = QFileDialog::getOpenFileName(nullptr, QStringLiteral("Load workspace"), QString(),
                                            QStringLiteral("Files (*.bench)"));
        if (file.isEmpty())
            return;
    }
    QString error;
    const QByteArray text = readSmallFile(file, WorkspaceFile::MaxFileSize, &error);
    if (!error.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Load workspace"),
                             QStringLiteral("Cannot read the workspace file %1:\n%2").arg(file, error),
                             QMessageBox::Ok);
        return;
    }

    // The whole file is checked before the model changes: a bad value, a
    // cut block or a file with nothing to load leaves every register as it was.
    const auto refuse = [&file](const QString &why) {
        QMessageBox::warning(nullptr, QStringLiteral("Load workspace"),
                             QStringLiteral("The workspace file %1 %2.\nNothing was loaded.").arg(file, why),
                             QMessageBox::Ok);
    };
    const WorkspaceFile::Parsed parsed = WorkspaceFile::parse(text);
    if (parsed.blocks.isEmpty()) {
        refuse(QStringLiteral("holds no complete register block"));
        return;
    }
    if (parsed.cut) {
        refuse(QStringLiteral("is cut short in the block of %1").arg(parsed.cutName.left(40)));
        return;
    }
    Applet *spi = findApplet(QStringLiteral("SpiController"), ByObjectName);
    QList<QPair<QString, uint>> values;
    for (const WorkspaceFile::Block &block : parsed.blocks) {
        if (block.name.isEmpty() || !isRegisterOf(spi, block.name))
            continue;
        uint value = 0;
        if (!parseRegisterValue(block.value, &value)) {
            refuse(QStringLiteral("holds no valid value for %1: \"%2\"")
                       .arg(block.name, QString::fromLatin1(block.value.left(40))));
            return;
        }
        values.append({block.name, value});
    }
    if (values.isEmpty()) {
        refuse(QStringLiteral("names no register of the SPI controller"));
        return;
    }

    auto *board = qobject_cast<Board *>(findApplet(QStringLiteral("Board"), ByObjectName));
    QStringList loaded;
    for (const auto &[name, value] : std::as_const(values)) {
        if (board)
            board->set(QStringLiteral("U") + name + QLatin1String("[10:0]"), value, ORIGIN_FORCED);
        spi->set(name + QLatin1String("[10:0]"), value, ORIGIN_FORCED);
        loaded.append(name);
    }
    if (board)
        board->setLoadedNames(loaded);

    QString report = QStringLiteral("\nLoading of following configuration registers is complete:\n");
    for (const QString &name : std::as_const(loaded))
        report += QLatin1Char('\t') + name + QLatin1Char('\n');
    report +=
        QStringLiteral("\nTo send them to SPI please use 'Set User Configuration' button in Board window.\n");
    QMessageBox::information(nullptr, QString(), report, QMessageBox::Ok);
}

QStringList MainApp::workspaceDirectories() const
{
    return QStringList(QDir::currentPath()) + settings().workspaceDirectories();
}

void MainApp::rememberWorkspaceDirectory(const QString &directory)
{
    // One directory spelt two ways ("a/../b", a link) is still one.
    const auto sameAs = [](const QString &a, const QString &b) {
        const QString ca = QFileInfo(a).canonicalFilePath();
        const QString cb = QFileInfo(b).canonicalFilePath();
        if (!ca.isEmpty() && !cb.isEmpty())
            return ca == cb;
        return QDir::cleanPath(a) == QDir::cleanPath(b);
    };
    const QString cleaned = QDir::cleanPath(QDir::current().absoluteFilePath(directory));
    for (const QString &known : workspaceDirectories()) {
        if (sameAs(known, cleaned))
            return;
    }
    settings().setValue(settings().firstUnusedDirectoryKey(), cleaned);
}

namespace {

const QString WindowStateFileName = QStringLiteral("HQL3318.state");

} // namespace

void MainApp::saveWindowState()
{
    if (!m_mainWindow)
        return;
    WindowStateFile state;
    state.mainGeometry = m_mainWindow->saveGeometry();
    for (Applet *applet : std::as_const(appletList)) {
        if (!applet || !applet->container())
            continue;
        state.windows.append({applet->objectName(), applet->container()->geometry(), applet->isVisible()});
    }
    // Reported like any error: a box in a window, standard error and the
    // log file when headless.
    QString error;
    if (!SafeFile::save(WindowStateFileName, state.compose(), &error))
        emit signal_log(-1, error);
}

void MainApp::restoreWindowState()
{
    if (!isBoardConnected()) {
        QMessageBox::warning(nullptr, QStringLiteral("Warning"), QStringLiteral("Board is not connected"),
                             QMessageBox::Ok);
        return;
    }
    QString error;
    const QByteArray text = readSmallFile(WindowStateFileName, WindowStateFile::MaxFileSize, &error);
    if (!error.isEmpty()) {
        qCInfo(lcApp) << "no window state restored from" << WindowStateFileName << ":" << error;
        return;
    }
    const WindowStateFile state = WindowStateFile::parse(text);
    if (m_mainWindow)
        m_mainWindow->restoreGeometry(state.mainGeometry);
    for (const WindowStateFile::Window &w : state.windows) {
        Applet *applet = findApplet(w.name, ByObjectName);
        if (!applet || !applet->container())
            continue;
        applet->container()->setGeometry(w.geometry);
        if (w.visible)
            applet->showWindow();
        else
            applet->hideWindow();
    }
}

void MainApp::slot_connected()
{
    if (!m_board || !m_mainWindow)
        return;
    // The port box and the banner show the port that was opened, however
    // the connect was asked for.
    m_mainWindow->showConnectedPort(m_board->portName());
    if (m_board->mode() == ControlBoard::MockUp)
        m_mainWindow->setStatusText(
            QStringLiteral("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));
    else
        m_mainWindow->setStatusText(
            QStringLiteral("   %1 : %2 ").arg(m_board->firmwareIdentity()).arg(m_board->firmwareVersion()));
    m_mainWindow->setConnectedState(1);
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

bool MainApp::grabWindow(const QString &name, const QString &file, QString *error)
{
    if (file.isEmpty()) {
        *error = QStringLiteral("no file name");
        return false;
    }
    QPointer<QWidget> target;
    if (name == QLatin1String("MainWindow")) {
        target = m_mainWindow;
    } else if (name == QLatin1String("Logs")) {
        showLogWindow();
        target = m_logs ? m_logs->container() : nullptr;
    } else if (name == QLatin1String("Measurements")) {
        showMeasurements();
        target = m_mainWindow ? m_mainWindow->toolSubWindow(m_measurements) : nullptr;
    } else {
        const bool help = name.endsWith(QLatin1String(".help"));
        Applet *applet = findApplet(help ? name.chopped(5) : name, ByObjectName);
        if (applet && !isBoardConnected()) {
            *error = QStringLiteral("Connect board before window open.");
            return false;
        }
        if (applet && help) {
            applet->slot_showHelp();
            target = applet->help();
        } else if (applet) {
            applet->showWindow();
            if (auto *sub = qobject_cast<QMdiSubWindow *>(applet->container()))
                m_mainWindow->mdiArea->setActiveSubWindow(sub);
            target = applet->container();
        }
    }
    if (!target && name == QLatin1String("Bootloader"))
        openFirmwareWindow();
    if (!target) {
        // Other top-level windows of the application by object or class name.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            const bool named = w->objectName() == name || QLatin1String(w->metaObject()->className()) == name;
            if (!name.isEmpty() && named && w != m_progressDialog) {
                w->show();
                target = w;
                break;
            }
        }
    }
    if (!target) {
        *error = QStringLiteral("no window named %1").arg(name);
        return false;
    }
    // A window just shown lays itself out and paints before it is taken.
    QEventLoop settle;
    QTimer::singleShot(150, &settle, &QEventLoop::quit);
    settle.exec();
    if (!target || !target->isVisible()) {
        *error = QStringLiteral("the window %1 is not shown").arg(name);
        return false;
    }
    const QPixmap picture = target->grab();
    SafeFile out(file);
    if (out.open() && !picture.save(out.device(), "PNG"))
        out.cancel(QStringLiteral("the picture could not be encoded"));
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

void MainApp::slot_boardRestarted()
{
    // The restarted firmware starts from its own defaults (generators off,
    // chip reset) and may be a new version: the windows would show what no
    // longer holds. Connecting again sets the board up and reads it anew.
    disconnectFromBoard();
    QMessageBox::information(m_firmwareWindow, QString(),
                             QStringLiteral("The board was restarted and has been disconnected.\n"
                                            "Press Connect to use it again."),
                             QMessageBox::Ok);
}

void MainApp::slot_notice(const QString &text)
{
    QMessageBox::information(nullptr, QString(), text, QMessageBox::Ok);
}

void MainApp::slot_disconnected()
{
    disableApplets();
    m_mainWindow->setConnectedState(0);
    // The board's name belongs to the connection.
    m_mainWindow->setStatusText(QString());
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
    settings().setValue(key, value);
}
