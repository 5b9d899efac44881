#include "util/loopreturn.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QTimer>

#include <memory>

void LoopReturn::call(std::function<bool()> back, std::function<void()> then)
{
    if (m_armed)
        return;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    m_armed = true;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m_context,
                                   [this, connection, back = std::move(back), then = std::move(then)] {
                                       if (!back())
                                           return;
                                       QObject::disconnect(*connection);
                                       m_armed = false;
                                       QTimer::singleShot(0, m_context, then);
                                   });
}
