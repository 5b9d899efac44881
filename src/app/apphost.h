#pragma once

#include "app/localserver.h"
#include "app/mainwindow.h"
#include "app/portwatcher.h"
#include "app/scriptingfacade.h"
#include "app/windowgrabber.h"
#include "app/workspacecontroller.h"

class MainApp;

// The application as its helpers see it: each helper is handed the one
// interface it uses, never MainApp itself.
class AppHost final : public LocalServerHost,
                      public ScriptingHost,
                      public PortWatcherHost,
                      public WindowGrabberHost,
                      public WorkspaceHost,
                      public MainWindowHost
{
public:
    explicit AppHost(MainApp *app) : m_app(app) {}

    // Scripting calls and the board's state.
    bool set(const QString &name, QVariant &value) override;
    bool get(const QString &name, QVariant *result) override;
    bool run(const QString &name, QVariant &value, QVariant *result) override;
    bool isBoardReserved() const override;
    bool isWaitingForBoard() const override;
    void afterBoardWait(std::function<void()> serve) override;
    bool isBoardConnected() const override;
    bool isShutDown() const override;
    ControlBoard *link() const override;
    bool connectToBoard(const QString &port) override;
    void disconnectFromBoard() override;
    void setBaudRate(unsigned baudRate) override;
    void requestShutdown() override;

    // Applets and windows.
    const QList<Applet *> &applets() const override;
    Applet *applet(const QString &name) const override;
    Applet *appletWithKey(int key) const override;
    MainWindow *mainWindow() const override;
    QWidget *mainWidget() const override;
    PortView *portView() const override;
    QWidget *showLogWindow() override;
    QWidget *showMeasurements() override;
    QWidget *showApplet(Applet *applet) override;
    QWidget *progressDialog() const override;
    Measurements *measurements() const override;
    void openFirmwareWindow() override;
    void showAbout() override;
    bool launchUpdater() override;

    // The other helpers, settings and the log.
    PortWatcher *ports() const override;
    WorkspaceController *workspaces() const override;
    WindowGrabber *grabber() const override;
    ScriptRecorder *recorder() const override;
    bool toggleRecording(const QString &path) override;
    Settings &settings() const override;
    QVariant settingValue(const QString &key) const override;
    void setSettingValue(const QString &key, const QVariant &value) override;
    void setCommunicationLogging(bool on) override;
    void setLogSwitch(bool on) override;
    void log(int level, const QString &text) override;
    QString lastError() const override;

private:
    MainApp *m_app;
};
