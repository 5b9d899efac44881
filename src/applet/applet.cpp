#include "applet/applet.h"

#include "applet/appletcontext.h"
#include "applet/applethelper.h"
#include "applet/boardactions.h"
#include "applet/refreshbatcher.h"
#include "controls/noticebox.h"
#include "controls/universalcontrol.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "model/variable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QRegularExpression>

#include <utility>

Q_LOGGING_CATEGORY(lcApplet, "hql.applet", QtInfoMsg)

using CustomControls::UniversalControl;

Applet::Applet(QWidget *parent) : QWidget(parent)
{
    m_binding.setBatcher(&m_ownBatcher);
    connect(&m_binding, &ControlBinding::signal_functionRequested, this,
            [this](const QString &function, const QVariant &argument) {
                emit signal_userRun(function, argument);
                run(function, argument);
            });
    connect(&m_binding, &ControlBinding::signal_userWrite, this, &Applet::signal_userWrite);
    connect(&m_binding, &ControlBinding::signal_log, this, &Applet::signal_log);
}

Applet::~Applet()
{
    delete helpWindow;
    // The sub-window has no parent and shows this applet: take the applet out
    // before the container goes, so neither deletes the other twice.
    if (subWindow) {
        subWindow->setWidget(nullptr);
        delete subWindow;
    }
}

void Applet::setContext(AppletContext *context)
{
    m_context = context;
    m_binding.setBatcher(context ? &context->refreshes() : &m_ownBatcher);
}

QList<Applet *> Applet::contextApplets() const
{
    return m_context ? m_context->applets() : QList<Applet *>();
}

ChipService *Applet::chip() const
{
    return m_context ? &m_context->chip() : nullptr;
}

ControlBoard *Applet::link() const
{
    return m_context ? m_context->link() : nullptr;
}

BoardActions *Applet::actions() const
{
    return m_context ? m_context->actions() : nullptr;
}

void Applet::runInTurn(const QString &key, const std::function<void()> &work)
{
    BoardActions *actions = this->actions();
    if (!actions) {
        work();
        return;
    }
    actions->run(
        [self = QPointer<Applet>(this), work] {
            if (self)
                work();
        },
        key);
}

void Applet::boardError(const QString &text)
{
    if (ControlBoard::failedWithTheBoard(link())) {
        qCDebug(lcApplet) << "after the board was lost:" << text;
        return;
    }
    emit signal_log(-1, text);
}

Register *Applet::sharedRegister(const QString &name) const
{
    return m_context ? m_context->reg(name) : nullptr;
}

Variable *Applet::sharedVariable(const QString &name) const
{
    return m_context ? m_context->var(name) : nullptr;
}

void Applet::flushRefreshes()
{
    m_binding.batcher()->flush();
}

QStringList Applet::functionNames() const
{
    // The map keeps its keys sorted.
    return functions.keys();
}

bool Applet::addRegister(Register *reg, int expectedSize)
{
    if (!reg || reg->name().isEmpty())
        return false;
    if (expectedSize > 0 && expectedSize != reg->size())
        qCDebug(lcApplet, "Register size control fail : %s .size %d != %d", qPrintable(reg->name()),
                reg->size(), expectedSize);
    return addRegister(reg->name(), reg);
}

bool Applet::addRegister(const QString &name, Register *reg)
{
    if (!m_binding.add(name, reg))
        return false;
    reg->connectTo(this, &Applet::slot_updateSet, &Applet::slot_updateGet);
    return true;
}

void Applet::describeExport(RegisterExport &out)
{
    for (const QString &name : std::as_const(m_ownedRegisters)) {
        if (const ParameterEntry *entry = parameter(name); entry && entry->reg)
            out.addRegister(entry->reg);
    }
}

bool Applet::addVariable(Variable *var)
{
    if (!var || var->name().isEmpty())
        return false;
    return addVariable(var->name(), var);
}

bool Applet::addVariable(const QString &name, Variable *var)
{
    if (!m_binding.add(name, var))
        return false;
    connect(var, &Variable::signal_updateSet, this, &Applet::slot_updateSet);
    connect(var, &Variable::signal_updateGet, this, &Applet::slot_updateGet);
    return true;
}

bool Applet::requestTransfer(TransferOp op, const QString &name)
{
    // A transfer reads and writes its own parameter, which announces itself
    // again: the nested request for the same name stops here.
    if (busy.contains(name))
        return true;
    busy.append(name);
    BoardActions::Running running(actions(), this);
    const bool ok = transfer(op, name);
    busy.removeOne(name);
    return ok;
}

bool Applet::transfer(TransferOp, const QString &)
{
    return true;
}

