#include "applet/applet.h"

#include "applet/applethelper.h"
#include "controls/universalcontrol.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "model/variable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>

#include <utility>

Q_LOGGING_CATEGORY(lcApplet, "hql.applet", QtInfoMsg)

using CustomControls::UniversalControl;

namespace {

QPointer<QObject> s_logWindow;

QList<Applet *> s_liveApplets;
int s_batchDepth = 0;
QList<QPointer<Applet>> s_pendingApplets;

} // namespace

Applet::Applet(QWidget *parent) : QWidget(parent)
{
    s_liveApplets.append(this);
}

Applet::~Applet()
{
    s_liveApplets.removeOne(this);
    delete helpWindow;
    qDeleteAll(parameters);
    // The sub-window has no parent and shows this applet: take the applet out
    // before the container goes, so neither deletes the other twice.
    if (subWindow) {
        subWindow->setWidget(nullptr);
        delete subWindow;
    }
}

void Applet::setLogWindow(QObject *logWindow)
{
    s_logWindow = logWindow;
}

QString Applet::parameterNameOf(const QString &path)
{
    // The pieces between the characters ( ) [ ] . : one to three name the
    // parameter with the first, four with the second (the first is a prefix).
    // Scanned in place: this runs for every model write.
    int separators = 0;
    int first = -1;
    int second = -1;
    for (int i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('[') || c == QLatin1Char(']') ||
            c == QLatin1Char('.')) {
            if (separators == 0)
                first = i;
            else if (separators == 1)
                second = i;
            if (++separators > 3)
                return QString();
        }
    }
    if (separators < 3)
        return first < 0 ? path : path.left(first);
    return path.mid(first + 1, second - first - 1);
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
        qCDebug(lcApplet, "Register size control fail : %s .size %d != %d", qPrintable(reg->name()), reg->size(),
                expectedSize);
    return addRegister(reg->name(), reg);
}

bool Applet::addRegister(const QString &name, Register *reg)
{
    if (parameters.contains(name)) {
        qCDebug(lcApplet, "Applet %s already contains %s", qPrintable(objectName()), qPrintable(name));
        return false;
    }
    if (!reg)
        return false;
    auto *entry = new ParameterEntry;
    entry->kind = ParameterEntry::KindRegister;
    entry->reg = reg;
    parameters.insert(name, entry);
    m_parameterOrder.append(name);
    reg->connectTo(this, SLOT(slot_updateSet(QString)), SLOT(slot_updateGet(QString)));
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
    if (parameters.contains(name)) {
        qCDebug(lcApplet, "Applet %s already contains %s", qPrintable(objectName()), qPrintable(name));
        return false;
    }
    if (!var)
        return false;
    auto *entry = new ParameterEntry;
    entry->kind = ParameterEntry::KindVariable;
    entry->var = var;
    parameters.insert(name, entry);
    m_parameterOrder.append(name);
    connect(var, &Variable::signal_updateSet, this, &Applet::slot_updateSet);
    connect(var, &Variable::signal_updateGet, this, &Applet::slot_updateGet);
    return true;
}

bool Applet::requestTransfer(int op, const QString &name)
{
    // A transfer reads and writes its own parameter, which announces itself
    // again: the nested request for the same name stops here.
    if (busy.contains(name))
        return true;
    busy.append(name);
    const bool ok = transfer(op, name);
    busy.removeOne(name);
    return ok;
}

bool Applet::transfer(int, const QString &)
{
    return true;
}

bool Applet::writeParameters(const QString &list)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
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
        const ParameterEntry *entry = parameters.value(name);
        if (entry && ((entry->reg && entry->reg->isReadOnly()) || (entry->var && entry->var->isReadOnly())))
            continue;
        if (!writeParameter(name)) {
            ok = false;
            QApplication::restoreOverrideCursor();
            QMessageBox::warning(nullptr, QString(),
                                 QStringLiteral("%1 Parameter %2 fail to write").arg(objectName(), name),
                                 QMessageBox::Ok);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
    }
    QApplication::restoreOverrideCursor();
    return ok;
}

