#pragma once

#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/portwatcher.h"
#include "applet/applet.h"
#include "link/controlboard.h"
#include "messageboxanswerer.h"
#include "simboard.h"
#include "testserver.h"

#include <QComboBox>
#include <QTest>

// The whole application connected to a simulated board, the way a user
// has it after pressing Connect: the device applets are online.
class BenchFixture
{
public:
    // A factory replaces the device applets the application makes itself.
    explicit BenchFixture(const QStringList &simOptions = {}, const QString &port = QString(),
                          MainApp::AppletFactory factory = nullptr)
        : sim(simOptions)
    {
        app = testMainApp();
        if (factory)
            app->setAppletFactory(std::move(factory));
        app->ports()->setExtraPorts({sim.path()});
        ok = sim.isRunning() && app->initialise();
        if (!ok)
            return;
        app->startMainWindow();
        const QString chosen = port.isEmpty() ? sim.path() : port;
        QComboBox *ports = app->mainWindow()->portCombo;
        ports->setCurrentIndex(ports->findText(chosen));
        ok = app->connectToBoard(chosen) && app->isBoardConnected();
        // The speed line gets no reply: wait until the board has it.
        if (ok && port.isEmpty())
            ok = QTest::qWaitFor([this] { return sim.transcript().contains("set baudrate=115200"); }, 3000);
        // The board window's status update runs shortly after connecting;
        // tests look at what comes after it.
        if (ok && port.isEmpty())
            settle();
        connectedLines = sim.transcript().size();
    }
    ~BenchFixture()
    {
        app->shutdown();
        MainApp::destroyInstance();
    }

    template<typename T>
    T *applet(const QString &name) const
    {
        return qobject_cast<T *>(app->findApplet(name, MainApp::ByObjectName));
    }

    // The lines the board received since the connection was made.
    // Waits until the board has received nothing new for a while.
    void settle()
    {
        QTest::qWait(50);
        int lines = -1;
        for (int i = 0; i < 50 && lines != sim.transcript().size(); ++i) {
            lines = int(sim.transcript().size());
            QTest::qWait(100);
        }
    }

    QStringList sent() const { return sim.transcript().mid(connectedLines); }
    void markSent() { connectedLines = sim.transcript().size(); }

    // First, so that the settings and window state the application writes
    // land there and not in the build tree.
    PrivateWorkDirectory workDirectory;
    // The mock-up notice and error boxes are answered, never left hanging.
    MessageBoxAnswerer answerer;
    SimBoard sim;
    MainApp *app = nullptr;
    bool ok = false;
    int connectedLines = 0;
};
