#include "applet/boardactions.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSizeGrip>
#include <QSplitterHandle>
#include <QTabBar>
#include <QTextEdit>
#include <QThread>

#include <utility>

namespace {

bool isReadOnlyText(const QObject *object)
{
    if (const auto *edit = qobject_cast<const QPlainTextEdit *>(object))
        return edit->isReadOnly();
    if (const auto *edit = qobject_cast<const QTextEdit *>(object))
        return edit->isReadOnly();
    return false;
}

bool isInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu: return true;
    case QEvent::MouseMove: return static_cast<const QMouseEvent *>(event)->buttons() != Qt::NoButton;
    default: return false;
    }
}

} // namespace

BoardActions::BoardActions(QObject *parent) : QObject(parent)
{
    m_showBusy.setSingleShot(true);
    connect(&m_showBusy, &QTimer::timeout, this, &BoardActions::showBusy);
}

BoardActions::~BoardActions()
{
    if (m_filtering)
        qApp->removeEventFilter(this);
}

void BoardActions::enterWait()
{
    if (m_waits++ > 0)
        return;
    if (m_running == 0)
        m_actionClock.start();
    updateFilter();
    const qint64 ran = m_actionClock.isValid() ? m_actionClock.elapsed() : 0;
    if (ran >= ShowBusyAfterMs)
        showBusy();
    else
        m_showBusy.start(int(ShowBusyAfterMs - ran));
}

void BoardActions::leaveWait()
{
    if (m_waits == 0 || --m_waits > 0)
        return;
    // Between two waits the action's own code runs and nothing is painted:
    // its buttons are its own again.
    m_showBusy.stop();
    clearBusy();
    updateFilter();
    scheduleDrain();
}

void BoardActions::run(std::function<void()> work, const QString &key)
{
    if (!isBusy() && QThread::currentThread()->loopLevel() <= m_baseLevel) {
        ++m_running;
        work();
        --m_running;
        if (m_running == 0)
            scheduleDrain();
        return;
    }
    if (!key.isEmpty()) {
        for (const Held &held : m_backlog) {
            if (held.key == key)
                return;
        }
    }
    Held held;
    held.work = std::move(work);
    held.key = key;
    hold(std::move(held));
}

BoardActions::Running::Running(BoardActions *actions, QWidget *window) : m_actions(actions)
{
    if (!m_actions)
        return;
    if (m_actions->m_running++ == 0 && m_actions->m_waits == 0)
        m_actions->m_actionClock.start();
    m_actions->m_windows.append(window);
}

BoardActions::Running::~Running()
{
    if (!m_actions)
        return;
    m_actions->m_windows.removeLast();
    if (--m_actions->m_running == 0)
        m_actions->scheduleDrain();
}

bool BoardActions::isHarmless(QObject *receiver, const QEvent *event)
{
    const QEvent::Type type = event->type();
    // Moving, resizing and switching: nothing of it reaches the board.
    if (qobject_cast<QTabBar *>(receiver) || qobject_cast<QScrollBar *>(receiver) ||
        qobject_cast<QMenuBar *>(receiver) || qobject_cast<QMdiSubWindow *>(receiver) ||
        qobject_cast<QDockWidget *>(receiver) || qobject_cast<QSplitterHandle *>(receiver) ||
        qobject_cast<QSizeGrip *>(receiver) || qobject_cast<QMainWindow *>(receiver))
        return type != QEvent::Shortcut || qobject_cast<QMenuBar *>(receiver);
    // A menu opens and follows the pointer; choosing from it waits.
    if (qobject_cast<QMenu *>(receiver))
        return type == QEvent::MouseMove || type == QEvent::MouseButtonPress;
    // The tab bar's arrows, a dock's float and close buttons.
    if (auto *button = qobject_cast<QAbstractButton *>(receiver)) {
        QObject *parent = button->parent();
        return qobject_cast<QTabBar *>(parent) || qobject_cast<QDockWidget *>(parent);
    }
    // Scrolling and selecting text in a view (the log).
    if (isReadOnlyText(receiver))
        return type != QEvent::Shortcut;
    if (auto *widget = qobject_cast<QWidget *>(receiver)) {
        if (auto *area = qobject_cast<QAbstractScrollArea *>(widget->parent());
            area && area->viewport() == widget)
            return type == QEvent::Wheel || isReadOnlyText(area);
    }
    return false;
}

