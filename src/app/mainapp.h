#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

class AppContext;
class BoardActions;
class AppHost;
class ScriptingFacade;
class WindowGrabber;
class WorkspaceController;
class Applet;
class Bootloader;
class PortWatcher;
class ControlBoard;
class DialogProgressBar;
class LocalServer;
class ModalBoxDiverter;
class Logs;
class MainWindow;
class Measurements;
class RegisterMap;
class Settings;

// The one application object: owns the main window and the registry of
// device applets, runs start-up and shutdown, and handles connecting.
class ScriptRecorder;

class MainApp : public QObject
{
    Q_OBJECT

public:
    enum FindMode
    {
        ByObjectName = 0,
        ByShortcutKey = 1
    };

    using AppletFactory = std::function<QList<Applet *>()>;

    static MainApp *instance();
    // Releases the instance; for programs (tests) that build more than one.
    static void destroyInstance();

    // Replaces the device applets made during initialise (tests use their own).
    void setAppletFactory(AppletFactory factory);

    bool initialise();
    void startMainWindow();
    // No window, no modal box: for bench computers without a screen.
    void setHeadless(bool on) { m_headless = on; }
    bool isHeadless() const { return m_headless; }
    void shutdown();

    bool connectToBoard(const QString &port);
    void disconnectFromBoard();
    // The port box, serial devices coming and going, and reconnecting.
    PortWatcher *ports() const { return m_ports; }
    bool isBoardConnected() const;
    // A firmware download has the board: nothing else may reach it.
    bool isBoardReserved() const;
    bool isWaitingForBoard() const;
    BoardActions *boardActions() const;
    void setBaudRate(unsigned baudRate);

    Applet *findApplet(const QVariant &key, FindMode mode) const;
    void enableApplets();
    void disableApplets();
    void setCommunicationLogging(bool on);
    void openFirmwareWindow();
    void showAbout();
    // Starts the updater detached; false (after a warning box) when it is
    // missing or does not start.
    bool launchUpdater();

    // Workspaces and the window-state file.
    WorkspaceController *workspaces() const { return m_workspaces.get(); }
    WindowGrabber *grabber() const { return m_grabber.get(); }
    // What a person does in the device windows, as a Python script.
    ScriptRecorder *recorder() const { return m_recorder.get(); }
    // Starts recording to path (an empty path asks for one); a second call
    // while recording stops it. False when nothing records afterwards.
    bool toggleRecording(const QString &path = QString());

    // The scripting facade: "Applet.member" targets a device applet's set,
    // get or run; any other name is a global one ("open", "write", ...).
    Q_INVOKABLE bool set(const QString &name, QVariant &value);
    Q_INVOKABLE bool get(const QString &name, QVariant *result);
    Q_INVOKABLE bool run(const QString &name, QVariant &value, QVariant *result);
    // Ends the event loop; main() releases everything after it.
    void requestShutdown();
    bool isShutDown() const { return m_shutDown; }

    QVariant settingValue(const QString &key) const;
    void setSettingValue(const QString &key, const QVariant &value);
    Settings &settings() const;

    // The scripting socket's name; a name given by the user is served
    // without the conflict dialog.
    void setServerName(const QString &name, bool askOnConflict);
    LocalServer *server() const { return m_server; }

    ControlBoard *link() const { return m_link; }
    // Every register and variable of the chip and the board.
    RegisterMap *registers() const { return m_registers.get(); }
    MainWindow *mainWindow() const { return m_mainWindow; }
    Bootloader *firmwareWindow() const;
    Logs *logsApplet() const { return m_logs; }
    void showLogWindow();
    // The live plot of the board window's readings (Ctrl+7).
    Measurements *measurements() const;
    void showMeasurements();
    DialogProgressBar *progressDialog() const { return m_progressDialog; }
    const QList<Applet *> &applets() const { return appletList; }

    static QString aboutText();

signals:
    void signal_log(int level, const QString &text);
    // After a scripted shutdown: the applets and the link are gone.
    void signal_shutDown();

public slots:
    void slot_connected();
    void slot_disconnected();
    void slot_notice(const QString &text);
    // After the firmware window's Restart.
    void slot_boardRestarted();

private:
    MainApp();
    ~MainApp() override;

    static QList<Applet *> createDeviceApplets();

    QList<Applet *> appletList;
    ControlBoard *m_link = nullptr;
    // Set while this object disconnects the link itself.
    bool m_ownDisconnect = false;
    MainWindow *m_mainWindow = nullptr;
    // Made on first use and kept with the main window, so the image stays loaded.
    QPointer<Bootloader> m_firmwareWindow;
    Logs *m_logs = nullptr;
    QPointer<Measurements> m_measurements;
    int m_measurementsKey = 0;
    bool m_shutDown = false;
    bool m_headless = false;
    ModalBoxDiverter *m_boxDiverter = nullptr;
    LocalServer *m_server = nullptr;
    QString m_serverName = QStringLiteral("HQL3318");
    bool m_askOnConflict = true;
    DialogProgressBar *m_progressDialog = nullptr;
    mutable std::unique_ptr<Settings> m_settings;
    std::unique_ptr<RegisterMap> m_registers;
    QString m_settingsPath;
    AppletFactory m_appletFactory;
    std::unique_ptr<AppHost> m_host;
    std::unique_ptr<AppContext> m_context;
    ScriptingFacade *m_facade = nullptr;
    std::unique_ptr<WorkspaceController> m_workspaces;
    std::unique_ptr<WindowGrabber> m_grabber;
    std::unique_ptr<ScriptRecorder> m_recorder;
    PortWatcher *m_ports;
};
