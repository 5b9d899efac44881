#pragma once

#include "app/mainapp.h"

#include <QCoreApplication>

// Each test process serves its own scripting socket, so test programs
// running side by side never meet each other's server.
inline MainApp *testMainApp()
{
    MainApp *app = MainApp::instance();
    app->setServerName(QStringLiteral("hql3318-test-%1").arg(QCoreApplication::applicationPid()), false);
    return app;
}
