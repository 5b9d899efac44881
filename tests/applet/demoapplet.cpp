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
    if (function == "doThing") {
        functions.insert("doThing", "Does the thing");
        runs.append(argument.toString());
        return true;
    }
    const QList<Function> table = {
        {"pulse", "Writes CR0[0] three times",
         [this](const QVariant &) {
             for (uint v : {1u, 0u, 1u})
                 set("CR0[0]", v, ORIGIN_FORCED);
             seen.append(ui->cbCR0_0->isChecked());
             return true;
         }},
        {"peek", "Looks at the CR0[0] check box",
         [this](const QVariant &) {
             seen.append(ui->cbCR0_0->isChecked());
             return true;
         }},
        {"clearAndPeek", "Clears CR0[0], then runs peek",
         [this](const QVariant &) {
             set("CR0[0]", 0u, ORIGIN_FORCED);
             return run("peek", QVariant()).toBool();
         }},
    };
    return runFunction(table, function, argument, MatchExact, false);
}

bool DemoApplet::transfer(TransferOp op, const QString &name)
{
    transfers.append({op, name});
    if (readBack && name == m_cr0->name())
        m_cr0->value();
    return !failing.contains(name);
}
