#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// A box that only tells something (one OK button) and runs no event loop of
// its own: the caller goes on at once, so a script's reply, the next
// request or a timer is never held until a person reads it. The box keeps
// the application's input until it is closed, and frees itself then.
namespace NoticeBox {

QMessageBox *show(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text);

inline QMessageBox *information(QWidget *parent, const QString &title, const QString &text)
{
    return show(QMessageBox::Information, parent, title, text);
}
inline QMessageBox *warning(QWidget *parent, const QString &title, const QString &text)
{
    return show(QMessageBox::Warning, parent, title, text);
}
inline QMessageBox *critical(QWidget *parent, const QString &title, const QString &text)
{
    return show(QMessageBox::Critical, parent, title, text);
}

} // namespace NoticeBox
