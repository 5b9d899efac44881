#include "app/mainapp.h"

#include "app/buildinfo.h"
#include "app/dialogprogressbar.h"
#include "app/mainwindow.h"
#include "app/settings.h"
#include "applet/applet.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QScreen>
#include <QTextEdit>

Q_LOGGING_CATEGORY(lcApp, "hql.app")

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
    : m_progressDialog(new DialogProgressBar), m_settingsPath(Settings::defaultFilePath()),
      m_appletFactory(&MainApp::createDeviceApplets)
{
}

MainApp::~MainApp()
{
    delete m_progressDialog;
    qDeleteAll(appletList);
    delete m_mainWindow;
}

QList<Applet *> MainApp::createDeviceApplets()
{
    // The device applets join here, in this order: Basic, Board,
    // HBController, SpiController, SpiRaw, WatchDog, ChipID.
    return {};
}

void MainApp::setAppletFactory(AppletFactory factory)
{
    m_appletFactory = std::move(factory);
}

bool MainApp::initialise()
{
    DialogProgressBar *progress = m_progressDialog;
    progress->show();
    progress->setProgress(0, 100);
    progress->setStepText(QStringLiteral("Initializing ..."));
    progress->setProgress(10, 100);

    // The local server starts here; a failure to start ends the program.

    m_mainWindow = new MainWindow(this);
    // Integer division as given; the window is kept below the screen's top
    // edge so its title bar stays reachable on small screens.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const int y = (screen->geometry().height() - 1) / 2 - m_mainWindow->height();
        m_mainWindow->move(200, qMax(y, screen->availableGeometry().top()));
    }

    // The log window is created here, before the device applets.

    appletList = m_appletFactory();
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
        }
        progress->setProgress(progress->progress() + i, 100);
    }

    // The board link is created and wired here.

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
    progress->setStepText(QStringLiteral("Initializing channel connection..."));
    refreshPortList();
    progress->hide();
    progress->deleteLater();
    m_progressDialog = nullptr;
    // Room for the whole status bar, within the screen.
    QSize size(qMax(1100, m_mainWindow->minimumSizeHint().width()), 760);
    if (QScreen *screen = m_mainWindow->screen())
        size = size.boundedTo(screen->availableGeometry().size());
    m_mainWindow->resize(size);
    m_mainWindow->show();
}

void MainApp::shutdown()
{
    disconnectFromBoard();
    qDeleteAll(appletList);
    appletList.clear();
}

bool MainApp::connectToBoard(const QString &port)
{
    Q_UNUSED(port)
    // Without a board link nothing can be connected.
    return false;
}

void MainApp::disconnectFromBoard()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    disableApplets();
    QApplication::restoreOverrideCursor();
}

void MainApp::refreshPortList()
{
    if (m_mainWindow)
        m_mainWindow->setPortList(QStringList());
}

bool MainApp::isBoardConnected() const
{
    return false;
}

void MainApp::setBaudRate(unsigned baudRate)
{
    Q_UNUSED(baudRate)
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
    for (Applet *applet : appletList) {
        if (applet)
            applet->windowAction()->setEnabled(true);
    }
}

void MainApp::disableApplets()
{
    for (Applet *applet : appletList) {
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
    Q_UNUSED(on)
}

void MainApp::openFirmwareWindow() {}

QString MainApp::aboutText()
{
    return QStringLiteral("<p>PROJECT:<b>%1</b></p><p>COMPILATION:<font color=blue> %3</color></p>")
        .arg(QStringLiteral("HQL3318"), BuildInfo::date() + QLatin1String("  ") + BuildInfo::time());
}

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
        text->setPlainText(QString::fromLatin1(bytes));
        text->setFixedSize(400, 500);
        if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
            grid->addWidget(text, grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

void MainApp::slot_connected()
{
    if (m_mainWindow->selectedPort() == QLatin1String("mockup"))
        m_mainWindow->setStatusText(
            QStringLiteral("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));
    // A real board's identity and firmware version are shown once the link reports them.
    m_mainWindow->setConnectedState(1);
    enableApplets();
}

void MainApp::slot_disconnected()
{
    disableApplets();
    m_mainWindow->setConnectedState(0);
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
