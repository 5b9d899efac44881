#include "applets/spicontroller.h"

#include "applet/appletcontext.h"
#include "applet/windowroles.h"
#include "chip/chipservice.h"
#include "chip/registermap.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "ui_spicontroller.h"

#include <algorithm>

SpiController::SpiController(QWidget *parent) : Applet(parent), ui(new Ui::SpiController)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("SpiController"));
    setWindowTitle(QStringLiteral("SPI Controller"));
    setWindowIcon(QIcon(QStringLiteral(":/board/chip.png")));
    fixedWidth = true;
    fixedHeight = true;
}

SpiController::~SpiController()
{
    delete ui;
}

bool SpiController::init()
{
    for (const QString &name : RegisterMap::spiControllerOrder())
        addRegister(sharedRegister(name));
    // The chip's registers are this window's own; WD, ADDR, NM and DATA
    // only hold the state of the frame layer.
    QStringList chip = RegisterMap::spiControllerOrder();
    for (const char *frameState : {"WD", "ADDR", "NM", "DATA"})
        chip.removeAll(QLatin1String(frameState));
    setOwnedRegisters(chip);
    return true;
}

void SpiController::describeExport(RegisterExport &out)
{
    Applet::describeExport(out);
    for (const SpiFrame::WriteRule &rule : SpiFrame::writeRules()) {
        quint16 frame = 0;
        if (SpiFrame::writeFrame(QLatin1String(rule.name), bitsOf(QLatin1String(rule.name)), &frame))
            out.setFrame(QLatin1String(rule.name), frame);
    }
    // A status read fills SR7; a powered chip never reports 0 there.
    const uint id = bitsOf(QStringLiteral("SR7"));
    if (id != 0) {
        out.setChipIdentity(
            QStringLiteral(
                "SR7 = 0x%1 (device name %2, generation %3, silicon revision %4, mask revision %5)")
                .arg(id, 3, 16, QLatin1Char('0'))
                .arg((id >> 9) & 7)
                .arg((id >> 6) & 7)
                .arg((id >> 3) & 7)
                .arg(id & 7));
    }
}

uint SpiController::bitsOf(const QString &name) const
{
    const ParameterEntry *entry = parameter(name);
    return entry && entry->reg ? entry->reg->bits(0, entry->reg->size() - 1) : 0;
}

// Frames left from another connection mean nothing to this one.
void SpiController::onConnected()
{
    if (ChipService *chip = this->chip())
        chip->resetSession();
}

void SpiController::onDisconnected()
{
    if (ChipService *chip = this->chip())
        chip->resetSession();
}

QVariant SpiController::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, false);
}

bool SpiController::writeParameter(const QString &name)
{
    // Edits wait for a Write button; a bulk write (a register file applied)
    // is that button pressed for every control register. Offline there is
    // no chip to write to.
    ChipService *chip = this->chip();
    SpiFrame::Control control;
    if (!isOnline() || !chip || !SpiFrame::controlNamed(name, &control))
        return Applet::writeParameter(name);
    return chip->writeControl(control);
}

QList<Applet::Function> SpiController::buildFunctions()
{
    ChipService *chip = this->chip();
    if (!chip)
        return {};
    QList<Function> table;
    const QList<SpiFrame::WriteRule> &rules = SpiFrame::writeRules();
    for (int i = 0; i < rules.size(); ++i) {
        const auto control = ChipService::Control(i);
        table.append({QStringLiteral("Write") + QLatin1String(rules.at(i).name),
                      {},
                      [chip, control](const QVariant &) { return chip->writeControl(control); }});
    }
    for (int n = 5; n <= 8; ++n)
        table.append({QStringLiteral("WriteCR%1").arg(n), {}, [chip, n](const QVariant &) {
                          return chip->writeBridge(n - 4);
                      }});
    table += QList<Function>{
        {"RequestRead", {}, [chip](const QVariant &arg) { return chip->requestRead(arg.toInt()); }},
        {"ReadAll", {}, [chip](const QVariant &) { return chip->readAll(); }},
        {"ClearAll",
         {},
         [chip](const QVariant &) {
             chip->clear(ChipService::WithBridges);
             return true;
         }},
        {"Clear",
         {},
         [chip](const QVariant &) {
             chip->clear(ChipService::KeepBridges);
             return true;
         }},
    };
    for (int n : {0, 1, 3, 4, 5, 7})
        table.append({QStringLiteral("ReadSR%1").arg(n), {}, [chip, n](const QVariant &) {
                          return chip->readStatus(n);
                      }});
    return table;
}

void SpiController::on_cbSR0_10_stateChanged(int state)
{
    // The chip lost its registers: reset the model and write the user's
    // configuration again. The mock-up's random status bits say nothing.
    ControlBoard *link = this->link();
    ChipService *chip = this->chip();
    if (state == 0 || !chip || (link && link->mode() == ControlBoard::MockUp))
        return;
    chip->clear(ChipService::KeepBridges);
    if (UserConfiguration *board = window<UserConfiguration>())
        board->sendUserConfiguration();
    // The watchdog window shows the time-out CR1 now holds.
    if (Register *timeout = sharedRegister(QStringLiteral("WDTimeout"))) {
        timeout->set(0, 0, (chip->value(SpiFrame::CR1) >> 8) & 1);
        if (AppletContext *app = context())
            app->refreshes().refreshEverywhere(timeout->name());
    }
}
