#pragma once

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>

// One wheel notch (delta 120) or part of one over the middle of widget, as
// a mouse wheel sends it; QTest has no wheel events.
inline void sendWheel(QWidget *widget, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF pos(widget->width() / 2, widget->height() / 2);
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}
