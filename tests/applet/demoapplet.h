#pragma once

#include "applet/applet.h"

#include <QPair>
#include <QSet>

namespace Ui {
class DemoApplet;
}

class Register;
class Variable;

// A small device window made in Designer: controls of every class bound to
// two registers and three variables, and a function button.
class DemoApplet : public Applet
{
    Q_OBJECT

public:
    DemoApplet(Register *cr0, Register *sr0, Variable *freq, Variable *label, Variable *mode);
    ~DemoApplet() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    bool transfer(TransferOp op, const QString &name) override;

    Ui::DemoApplet *ui;
    QList<QPair<int, QString>> transfers;
    QSet<QString> failing;
    QStringList runs;
    // What the CR0[0] check box showed when a function looked at it.
    QList<bool> seen;
    // Reads the register it writes, as real transfers do.
    bool readBack = false;

private:
    Register *m_cr0;
    Register *m_sr0;
    Variable *m_freq;
    Variable *m_label;
    Variable *m_mode;
};
