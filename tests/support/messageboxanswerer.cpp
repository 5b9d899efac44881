#include "messageboxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer, int delayMs)
    : m_answer(answer), m_delayMs(delayMs)
{
    qApp->installEventFilter(this);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    qApp->removeEventFilter(this);
}

QStringList MessageBoxAnswerer::texts() const
{
    QStringList list;
    for (const Box &box : m_boxes)
        list.append(box.text);
    return list;
}

bool MessageBoxAnswerer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            m_boxes.append({box->windowTitle(), box->text(), box->icon()});
            // Answer once the box runs its own loop.
            QPointer<QMessageBox> guard(box);
            const QMessageBox::StandardButton answer = m_answer;
            QTimer::singleShot(m_delayMs, box, [guard, answer] {
                if (!guard)
                    return;
                if (QAbstractButton *button = guard->button(answer))
                    button->click();
                else
                    guard->reject();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}