bool Applet::set(const QString &path, const QVariant &value, int origin)
{
    if (path.isEmpty() || value.isNull())
        return false;
    const QString name = parameterNameOf(path);
    ParameterEntry *entry = parameters.value(name);
    if (!entry)
        return false;
    const quint64 refreshesBefore = m_refreshes;
    bool result = false;
    if (entry->reg) {
        result = entry->reg->set(path, value.toUInt());
    } else if (entry->var->type() == Variable::String) {
        result = entry->var->setText(value.toByteArray(), origin);
    } else {
        // A value that is no number is refused, not written as 0: a typo
        // in a script must not stop a generator.
        bool converted = false;
        const double d = value.toDouble(&converted);
        result = converted && entry->var->setValue(d, origin);
    }
    // A change seen online has refreshed the controls already.
    if (m_refreshes == refreshesBefore)
        slot_updateControls(name);
    return result;
}

bool Applet::setBits(const QString &name, uint lo, uint hi, uint value)
{
    const ParameterEntry *entry = parameters.value(name);
    if (!entry || !entry->reg)
        return false;
    // Only a change can leave the controls behind: decoding repeats values.
    const uint before = entry->reg->bits(qMin(lo, hi), qMax(lo, hi));
    const quint64 refreshesBefore = m_refreshes;
    const bool result = entry->reg->set(lo, hi, value);
    if (m_refreshes == refreshesBefore && entry->reg->bits(qMin(lo, hi), qMax(lo, hi)) != before)
        updateControlsOf(name);
    return result;
}

QVariant Applet::get(const QString &path, int)
{
    if (path.isEmpty())
        return QVariant();
    const QString name = parameterNameOf(path);
    ParameterEntry *entry = parameters.value(name);
    if (!entry)
        return QVariant();
    requestTransfer(ReadFromBoard, name);
    QVariant result;
    if (entry->reg) {
        result = QVariant(uint(entry->reg->get(path)));
    } else if (entry->var->type() == Variable::String) {
        QByteArray text = entry->var->text();
        const int nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        result = QVariant(QString::fromLatin1(text));
    } else {
        result = QVariant(entry->var->value());
    }
    slot_updateControls(name);
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
    if (requested.isEmpty())
        return false;
    // A function sees the windows as its callers left them.
    flushRefreshes();
    const RefreshBatch batch;
    QRegularExpression pattern;
    if (match == MatchWildcard)
        pattern.setPattern(QRegularExpression::wildcardToRegularExpression(requested));
    for (const Function &f : table) {
        const bool hit = match == MatchWildcard ? pattern.match(f.name).hasMatch() : f.name == requested;
        if (hit)
            return bool(f.body(argument));
    }
    return false;
}

void Applet::bindControls()
{
    // Breadth first, eleven levels deep: every form of the system is shallower.
    QObjectList gathered = children();
    int from = 0;
    for (int pass = 0; pass < 10; ++pass) {
        const int to = gathered.size();
        for (int i = from; i < to; ++i)
            gathered += gathered.at(i)->children();
        from = to;
    }
    controls.clear();
    for (QObject *object : std::as_const(gathered)) {
        if (!QString::fromLatin1(object->metaObject()->className()).contains(QLatin1String("CustomControls")))
            continue;
        if (auto *control = qobject_cast<UniversalControl *>(object))
            controls.append(control);
    }
    for (UniversalControl *control : std::as_const(controls)) {
        if (!control->isConnected())
            bindControl(control);
    }
}

void Applet::bindControl(UniversalControl *control)
{
    const QString name = control->name(1);
    if (control->kind() == UniversalControl::KindPushButton) {
        control->connectTrigger(SLOT(slot_ControlTriggered()), this);
        return;
    }
    control->prepare();
    ParameterEntry *entry = parameters.value(name);
    if (!entry)
        return;
    entry->controls.append(control);
    QPair<qint64, qint64> range(-1, -1);
    if (entry->reg && !entry->reg->rangeOf(control->name(2), range.first, range.second))
        range = {-1, -1};
    entry->ranges.append(range);

    QString description;
    if (entry->reg) {
        QString fieldName;
        entry->reg->fieldInfo(control->name(2), fieldName, description);
        if (control->text().isEmpty())
            control->setText(fieldName);
        if (entry->reg->isReadOnly()) {
            control->setWritable(false);
        } else {
            Register *view = entry->reg->select(fieldName);
            const RegisterBit *first = view ? view->bitAt(0) : nullptr;
            control->setWritable(!first || first->attribute(QStringLiteral("readonly")).toInt() == 0);
        }
    } else {
        description = entry->var->description();
        if (entry->var->isReadOnly())
            control->setWritable(false);
        control->setRange(entry->var->min(), entry->var->max());
    }
    control->setToolTip(QStringLiteral("%1 <font color=#0000ff><br>%2</font><br>").arg(description, control->name(2)));
    control->connectTrigger(SLOT(slot_ControlTriggered()), this);
}

