#pragma once

#include "applet/appletcontext.h"
#include "applet/refreshbatcher.h"

class MainApp;

// The application as its windows see it.
class AppContext : public AppletContext
{
public:
    explicit AppContext(MainApp *app) : m_app(app) {}

    Register *reg(const QString &name) const override;
    Variable *var(const QString &name) const override;
    ControlBoard *link() const override;
    Applet *findApplet(const QString &objectName) const override;
    RefreshBatcher &refreshes() override { return m_refreshes; }
    void log(int level, const QString &text) override;
    void notice(const QString &text) override;

private:
    MainApp *m_app;
    RefreshBatcher m_refreshes;
};
