#pragma once

#include "app/mainapp.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

// Each test process serves its own scripting socket, so test programs
// running side by side never meet each other's server.
inline MainApp *testMainApp()
{
    MainApp *app = MainApp::instance();
    app->setServerName(QStringLiteral("hql3318-test-%1").arg(QCoreApplication::applicationPid()), false);
    return app;
}

// The application keeps its settings, window state and logs in the current
// directory; a test's go into a directory of its own for as long as this
// lives.
class PrivateWorkDirectory
{
public:
    PrivateWorkDirectory() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~PrivateWorkDirectory() { QDir::setCurrent(m_previous); }
    PrivateWorkDirectory(const PrivateWorkDirectory &) = delete;
    PrivateWorkDirectory &operator=(const PrivateWorkDirectory &) = delete;
    QString path() const { return m_dir.path(); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