bool BoardActions::eventFilter(QObject *watched, QEvent *event)
{
    if (m_replaying && m_waits == 0)
        return false;
    // A window's close may end the program: not inside an action either.
    const bool closing = event->type() == QEvent::Close && watched->isWidgetType() &&
                         static_cast<QWidget *>(watched)->isWindow() &&
                         !static_cast<QWidget *>(watched)->windowFlags().testFlag(Qt::Popup);
    if (!closing && (!isInput(event) || isHarmless(watched, event)))
        return false;
    if (m_waits == 0) {
        // In a dialog's own loop the input is the dialog's.
        if (m_backlog.empty() || m_running > 0 || QThread::currentThread()->loopLevel() > m_baseLevel)
            return false;
        // Input after a wait comes after what the wait held back: that runs
        // first, then the input goes on. What arrives meanwhile is held.
        for (size_t ahead = m_backlog.size(); ahead > 0 && !m_backlog.empty() && m_waits == 0; --ahead)
            runFirst();
        if (m_waits == 0) {
            updateFilter();
            return false;
        }
    }
    Held held;
    held.receiver = watched;
    held.event.reset(event->clone());
    hold(std::move(held));
    // A close asked for is a close to come, not one refused.
    event->setAccepted(!closing);
    return true;
}

void BoardActions::hold(Held held)
{
    m_backlog.push_back(std::move(held));
    updateFilter();
    if (m_waits == 0)
        scheduleDrain();
}

void BoardActions::scheduleDrain()
{
    if (m_drainScheduled || m_backlog.empty())
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(this, &BoardActions::drain, Qt::QueuedConnection);
}

void BoardActions::drain()
{
    m_drainScheduled = false;
    if (m_waits > 0 || m_running > 0)
        return; // the end of the wait or of the action comes back here
    if (QThread::currentThread()->loopLevel() > m_baseLevel) {
        // A dialog's loop: back when the loop the actions start from is.
        m_loopReturn.call([this] { return QThread::currentThread()->loopLevel() <= m_baseLevel; },
                          [this] { scheduleDrain(); });
        return;
    }
    if (!m_backlog.empty())
        runFirst();
    // One at a time: the windows paint between two.
    updateFilter();
    if (!m_backlog.empty())
        scheduleDrain();
    else if (!isBusy())
        emit signal_idle();
}

void BoardActions::runFirst()
{
    Held held = std::move(m_backlog.front());
    m_backlog.pop_front();
    ++m_running;
    if (held.work) {
        held.work();
    } else if (held.receiver) {
        const bool replaying = std::exchange(m_replaying, true);
        if (held.event->type() == QEvent::Close)
            static_cast<QWidget *>(held.receiver.data())->close();
        else
            QCoreApplication::sendEvent(held.receiver, held.event.get());
        m_replaying = replaying;
    }
    --m_running;
}

void BoardActions::showBusy()
{
    QWidget *window = nullptr;
    for (qsizetype i = m_windows.size() - 1; i >= 0 && !window; --i)
        window = m_windows.at(i);
    if (!window || !window->isVisible() || m_waits == 0 || m_busyWindow)
        return;
    m_busyWindow = window;
    window->setCursor(Qt::BusyCursor);
    QWidget *focus = QApplication::focusWidget();
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->isEnabled())
            continue;
        // Disabling the focused button would hand the focus on, and an
        // edit that loses it sends its value.
        if (button == focus)
            window->setFocus(Qt::OtherFocusReason);
        button->setEnabled(false);
        m_disabled.append(button);
    }
    if (focus && focus != QApplication::focusWidget())
        m_refocus = focus;
}

void BoardActions::clearBusy()
{
    if (!m_busyWindow)
        return;
    for (const QPointer<QAbstractButton> &button : std::as_const(m_disabled)) {
        if (button)
            button->setEnabled(true);
    }
    m_disabled.clear();
    m_busyWindow->unsetCursor();
    m_busyWindow = nullptr;
    if (m_refocus)
        m_refocus->setFocus(Qt::OtherFocusReason);
    m_refocus = nullptr;
}

void BoardActions::updateFilter()
{
    const bool wanted = m_waits > 0 || !m_backlog.empty();
    if (wanted == m_filtering)
        return;
    m_filtering = wanted;
    if (wanted)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}
