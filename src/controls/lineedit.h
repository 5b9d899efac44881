#pragma once

#include "controls/universalcontrol.h"

#include <QLineEdit>

class QAction;
class QMenu;

namespace CustomControls {

// An integer field shown in hexadecimal, binary or decimal. Typing a "0x",
// "0b" or "0d" prefix selects the radix, "#" turns the field into raw text.
class LineEdit : public QLineEdit, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit LineEdit(QWidget *parent = nullptr);

    // Direct calls (forms, applets) reach the widget's text; through the
    // interface the caption stays empty because a line edit has none.
    using QLineEdit::setText;
    using QLineEdit::text;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool writable) override;
    void setValue(double value) override;
    double value() override;
    // As value(); ok tells whether the text was a number in the field's radix.
    double value(bool *ok);
    bool readNumber(double &number) override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }
    QByteArray byteValue() override;
    void setByteValue(const QByteArray &bytes) override;
    void prepare() override;

signals:
    void signal_activated();

public slots:
    void slot_TextChanged();
    void slot_ActionMode(bool checked);
    void slot_triggered();

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &LineEdit::signal_activated, receiver, [slot] { slot(); });
    }

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void clearEditState();
    void markEdited();

    bool edited = false;
    bool arrayMode = false;
    int radix = 10;
    bool focused = false;
    QMenu *modeMenu;
    QAction *m_hexAction;
    QAction *m_binAction;
    QAction *m_decAction;
    QAction *m_arrayAction;
    bool m_syncingMenu = false;
};

} // namespace CustomControls
