#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <functional>

// Fills in and closes every dialog of a class that a blocking call opens:
// once a dialog runs its own loop, the action gets it.
class DialogDriver : public QObject
{
public:
    DialogDriver(const char *className, std::function<void(QDialog *)> action)
        : m_className(className), m_action(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    ~DialogDriver() override { qApp->removeEventFilter(this); }

    bool hasRun() const { return m_runs > 0; }
    int runs() const { return m_runs; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->inherits(m_className)) {
            if (auto *dialog = qobject_cast<QDialog *>(watched)) {
                QPointer<QDialog> guard(dialog);
                QTimer::singleShot(0, dialog, [this, guard] {
                    if (!guard)
                        return;
                    ++m_runs;
                    m_action(guard);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const char *m_className;
    std::function<void(QDialog *)> m_action;
    int m_runs = 0;
};
