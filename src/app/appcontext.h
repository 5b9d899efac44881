#pragma once

#include "applet/appletcontext.h"
#include "applet/boardactions.h"
#include "applet/refreshbatcher.h"
#include "chip/chip.h"

class MainApp;

// The application as its windows and the chip see it.
class AppContext : public AppletContext, public ChipHost
{
public:
    explicit AppContext(MainApp *app) : m_app(app), m_chip(*this) {}

    Register *reg(const QString &name) const override;
    Variable *var(const QString &name) const override;
    ControlBoard *link() const override;
    QList<Applet *> applets() const override;
    ChipService &chip() override { return m_chip; }
    RefreshBatcher &refreshes() override { return m_refreshes; }
    BoardActions *actions() override { return &m_actions; }
    void log(int level, const QString &text) override;
    void notice(const QString &text) override;

    void refresh(const QString &name) override;
    void flush() override { m_refreshes.flush(); }
    void beginOperation() override;
    void endOperation() override { m_refreshes.close(); }

private:
    MainApp *m_app;
    RefreshBatcher m_refreshes;
    Chip m_chip;
    BoardActions m_actions;
};
