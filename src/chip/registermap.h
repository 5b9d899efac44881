#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class Register;
class Variable;

// Every register and variable of the chip and the board, built once from
// their descriptions and shared by the applets that register them: the SPI
// controller and the chip identification window show one SR7.
class RegisterMap
{
public:
    RegisterMap();
    ~RegisterMap();
    RegisterMap(const RegisterMap &) = delete;
    RegisterMap &operator=(const RegisterMap &) = delete;

    Register *reg(const QString &name) const { return m_registers.value(name); }
    Variable *var(const QString &name) const { return m_variables.value(name); }
    QStringList registerNames() const { return m_order; }

    // The chip's registers in the order the SPI controller registers them.
    static const QStringList &spiControllerOrder();

private:
    Register *add(const QString &name, const QString &description);
    Variable *add(Variable *var);

    QHash<QString, Register *> m_registers;
    QHash<QString, Variable *> m_variables;
    QStringList m_order;
};