bool Applet::writeParameters(const QString &list)
{
    // This window shows the writes under way, not every window.
    BoardActions::Running running(actions(), this);
    QStringList names;
    if (list.isEmpty() || list == QLatin1String("all") || list == QLatin1String("*"))
        names = parameterNames();
    else
        names = list.split(QLatin1Char(';'));
    bool ok = true;
    for (const QString &name : names) {
        if (name == QLatin1String("*") || name == QLatin1String("all")) {
            ok = writeParameters(name) && ok;
            continue;
        }
        const ParameterEntry *entry = m_binding.entry(name);
        if (entry && ((entry->reg && entry->reg->isReadOnly()) || (entry->var && entry->var->isReadOnly())))
            continue;
        if (!writeParameter(name)) {
            ok = false;
            NoticeBox::warning(nullptr, QString(),
                               QStringLiteral("%1 Parameter %2 fail to write").arg(objectName(), name));
        }
    }
    return ok;
}

bool Applet::set(const QString &path, const QVariant &value, int origin)
{
    return m_binding.write(path, value, origin);
}

bool Applet::setBits(const QString &name, uint lo, uint hi, uint value)
{
    return m_binding.writeBits(name, lo, hi, value);
}

QVariant Applet::get(const QString &path, int)
{
    if (path.isEmpty())
        return QVariant();
    const QString name = parameterNameOf(path);
    if (!m_binding.contains(name))
        return QVariant();
    requestTransfer(ReadFromBoard, name);
    const QVariant result = m_binding.read(path);
    updateControlsOf(name);
    return result;
}

QVariant Applet::runFunction(const QList<Function> &table, const QString &requested, const QVariant &argument,
                             FunctionMatch match, bool document)
{
    if (document) {
        for (const Function &f : table) {
            if (!functions.contains(f.name))
                functions.insert(f.name, f.description);
        }
    }
    const Function *f = findFunction(table, requested, match);
    if (!f)
        return false;
    return asFunction([f, &argument] { return f->body(argument); });
}

bool Applet::asFunction(const std::function<bool()> &body)
{
    // A function sees the windows as its callers left them, and redraws
    // what it changed once, when it is done.
    flushRefreshes();
    BoardActions::Running running(actions(), this);
    RefreshBatcher *batcher = m_binding.batcher();
    batcher->open();
    const bool result = body();
    batcher->close();
    return result;
}

const Applet::Function *Applet::findFunction(const QList<Function> &table, const QString &requested,
                                             FunctionMatch match)
{
    if (requested.isEmpty())
        return nullptr;
    QRegularExpression pattern;
    if (match == MatchWildcard)
        pattern.setPattern(QRegularExpression::wildcardToRegularExpression(requested));
    for (const Function &f : table) {
        if (match == MatchWildcard ? pattern.match(f.name).hasMatch() : f.name == requested)
            return &f;
    }
    return nullptr;
}

bool Applet::hasFunction(const QString &name)
{
    return findFunction(functionTable(), name, functionMatch()) != nullptr;
}

QStringList Applet::functionTableNames()
{
    QStringList names;
    for (const Function &f : functionTable())
        names.append(f.name);
    names.sort();
    names.removeDuplicates();
    return names;
}

const QList<Applet::Function> &Applet::functionTable()
{
    if (!m_functionTableBuilt) {
        m_functionTable = buildFunctions();
        m_functionTableBuilt = true;
    }
    return m_functionTable;
}

void Applet::bindControls()
{
    m_binding.setOwnerName(objectName());
    m_binding.bindAll(this);
}

void Applet::bindControl(CustomControls::UniversalControl *control)
{
    m_binding.bind(control);
}

void Applet::slot_ControlTriggered()
{
    m_binding.triggered(qobject_cast<CustomControls::UniversalControl *>(sender()));
}

void Applet::slot_updateSet(const QString &name)
{
    if (!online)
        return;
    slot_updateControls(name);
    requestTransfer(WriteToBoard, name);
    emit signal_RegisterChanged();
}

void Applet::slot_updateGet(const QString &name)
{
    if (!online)
        return;
    requestTransfer(ReadFromBoard, name);
    slot_updateControls(name);
}

void Applet::slot_updateControls(const QString &names)
{
    if (names.isEmpty() || names.contains(QLatin1Char('*'))) {
        slot_updateAllControls();
        return;
    }
    if (!names.contains(QLatin1Char(';'))) {
        updateControlsOf(names);
        return;
    }
    const QStringList list = names.split(QLatin1Char(';'));
    for (const QString &name : list)
        updateControlsOf(name);
}

void Applet::slot_updateControls(Register *reg)
{
    if (reg)
        updateControlsOf(reg->name());
}

void Applet::slot_updateControls(Variable *var)
{
    if (var)
        updateControlsOf(var->name());
}

