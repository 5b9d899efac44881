#pragma once

#include "applet/boardactions.h"

#include <QObject>
#include <QTimer>

#include <functional>

// Runs what once a board action waits for the board with the event loop
// running: what a person or a script does in the middle of an action.
inline void whenBoardWaits(BoardActions &actions, QObject *context, std::function<void()> what)
{
    auto *poll = new QTimer(context);
    poll->setInterval(1);
    QObject::connect(poll, &QTimer::timeout, poll, [&actions, poll, what] {
        if (!actions.isWaiting())
            return;
        poll->stop();
        poll->deleteLater();
        what();
    });
    poll->start();
}
