#include "controls/dialogcheckboxes.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QSize EntrySize(150, 15);

} // namespace

DialogCheckBoxes::DialogCheckBoxes(int mode, QWidget *parent)
    : QDialog(parent), m_mode(mode), m_list(new QListWidget(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this))
{
    if (mode != RadioButtons) {
        QPushButton *allOn = m_buttons->addButton(QStringLiteral("All On"), QDialogButtonBox::ActionRole);
        QPushButton *allOff = m_buttons->addButton(QStringLiteral("All Off"), QDialogButtonBox::ActionRole);
        connect(allOn, &QPushButton::clicked, this, &DialogCheckBoxes::slot_SetAllOn);
        connect(allOff, &QPushButton::clicked, this, &DialogCheckBoxes::slot_SetAllOff);
    }
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_buttons);
}

void DialogCheckBoxes::addChoices(const QStringList &choices)
{
    for (const QString &text : choices) {
        QAbstractButton *entry = nullptr;
        if (m_mode == RadioButtons) {
            entry = new QRadioButton(text);
            // The item widgets share the viewport as parent, so the radio
            // buttons exclude each other.
            entry->setChecked(m_list->count() == 0);
        } else if (m_mode == PushButtons) {
            entry = new QPushButton(text);
        } else {
            entry = new QCheckBox(text);
        }
        entry->setFixedSize(EntrySize);
        auto *item = new QListWidgetItem(m_list);
        item->setSizeHint(EntrySize);
        m_list->setItemWidget(item, entry);
    }
}

QList<QAbstractButton *> DialogCheckBoxes::entries() const
{
    QList<QAbstractButton *> list;
    for (int row = 0; row < m_list->count(); ++row) {
        if (auto *entry = qobject_cast<QAbstractButton *>(m_list->itemWidget(m_list->item(row))))
            list.append(entry);
    }
    return list;
}

int DialogCheckBoxes::checkedChoices(QStringList &choices) const
{
    choices.clear();
    for (QAbstractButton *entry : entries()) {
        if (entry->isChecked())
            choices.append(entry->text());
    }
    return int(choices.size());
}

void DialogCheckBoxes::setAllChecked(bool on)
{
    for (QAbstractButton *entry : entries())
        entry->setChecked(on);
}

void DialogCheckBoxes::slot_SetAllOn()
{
    setAllChecked(true);
}

void DialogCheckBoxes::slot_SetAllOff()
{
    setAllChecked(false);
}
