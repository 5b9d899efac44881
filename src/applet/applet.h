#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include "applet/controlbinding.h"
#include "applet/refreshbatcher.h"

#include <functional>

class AppletContext;
class ChipService;
class ControlBoard;
class AppletHelper;
class BoardActions;
class QAction;
class QDockWidget;
class QMdiSubWindow;
class Register;
class RegisterExport;
class Variable;

// Base of every device window: its parameters (registers and variables)
// with the controls bound to them by name (a ControlBinding), the path from
// a changed value to the board through the transfer hook, access by path for
// scripting, its named functions, and its container (an MDI sub-window or a
// dock widget) with its menu action. What it needs of the application comes
// through the AppletContext its owner hands it.
class Applet : public QWidget
{
    Q_OBJECT

public:
    enum ContainerMode
    {
        ContainerMdi = 0,
        ContainerDock = 1
    };
    enum TransferOp
    {
        WriteToBoard = 0,
        ReadFromBoard = 1
    };

    explicit Applet(QWidget *parent = nullptr);
    ~Applet() override;

    virtual bool set(const QString &path, const QVariant &value, int origin);
    virtual QVariant get(const QString &path, int origin);
    virtual QVariant run(const QString &function, const QVariant &argument) = 0;
    virtual bool transfer(TransferOp op, const QString &name);
    virtual void onDisconnected() {}
    virtual void onConnected() {}
    // What onConnected left for the event loop is done now: a script's next
    // request must find the board set up.
    virtual void completePendingWork() {}
    virtual QByteArray saveState() { return QByteArray(); }
    virtual bool loadState(const QByteArray &) { return false; }
    virtual bool init() { return true; }

    // Handed over by the owner before initialize(); may stay null in tests.
    void setContext(AppletContext *context);
    AppletContext *context() const { return m_context; }

    bool addRegister(Register *reg, int expectedSize = -1);
    bool addRegister(const QString &name, Register *reg);
    bool addVariable(Variable *var);
    bool addVariable(const QString &name, Variable *var);
    // In the order they were registered, so lists built from them are the same every run.
    QStringList parameterNames() const { return m_binding.names(); }
    QStringList functionNames() const;
    // Every name run() has a function for, sorted; also for applets that
    // document none.
    QStringList functionTableNames();
    // True when run() would find a function to run for this name (exactly,
    // or as a pattern where the applet takes patterns).
    bool hasFunction(const QString &name);
    const QMap<QString, QString> &functionDescriptions() const { return functions; }
    const ParameterEntry *parameter(const QString &name) const { return m_binding.entry(name); }
    // The registers this window owns, in their order: only these are
    // exported for firmware. A window that shows registers another owns
    // (the half-bridge controller shows the SPI controller's) owns none.
    const QStringList &ownedRegisters() const { return m_ownedRegisters; }
    // Fills an export with the owned registers; an applet adds what else it
    // knows about them (the SPI controller its frames and the chip identity).
    virtual void describeExport(RegisterExport &out);
    static QString parameterNameOf(const QString &path) { return ControlBinding::parameterNameOf(path); }

    bool requestTransfer(TransferOp op, const QString &name);
    bool writeParameters(const QString &list);

    bool initialize();
    void activate();
    void deactivate();
    bool isOnline() const { return online; }

    int shortcutKey() const { return m_shortcutKey; }
    void setShortcutKey(int key) { m_shortcutKey = key; }

    int containerMode() const { return m_containerMode; }
    // The dock's parent window, or the MDI area the sub-window joins.
    QWidget *createContainer(int mode, QWidget *parent = nullptr);
    QWidget *container() const;
    QAction *windowAction();
    void showWindow();
    void hideWindow();

    // The chip; null without a context.
    ChipService *chip() const;

    // The help window (F1), null until first opened.
    AppletHelper *help() const { return helpWindow; }

