#pragma once

#include "controls/universalcontrol.h"

#include <QLineEdit>

class QWheelEvent;

namespace CustomControls {

// What the typed-value fields share: an edit shown in blue until it is
// sent, the script-drag hint, and a wheel that turns only a field the user
// clicked into.
class EditField : public QLineEdit, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    // Direct calls (forms, applets) reach the widget's text; through the
    // interface the caption stays empty because an edit field has none.
    using QLineEdit::setText;
    using QLineEdit::text;
    using QWidget::toolTip;

    bool isWritable() override { return !isReadOnly(); }
    void setWritable(bool writable) override { setReadOnly(!writable); }
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }

signals:
    void signal_activated();

protected:
    EditField(QWidget *parent, int kind);

    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override;

    void clearEditState();
    void markEdited();
    // Whole wheel notches gathered in accumulator (fine-grained wheels send
    // parts of one); 0 while a notch is incomplete or the wheel is not ours.
    int takeWheelNotches(QWheelEvent *event, int &accumulator);

    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

    bool edited = false;
    bool focused = false;
};

} // namespace CustomControls
