#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "util/loopreturn.h"

#include <deque>
#include <functional>
#include <memory>

class QAbstractButton;
class QEvent;
class QWidget;

// Board actions one at a time, on the GUI thread, with the windows live.
//
// A board action (a click, a timer's refresh, the help window, a script's
// request) runs its function code as written, top to bottom; each exchange
// with the board waits for the link's thread in an event loop of its own
// (a live wait), so painting, window moves, tabs, scroll bars and menus
// go on. What could start a second board action inside the first is held
// back here and runs once the first is over, in the order it came: input
// to anything but those, a close of a window, a timer's board work, a
// notice. A window whose action lasts shows it: a busy cursor and its
// buttons disabled while it waits.
class BoardActions : public QObject
{
    Q_OBJECT

public:
    // How long an action runs before its window shows it: a quick one
    // would only flicker.
    static constexpr int ShowBusyAfterMs = 100;

    explicit BoardActions(QObject *parent = nullptr);
    ~BoardActions() override;

    // Around each live wait (the link's guard) and any other wait inside an
    // action that runs the event loop.
    void enterWait();
    void leaveWait();
    bool isWaiting() const { return m_waits > 0; }
    // An action runs, waits or something waits for its turn.
    bool isBusy() const { return m_waits > 0 || m_running > 0 || !m_backlog.empty(); }

    // Runs work now when nothing is under way, else after what came before.
    // Work with a key is dropped while work of the same key still waits
    // (a refresh does not pile up).
    void run(std::function<void()> work, const QString &key = QString());

    // Marks the window whose code runs a board action (nested marks: the
    // innermost counts) for as long as it lives.
    class Running
    {
    public:
        Running(BoardActions *actions, QWidget *window);
        ~Running();
        Running(const Running &) = delete;
        Running &operator=(const Running &) = delete;

    private:
        BoardActions *m_actions;
    };

    // Events held back so far (for tests and the benchmark's wait for idle).
    int heldBack() const { return int(m_backlog.size()); }

    // The event-loop depth actions start from: 1, the application's main loop.
    void setBaseLevel(int level) { m_baseLevel = level; }

signals:
    // Nothing runs and nothing waits any more.
    void signal_idle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Held
    {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
        std::function<void()> work;
        QString key;
    };

    // Whether input to this object can never start a board action.
    static bool isHarmless(QObject *receiver, const QEvent *event);
    void hold(Held held);
    void scheduleDrain();
    void drain();
    // Runs what waits longest: its work, or its event sent on.
    void runFirst();
    void showBusy();
    void clearBusy();
    void updateFilter();

    std::deque<Held> m_backlog;
    QList<QPointer<QWidget>> m_windows;
    QList<QPointer<QAbstractButton>> m_disabled;
    QPointer<QWidget> m_busyWindow;
    // Where the focus goes back to when the buttons are enabled again.
    QPointer<QWidget> m_refocus;
    QElapsedTimer m_actionClock;
    QTimer m_showBusy;
    LoopReturn m_loopReturn{this};
    int m_waits = 0;
    int m_running = 0;
    int m_baseLevel = 1;
    bool m_filtering = false;
    bool m_replaying = false;
    bool m_drainScheduled = false;
};
