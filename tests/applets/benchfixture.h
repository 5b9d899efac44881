#pragma once

#include "app/mainapp.h"
#include "testserver.h"
#include "app/mainwindow.h"
#include "applet/applet.h"
#include "link/controlboard.h"
#include "messageboxanswerer.h"
#include "simboard.h"

#include <QComboBox>
#include <QTest>

// The whole application connected to a simulated board, the way a user
// has it after pressing Connect: the device applets are online.
class BenchFixture
{
public:
    explicit BenchFixture(const QStringList &simOptions = {}, const QString &port = QString()) : sim(simOptions)
    {
        app = testMainApp();
        app->setExtraPorts({sim.path()});
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
    QStringList sent() const { return sim.transcript().mid(connectedLines); }
    void markSent() { connectedLines = sim.transcript().size(); }

    // The mock-up notice and error boxes are answered, never left hanging.
    MessageBoxAnswerer answerer;
    SimBoard sim;
    MainApp *app = nullptr;
    bool ok = false;
    int connectedLines = 0;
};
