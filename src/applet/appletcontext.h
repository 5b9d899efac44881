#pragma once

#include <QList>
#include <QString>

class Applet;
class BoardActions;
class ChipService;
class ControlBoard;
class Register;
class RefreshBatcher;
class Variable;

// What an applet may ask of the application it lives in, handed to it
// before its initialisation: the shared registers and variables, the board
// link, the chip, the other windows, the refreshes of all windows, the log and a
// notice for the user. Nothing under the application reaches for the
// application object itself.
class AppletContext
{
public:
    virtual ~AppletContext() = default;

    virtual Register *reg(const QString &name) const = 0;
    virtual Variable *var(const QString &name) const = 0;
    // Null while the application has none (before start-up, after shutdown).
    virtual ControlBoard *link() const = 0;
    // The application's windows, for Applet::window<Role>().
    virtual QList<Applet *> applets() const = 0;
    // The chip, driven by every window the same way.
    virtual ChipService &chip() = 0;
    virtual RefreshBatcher &refreshes() = 0;
    // Goes to the log window (levels as signal_log's).
    virtual void log(int level, const QString &text) = 0;
    // An information box, shown once the running action is over.
    virtual void notice(const QString &text) = 0;

    // Board actions one at a time with the windows live; null where nothing
    // waits live (tests of a window alone).
    virtual BoardActions *actions() { return nullptr; }

    // The built-in imitation answers for the board: the link knows.
    bool isMockUp() const;
};
