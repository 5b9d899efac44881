#pragma once

#include "controls/editfield.h"

class QAction;
class QMenu;

namespace CustomControls {

// An integer field shown in hexadecimal, binary or decimal. Typing a "0x",
// "0b" or "0d" prefix selects the radix, "#" turns the field into raw text.
class LineEdit : public EditField
{
    Q_OBJECT

public:
    explicit LineEdit(QWidget *parent = nullptr);

    void setValue(double value) override;
    double value() override;
    // As value(); ok tells whether the text was a number in the field's radix.
    double value(bool *ok);
    bool readNumber(double &number) override;
    QByteArray byteValue() override;
    void setByteValue(const QByteArray &bytes) override;
    void prepare() override;

public slots:
    void slot_TextChanged();
    void slot_ActionMode(bool checked);
    void slot_triggered();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    bool arrayMode = false;
    int radix = 10;
    QMenu *modeMenu;
    QAction *m_hexAction;
    QAction *m_binAction;
    QAction *m_decAction;
    QAction *m_arrayAction;
    bool m_syncingMenu = false;
};

} // namespace CustomControls
