#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>

class AppletHelper;
class QAction;
class QDockWidget;
class QMdiSubWindow;
class Register;
class RegisterExport;
class Variable;

namespace CustomControls {
class UniversalControl;
}

// One registered parameter of an applet and the controls bound to it.
struct ParameterEntry
{
    enum Kind { KindRegister = 0, KindVariable = 1 };
    int kind = KindRegister;
    Register *reg = nullptr;
    Variable *var = nullptr;
    QList<CustomControls::UniversalControl *> controls;
    // Per control, the register bits it shows, parsed once; lo -1 reads by name.
    QList<QPair<qint64, qint64>> ranges;
};

// Base of every device window: its parameters (registers and variables)
// with the controls bound to them by name, the path from a changed value to
// the board through the transfer hook, access by path for scripting, its
// named functions, and its container (an MDI sub-window or a dock widget)
// with its menu action.
class Applet : public QWidget
{
    Q_OBJECT

public:
    enum ContainerMode { ContainerMdi = 0, ContainerDock = 1 };
    enum TransferOp { WriteToBoard = 0, ReadFromBoard = 1 };

    explicit Applet(QWidget *parent = nullptr);
    ~Applet() override;

    virtual bool set(const QString &path, const QVariant &value, int origin);
    virtual QVariant get(const QString &path, int origin);
    virtual QVariant run(const QString &function, const QVariant &argument) = 0;
    virtual bool transfer(int op, const QString &name);
    virtual void onDisconnected() {}
    virtual void onConnected() {}
    virtual QByteArray saveState() { return QByteArray(); }
    virtual bool loadState(const QByteArray &) { return false; }
    virtual bool init() { return true; }

    bool addRegister(Register *reg, int expectedSize = -1);
    bool addRegister(const QString &name, Register *reg);
    bool addVariable(Variable *var);
    bool addVariable(const QString &name, Variable *var);
    // In the order they were registered, so lists built from them are the same every run.
    QStringList parameterNames() const { return m_parameterOrder; }
    QStringList functionNames() const;
    const QMap<QString, QString> &functionDescriptions() const { return functions; }
    const ParameterEntry *parameter(const QString &name) const { return parameters.value(name); }
    // The registers this window owns, in their order: only these are
    // exported for firmware. A window that shows registers another owns
    // (the half-bridge controller shows the SPI controller's) owns none.
    const QStringList &ownedRegisters() const { return m_ownedRegisters; }
    // Fills an export with the owned registers; an applet adds what else it
    // knows about them (the SPI controller its frames and the chip identity).
    virtual void describeExport(RegisterExport &out);
    // "CR5A[9:8]" -> "CR5A", "Board.SR0[4]" -> "SR0"; empty when the path names none.
    static QString parameterNameOf(const QString &path);

    // While a batch is open, control refreshes are collected and each changed
    // parameter's controls are refreshed once when the outermost batch closes:
    // a function that writes a register many times redraws it once.
    class RefreshBatch
    {
    public:
        RefreshBatch();
        ~RefreshBatch();
        RefreshBatch(const RefreshBatch &) = delete;
        RefreshBatch &operator=(const RefreshBatch &) = delete;
    };
    // Refreshes what open batches have collected so far (before the event
    // loop runs inside a function, so the windows show the current state).
    static void flushRefreshes();
    // Refreshes the controls of the parameter in every window that shows it,
    // after a change that was not announced (a register file, say).
    static void refreshEverywhere(const QString &name);

    bool requestTransfer(int op, const QString &name);
    bool writeParameters(const QString &list);

    bool initialize();
    void activate();
    void deactivate();
    bool isOnline() const { return online; }

    int shortcutKey() const { return m_shortcutKey; }
    void setShortcutKey(int key) { m_shortcutKey = key; }

    int containerMode() const { return m_containerMode; }
    QWidget *createContainer(int mode, QWidget *dockParent = nullptr);
    QWidget *container() const;
    QAction *windowAction();
    void showWindow();
    void hideWindow();

    // The help window (F1), null until first opened.
    AppletHelper *help() const { return helpWindow; }

    void bindControls();
    void bindControl(CustomControls::UniversalControl *control);
    const QList<CustomControls::UniversalControl *> &boundControls() const { return controls; }

    // The log window every applet reports to once it exists.
    static void setLogWindow(QObject *logWindow);

signals:
    void signal_HideWindow();
    void signal_RegisterChanged();
    void signal_log(int level, const QString &text);

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
    enum FunctionMatch { MatchExact, MatchWildcard };
    // Runs the first function of the table whose name equals the requested
    // one, or matches it as a case-sensitive wildcard pattern; false when none
    // does. Documenting applets list every function in the table first.
    QVariant runFunction(const QList<Function> &table, const QString &requested, const QVariant &argument,
                         FunctionMatch match, bool document);

    // One parameter of writeParameters. An applet whose transfer hook waits
    // for an explicit write sends here what a bulk write means to it.
    virtual bool writeParameter(const QString &name) { return requestTransfer(WriteToBoard, name); }

    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    void updateControlsOf(const QString &name);
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
    QHash<QString, ParameterEntry *> parameters;
    bool online = false;
    QMap<QString, QString> functions;
    AppletHelper *helpWindow = nullptr;
    QList<CustomControls::UniversalControl *> controls;

private:
    void refreshNow(const QString &name);

    QStringList m_ownedRegisters;
    int m_shortcutKey = 0;
    QStringList m_parameterOrder;
    quint64 m_refreshes = 0;
    QSet<QString> m_pendingRefresh;
    int m_containerMode = ContainerMdi;
};
