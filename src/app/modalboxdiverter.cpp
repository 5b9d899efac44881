#include "app/modalboxdiverter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTextDocumentFragment>
#include <QTimer>

#include <cstdio>

ModalBoxDiverter::ModalBoxDiverter(QObject *parent) : QObject(parent)
{
    qApp->installEventFilter(this);
}

ModalBoxDiverter::~ModalBoxDiverter()
{
    qApp->removeEventFilter(this);
}

bool ModalBoxDiverter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            const QString title =
                box->windowTitle().isEmpty() ? QStringLiteral("Message") : box->windowTitle();
            const QString text = QTextDocumentFragment::fromHtml(box->text()).toPlainText();
            std::fprintf(stderr, "hql3318: %s: %s\n", qPrintable(title), qPrintable(text));
            std::fflush(stderr);
            QPointer<QMessageBox> guard(box);
            QTimer::singleShot(0, box, [guard] {
                if (!guard)
                    return;
                if (QAbstractButton *button = guard->escapeButton())
                    button->click();
                else
                    guard->reject();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}
