#include "demoapplet.h"

#include "model/register.h"
#include "model/variable.h"
#include "ui_demoapplet.h"

DemoApplet::DemoApplet(Register *cr0, Register *sr0, Variable *freq, Variable *label, Variable *mode)
    : ui(new Ui::DemoApplet), m_cr0(cr0), m_sr0(sr0), m_freq(freq), m_label(label), m_mode(mode)
{
    ui->setupUi(this);
    setObjectName("Demo");
}

DemoApplet::~DemoApplet()
{
    delete ui;
}

bool DemoApplet::init()
{
    addRegister(m_cr0);
    addRegister(m_sr0);
    addVariable(m_freq);
    addVariable(m_label);
    addVariable(m_mode);
    return true;
}

QVariant DemoApplet::run(const QString &function, const QVariant &argument)
{
    functions.insert("doThing", "Does the thing");
    if (function != "doThing")
        return false;
    runs.append(argument.toString());
    return true;
}

bool DemoApplet::transfer(int op, const QString &name)
{
    transfers.append({op, name});
    if (readBack && name == m_cr0->name())
        m_cr0->value();
    return !failing.contains(name);
}