    void bindControls();
    void bindControl(CustomControls::UniversalControl *control);
    const QList<CustomControls::UniversalControl *> &boundControls() const { return m_binding.controls(); }
    const ControlBinding &binding() const { return m_binding; }

signals:
    void signal_HideWindow();
    void signal_RegisterChanged();
    void signal_log(int level, const QString &text);
    // What a person did in this window or its help window (never what a
    // script asked for): for the script recorder.
    void signal_userWrite(const QString &path, const QVariant &value);
    void signal_userRun(const QString &function, const QVariant &argument);

public slots:
    void slot_ActionTriggered();
    void slot_SetInactiveWindow();
    void slot_ControlTriggered();
    void slot_showHelp();
    void slot_updateSet(const QString &name);
    void slot_updateGet(const QString &name);
    void slot_updateControls(const QString &names);
    void slot_updateControls(Register *reg);
    void slot_updateControls(Variable *var);
    void slot_updateAllControls();
    void slot_adjustSize();
    virtual void transferVecData(QByteArray &) {}
    virtual void startVecData() {}
    virtual void stopVecData() {}
    virtual void slot_capturedData(const QByteArray &) {}

protected:
    struct Function
    {
        QString name;
        QString description;
        std::function<bool(const QVariant &)> body;
    };
    enum FunctionMatch
    {
        MatchExact,
        MatchWildcard
    };
    // Runs the first function of the table whose name equals the requested
    // one, or matches it as a case-sensitive wildcard pattern; false when none
    // does. Documenting applets list every function in the table first.
    QVariant runFunction(const QList<Function> &table, const QString &requested, const QVariant &argument,
                         FunctionMatch match, bool document);
    // How run() matches names: what hasFunction() asks. An applet that
    // runs its table with MatchWildcard says so here.
    virtual FunctionMatch functionMatch() const { return MatchExact; }
    // The applet's named functions, built once on first use: a refresh tick
    // runs several of them.
    virtual QList<Function> buildFunctions() { return {}; }
    const QList<Function> &functionTable();

    // One parameter of writeParameters. An applet whose transfer hook waits
    // for an explicit write sends here what a bulk write means to it.
    virtual bool writeParameter(const QString &name) { return requestTransfer(WriteToBoard, name); }

    // The window that plays a role (windowroles.h); null when none does.
    template<typename Role>
    Role *window() const
    {
        if (m_context) {
            for (Applet *applet : contextApplets()) {
                if (auto *role = dynamic_cast<Role *>(applet))
                    return role;
            }
        }
        return nullptr;
    }
    // What run() does around a function's body, for a typed entry that
    // stands for a named function.
    bool asFunction(const std::function<bool()> &body);
    // The board link, null without one.
    ControlBoard *link() const;
    // Null without a context.
    BoardActions *actions() const;
    // A timer's board work: now, or once the running board action is over,
    // if this window still is; work of the same key that still waits is
    // not added again.
    void runInTurn(const QString &key, const std::function<void()> &work);
    // A board command failed: told to the user, unless the link has lost
    // the board meanwhile, which its disconnect already tells.
    void boardError(const QString &text);
    // The application's shared registers and variables; null without a context.
    Register *sharedRegister(const QString &name) const;
    Variable *sharedVariable(const QString &name) const;

    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    void updateControlsOf(const QString &name) { m_binding.refresh(name); }
    // Refreshes what the running function's batch collected so far, in
    // every window (before the event loop runs inside a function).
    void flushRefreshes();
    // Registers added before, marked as this window's own.
    void setOwnedRegisters(const QStringList &names) { m_ownedRegisters = names; }
    // set() of a register's bits lo..hi, without parsing a reference: for
    // paths that decode many frames.
    bool setBits(const QString &name, uint lo, uint hi, uint value);

    QStringList busy;
    bool fixedHeight = false;
    bool fixedWidth = false;
    QMdiSubWindow *subWindow = nullptr;
    QDockWidget *dock = nullptr;
    QAction *action = nullptr;
    bool online = false;
    QMap<QString, QString> functions;
    AppletHelper *helpWindow = nullptr;

private:
    QList<Applet *> contextApplets() const;
    static const Function *findFunction(const QList<Function> &table, const QString &requested,
                                        FunctionMatch match);

    // Batches this window's refreshes while no application context shares one.
    RefreshBatcher m_ownBatcher;
    ControlBinding m_binding;
    AppletContext *m_context = nullptr;
    QStringList m_ownedRegisters;
    QList<Function> m_functionTable;
    bool m_functionTableBuilt = false;
    int m_shortcutKey = 0;
    int m_containerMode = ContainerMdi;
};
