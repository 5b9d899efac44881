#pragma once

#include "app/portview.h"

#include <QList>
#include <QMainWindow>
#include <QMenu>
#include <QStringList>
#include <QTimer>

class QAction;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class Applet;
class KeepAwake;
class MdiArea;
class PortBox;
class PortWatcher;
class QMdiSubWindow;
class QVariant;
class ScriptRecorder;
class WorkspaceController;

namespace CustomControls {
class MySwitch;
}

// What the main window hands the user's requests to.
class MainWindowHost
{
public:
    virtual ~MainWindowHost() = default;
    virtual const QList<Applet *> &applets() const = 0;
    // The device applet with that Ctrl+digit key, or null.
    virtual Applet *appletWithKey(int key) const = 0;
    virtual bool isBoardConnected() const = 0;
    virtual bool connectToBoard(const QString &port) = 0;
    virtual void disconnectFromBoard() = 0;
    virtual void setBaudRate(unsigned baudRate) = 0;
    virtual void setCommunicationLogging(bool on) = 0;
    virtual QVariant settingValue(const QString &key) const = 0;
    virtual void setSettingValue(const QString &key, const QVariant &value) = 0;
    virtual PortWatcher *ports() const = 0;
    virtual WorkspaceController *workspaces() const = 0;
    virtual ScriptRecorder *recorder() const = 0;
    // See MainApp::toggleRecording.
    virtual bool toggleRecording(const QString &path) = 0;
    virtual void openFirmwareWindow() = 0;
    virtual void showAbout() = 0;
    virtual bool launchUpdater() = 0;
};

// The MDI main window: menus, the status bar with the connection controls
// and activity lamps, the Ctrl+digit window shortcuts and close handling.
// It forwards what the user asks for to its host and does little else.
class MainWindow : public QMainWindow, public PortView
{
    Q_OBJECT

public:
    explicit MainWindow(MainWindowHost *host);
    ~MainWindow() override;

    enum MenuChoice
    {
        ServiceMenu = 0,
        WindowsMenu = 1
    };

    void addApplet(int menuChoice, Applet *applet, bool asSubWindow);
    // A window of the application's own (no registers) in the MDI area,
    // with its entry in "&Windows" and its Ctrl+digit key.
    void addToolWindow(QWidget *window, int key);
    // Shows, checks and activates a tool window; false when it is none.
    bool showToolWindow(QWidget *window);
    QAction *toolWindowAction(QWidget *window) const;
    QMdiSubWindow *toolSubWindow(QWidget *window) const;
    enum class Connection
    {
        Disconnected,
        Connected
    };
    void setConnectedState(Connection state);
    void setPortList(const QStringList &ports);
    // The ports found so far, then "mockup"; a port the user chose stays
    // chosen, otherwise the remembered one is picked.
    void setPorts(const QList<PortEntry> &ports) override;
    // The item for a port name: its text, its path or the same device.
    int findPort(const QString &name) const;
    // Selects the port the link opened, adding it when the list lacks it.
    void showConnectedPort(const QString &port) override;
    void addStatusWidget(QWidget *widget);
    void showRecording();
    // The width the status bar needs to show every widget side by side; its
    // own size hint leaves out what it would squeeze together.
    int statusBarWidth() const;
    // Large enough for the whole status bar and for the largest window of the
    // MDI area without scrolling.
    QSize roomySize() const;
    // Where a window of the wanted size goes on a screen's available area:
    // as large as the area allows, at the preferred top left or moved just
    // enough to stay whole on the screen. frame is what the window manager
    // adds around the window.
    static QRect placement(const QSize &wanted, const QPoint &preferred, const QRect &available,
                           const QSize &frame);
    QWidget *activeApplet() const;
    QString selectedPort() const;
    unsigned selectedBaudRate() const;
    QString statusText() const override;
    void setStatusText(const QString &text) override;
    void setReconnectChecked(bool on) override;
    void rebuildConfigurationMenu();
    void setKeepAwake(bool on);
    // The keep-awake service, made on first use; tests hand in their own.
    KeepAwake *keepAwake();
    void setKeepAwakeService(KeepAwake *service);

    static QString titleText();

    MdiArea *mdiArea;
    QTimer lampTimer;
    QTimer keepAwakeTimer;
    QMenu *configMenu;
    QMenu *windowsMenu;
    QMenu *serviceMenu;
    QMenu contextMenu;
    QAction *updateSoftwareAction;
    QAction *updateFirmwareAction;
    QAction *keepAwakeAction;
    // Checked while a script is being recorded; the same entry stops it.
    QAction *recordAction;
    // The red "REC" with the number of recorded actions.
    QLabel *recordLabel;
    QAction *reconnectAction;
    QAction *logWindowAction;
    QAction *cascadeAction;
    QAction *tileAction;
    QList<QAction *> configActions;
    QPushButton *connectButton;
    QComboBox *portCombo;
    QPushButton *rescanButton;
    QComboBox *speedCombo;
    QLabel *statusLabel;
    QLabel *connectionCaption;
    CustomControls::MySwitch *connectionLamp;
    CustomControls::MySwitch *rxLamp;
    CustomControls::MySwitch *txLamp;
    QCheckBox *logCheck;
    QPushButton *restoreButton;

public slots:
    void slot_ActivityRx_LED();
    void slot_ActivityTx_LED();
    void slot_Connection_LED(bool on);
    void slot_supress_led();
    void slot_pbConnectBoard_click();
    void slot_Rescan();
    void slot_ChangeConenctionSpeed();
    void slot_cbLogComm_toggled(bool on);
    void slot_LogOn(bool) {}
    void slot_LoadProjectData() {}
    void slot_SaveConfig();
    void slot_LoadConfig();
    void slot_LoadConfigName();
    void slot_RestorePreviousWorkspace();
    void slot_AboutApp();
    void slot_UpdateBenchSoftware();
    void slot_UpdateFirmware();
    void slot_pbDontSleep(bool on);
    void slot_timeout();
    void slot_CloseAll();
    void slot_CloseAllButActive();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct ToolWindow
    {
        QWidget *window = nullptr;
        QMdiSubWindow *subWindow = nullptr;
        QAction *action = nullptr;
        int key = 0;
    };
    const ToolWindow *toolWindow(QWidget *window) const;

    CustomControls::MySwitch *makeLamp();
    // Window entries go above the arranging entries of "&Windows".
    void addWindowEntry(QMenu *menu, QAction *action);
    void handleWindowShortcut(int key);
    // The port of the last connect, picked again when offered.
    QString lastPort() const;

    MainWindowHost *m_host;
    PortBox *m_portBox;
    QList<ToolWindow> m_toolWindows;
    KeepAwake *m_keepAwake = nullptr;
    QAction *m_arrangeSeparator = nullptr;
    int m_lampTick = 0;
    // The application-wide filter sees one key press once per widget it
    // propagates through; the shortcut acts on its first sight only. Two
    // presses handled in one batch may share an address, not a time stamp.
    const QKeyEvent *m_lastShortcutEvent = nullptr;
    quint64 m_lastShortcutTime = 0;
    bool m_connectBoxOpen = false;
};
