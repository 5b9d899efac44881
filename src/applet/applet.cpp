#include "applet/applet.h"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMdiSubWindow>

Applet::Applet(QWidget *parent) : QWidget(parent) {}

Applet::~Applet()
{
    // The sub-window has no parent and shows this applet: take the applet out
    // before the container goes, so neither deletes the other twice.
    if (subWindow) {
        subWindow->setWidget(nullptr);
        delete subWindow;
    }
}

bool Applet::set(const QString &, const QVariant &, int)
{
    return false;
}

QVariant Applet::get(const QString &, int)
{
    return QVariant();
}

bool Applet::transfer(int, const QString &)
{
    return true;
}

bool Applet::initialize()
{
    const bool ok = init();
    windowAction()->setEnabled(false);
    QMetaObject::connectSlotsByName(this);
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
            dock->setWidget(this);
            dock->hide();
        }
        return dock;
    }
    if (mode == ContainerMdi) {
        if (!subWindow) {
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
        connect(dock, &QDockWidget::visibilityChanged, this, &Applet::slot_SetInactiveWindow);
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
}

void Applet::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit signal_HideWindow();
}