void Applet::slot_ControlTriggered()
{
    auto *control = qobject_cast<UniversalControl *>(sender());
    if (!control)
        return;
    if (control->kind() == UniversalControl::KindPushButton) {
        run(control->name(1), QVariant(control->name(0)));
        return;
    }
    const QString name = control->name(1);
    ParameterEntry *entry = parameters.value(name);
    if (!entry)
        return;
    if (entry->var && entry->var->type() == Variable::String) {
        entry->var->setText(control->byteValue(), ORIGIN_USER);
        slot_updateControls(name);
        return;
    }
    // A typo is no 0: nothing is written, and the control keeps the text
    // (marked invalid) for the user to mend.
    double number = 0;
    if (!control->readNumber(number)) {
        emit signal_log(1, QStringLiteral("%1: \"%2\" is no number; %3 is unchanged")
                               .arg(objectName(), QString::fromLatin1(control->byteValue()), name));
        return;
    }
    if (entry->reg)
        entry->reg->set(control->name(2), uint(qint64(number)));
    else
        entry->var->setValue(number, ORIGIN_USER);
    slot_updateControls(name);
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

void Applet::updateControlsOf(const QString &name)
{
    if (!parameters.contains(name))
        return;
    ++m_refreshes;
    if (s_batchDepth == 0) {
        refreshNow(name);
        return;
    }
    if (m_pendingRefresh.isEmpty())
        s_pendingApplets.append(this);
    m_pendingRefresh.insert(name);
}

void Applet::refreshNow(const QString &name)
{
    const ParameterEntry *entry = parameters.value(name);
    if (!entry)
        return;
    for (int i = 0; i < entry->controls.size(); ++i) {
        UniversalControl *control = entry->controls.at(i);
        if (entry->var && entry->var->type() == Variable::String) {
            control->setByteValue(entry->var->text());
            continue;
        }
        if (entry->var) {
            control->setValue(entry->var->value());
            continue;
        }
        const QPair<qint64, qint64> &range = entry->ranges.at(i);
        control->setValue(double(range.first < 0 ? entry->reg->get(control->name(2))
                                                 : entry->reg->bits(range.first, range.second)));
    }
}

Applet::RefreshBatch::RefreshBatch()
{
    ++s_batchDepth;
}

Applet::RefreshBatch::~RefreshBatch()
{
    if (--s_batchDepth == 0)
        flushRefreshes();
}

void Applet::refreshEverywhere(const QString &name)
{
    for (Applet *applet : std::as_const(s_liveApplets))
        applet->updateControlsOf(name);
}

void Applet::flushRefreshes()
{
    // A control's slot may write the model again while this runs: take the
    // lists first and let such writes queue up anew.
    while (!s_pendingApplets.isEmpty()) {
        const QList<QPointer<Applet>> applets = std::exchange(s_pendingApplets, {});
        for (const QPointer<Applet> &applet : applets) {
            if (!applet)
                continue;
            const QSet<QString> names = std::exchange(applet->m_pendingRefresh, {});
            ++s_batchDepth;
            for (const QString &name : names)
                applet->refreshNow(name);
            --s_batchDepth;
        }
    }
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
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        updateControlsOf(it.key());
}

bool Applet::initialize()
{
    const bool ok = init();
    windowAction()->setEnabled(false);
    bindControls();
    if (s_logWindow)
        connect(this, SIGNAL(signal_log(int,QString)), s_logWindow, SLOT(slot_addLog(int,QString)));
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

QWidget *Applet::createContainer(int mode, QWidget *dockParent)
{
    m_containerMode = mode;
    if (mode == ContainerDock) {
        if (!dock) {
            dock = new QDockWidget(windowTitle(), dockParent);
            dock->setObjectName(objectName() + QLatin1String("Dock"));
            dock->setWidget(this);
            dock->hide();
        }
        return dock;
    }
    if (mode == ContainerMdi) {
        if (!subWindow) {
            // A form drawn smaller than its layout needs would be cut off
            // by the fixed container.
            resize(size().expandedTo(sizeHint()));
            subWindow = new QMdiSubWindow;
            subWindow->setWidget(this);
            subWindow->setGeometry(geometry().adjusted(0, 0, 20, 40));
            if (fixedWidth)
                subWindow->setFixedWidth(width() + 10);
            if (fixedHeight)
                subWindow->setFixedHeight(height() + 35);
            subWindow->setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
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
