#include "app/appcontext.h"

#include "app/mainapp.h"
#include "applet/applet.h"
#include "chip/registermap.h"
#include "tools/logs.h"

#include <QDebug>

Register *AppContext::reg(const QString &name) const
{
    return m_app->registers()->reg(name);
}

Variable *AppContext::var(const QString &name) const
{
    return m_app->registers()->var(name);
}

ControlBoard *AppContext::link() const
{
    return m_app->link();
}

QList<Applet *> AppContext::applets() const
{
    return m_app->applets();
}

void AppContext::refresh(const QString &name)
{
    // Online windows heard of a change from the register itself.
    for (Applet *applet : m_app->applets()) {
        if (applet && !applet->isOnline())
            applet->slot_updateControls(name);
    }
}

void AppContext::beginOperation()
{
    m_refreshes.flush();
    m_refreshes.open();
}

void AppContext::log(int level, const QString &text)
{
    if (Logs *logs = m_app->logsApplet())
        logs->slot_addLog(level, text);
    else if (level < 0)
        qWarning().noquote() << text;
}

void AppContext::notice(const QString &text)
{
    // A box inside the running action would run the event loop inside it.
    // Both calls die with the application, which owns the actions.
    MainApp *app = m_app;
    QMetaObject::invokeMethod(
        app, [this, app, text] { m_actions.run([app, text] { app->slot_notice(text); }); },
        Qt::QueuedConnection);
}
