#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QDialogButtonBox;
class QListWidget;

// A modal list of choices: check boxes (mode 0, all unchecked), radio
// buttons (mode 1, the first checked) or plain push buttons (mode 2).
// Callers run it with exec() and read checkedChoices.
class DialogCheckBoxes : public QDialog
{
    Q_OBJECT

public:
    enum Mode
    {
        CheckBoxes = 0,
        RadioButtons = 1,
        PushButtons = 2
    };

    explicit DialogCheckBoxes(int mode, QWidget *parent = nullptr);

    void addChoices(const QStringList &choices);
    // Replaces choices by the texts of the checked entries, in order.
    int checkedChoices(QStringList &choices) const;

    int mode() const { return m_mode; }
    QListWidget *listWidget() const { return m_list; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }

public slots:
    void slot_SetAllOn();
    void slot_SetAllOff();

private:
    QList<QAbstractButton *> entries() const;
    void setAllChecked(bool on);

    int m_mode;
    QListWidget *m_list;
    QDialogButtonBox *m_buttons;
};
