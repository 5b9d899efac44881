#include "controls/noticebox.h"

namespace NoticeBox {

QMessageBox *show(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

} // namespace NoticeBox