void Applet::slot_updateAllControls()
{
    m_binding.refreshAll();
}

bool Applet::initialize()
{
    const bool ok = init();
    windowAction()->setEnabled(false);
    bindControls();
    if (m_context) {
        AppletContext *context = m_context;
        connect(this, &Applet::signal_log, this,
                [context](int level, const QString &text) { context->log(level, text); });
    }
    QMetaObject::connectSlotsByName(this);
    slot_updateAllControls();
    online = false;
    return ok;
}

void Applet::activate()
{
    if (!isEnabled())
        return;
    onConnected();
    windowAction()->setEnabled(true);
    online = true;
}

void Applet::deactivate()
{
    if (!isEnabled())
        return;
    windowAction()->setEnabled(false);
    onDisconnected();
    online = false;
}

QWidget *Applet::createContainer(int mode, QWidget *parent)
{
    m_containerMode = mode;
    if (mode == ContainerDock) {
        if (!dock) {
            dock = new QDockWidget(windowTitle(), parent);
            dock->setObjectName(objectName() + QLatin1String("Dock"));
            dock->setWidget(this);
            dock->hide();
        }
        return dock;
    }
    if (mode == ContainerMdi) {
        if (!subWindow) {
            // The frame goes to its area with its final flags before the
            // form goes in, and the form is measured only there: under a
            // style sheet every move to another parent and every change of
            // flags polishes the whole form again.
            subWindow =
                new QMdiSubWindow(nullptr, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
            // Read while the form is still a window of its own: inside the
            // area it would report the main window's icon.
            const QIcon icon = windowIcon();
            if (auto *area = qobject_cast<QMdiArea *>(parent))
                area->addSubWindow(subWindow);
            subWindow->setWidget(this);
            if (!icon.isNull())
                subWindow->setWindowIcon(icon);
            // A form drawn smaller than its layout needs would be cut off
            // by the fixed container.
            resize(size().expandedTo(sizeHint()));
            subWindow->setGeometry(geometry().adjusted(0, 0, 20, 40));
            if (fixedWidth)
                subWindow->setFixedWidth(width() + 10);
            if (fixedHeight)
                subWindow->setFixedHeight(height() + 35);
            subWindow->hide();
            connect(this, &Applet::signal_HideWindow, this, &Applet::slot_SetInactiveWindow);
        }
        return subWindow;
    }
    return nullptr;
}

QWidget *Applet::container() const
{
    if (m_containerMode == ContainerDock)
        return dock;
    return subWindow;
}

QAction *Applet::windowAction()
{
    if (action)
        return action;
    if (m_containerMode == ContainerDock && dock) {
        action = dock->toggleViewAction();
        action->setIcon(windowIcon());
        // Only a dock that went away unchecks its action; one that appears
        // keeps the check the dock itself just gave it.
        connect(dock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
            if (!visible)
                slot_SetInactiveWindow();
        });
    } else {
        const QString title = windowTitle() == objectName()
                                  ? objectName()
                                  : QStringLiteral("%1(%2)").arg(windowTitle(), objectName());
        action = new QAction(windowIcon(), title, this);
        action->setCheckable(true);
        action->setWhatsThis(objectName());
        connect(action, &QAction::triggered, this, &Applet::slot_ActionTriggered);
    }
    return action;
}

void Applet::showWindow()
{
    if (QWidget *c = container())
        c->show();
    windowAction()->setChecked(true);
}

void Applet::hideWindow()
{
    if (QWidget *c = container())
        c->hide();
    windowAction()->setChecked(false);
}

void Applet::slot_ActionTriggered()
{
    if (QWidget *c = container())
        c->setVisible(windowAction()->isChecked());
}

void Applet::slot_SetInactiveWindow()
{
    windowAction()->setChecked(false);
    if (m_containerMode == ContainerMdi && subWindow)
        subWindow->hide();
}

void Applet::slot_adjustSize()
{
    adjustSize();
    if (QWidget *c = container())
        c->adjustSize();
}

void Applet::keyPressEvent(QKeyEvent *event)
{
    // Keys stop here so that typing in a window never reaches the MDI area.
    event->accept();
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier)
        slot_showHelp();
}

void Applet::slot_showHelp()
{
    if (!helpWindow) {
        helpWindow = new AppletHelper(this, QStringLiteral("HELP:") + windowTitle());
        connect(helpWindow, &AppletHelper::signal_update, this, &Applet::slot_showHelp);
    }
    helpWindow->render(QStringLiteral("functions+nodes"));
    helpWindow->show();
    helpWindow->activateWindow();
    QApplication::setActiveWindow(helpWindow);
}

void Applet::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit signal_HideWindow();
}
