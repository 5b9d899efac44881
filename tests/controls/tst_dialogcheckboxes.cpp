#include "controls/dialogcheckboxes.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

QAbstractButton *entry(const DialogCheckBoxes &dialog, int row)
{
    QListWidget *list = dialog.listWidget();
    return qobject_cast<QAbstractButton *>(list->itemWidget(list->item(row)));
}

QPushButton *buttonNamed(const DialogCheckBoxes &dialog, const QString &text)
{
    for (QAbstractButton *button : dialog.buttonBox()->buttons()) {
        if (button->text() == text)
            return qobject_cast<QPushButton *>(button);
    }
    return nullptr;
}

// The entries are wider than their texts; a click lands on the indicator.
const QPoint onIndicator(6, 7);

} // namespace

class tst_DialogCheckBoxes : public QObject
{
    Q_OBJECT

private slots:
    void modes_data();
    void modes();
    void allOnAllOff();
    void radioButtonsExcludeEachOther();
    void okAndCancel_data();
    void okAndCancel();
};

void tst_DialogCheckBoxes::modes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("entryClass");
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<bool>("allButtons");

    QTest::newRow("check boxes") << 0 << "QCheckBox" << QStringList() << true;
    QTest::newRow("radio buttons") << 1 << "QRadioButton" << QStringList{"CR0"} << false;
    QTest::newRow("push buttons") << 2 << "QPushButton" << QStringList() << true;
}

void tst_DialogCheckBoxes::modes()
{
    QFETCH(int, mode);
    QFETCH(QString, entryClass);
    QFETCH(QStringList, checked);
    QFETCH(bool, allButtons);

    DialogCheckBoxes dialog(mode);
    dialog.addChoices({"CR0", "CR1"});
    dialog.addChoices({"SR0"});
    QCOMPARE(dialog.listWidget()->count(), 3);
    const QStringList texts{"CR0", "CR1", "SR0"};
    for (int row = 0; row < 3; ++row) {
        QAbstractButton *button = entry(dialog, row);
        QVERIFY(button);
        QCOMPARE(QString(button->metaObject()->className()), entryClass);
        QCOMPARE(button->text(), texts.at(row));
        QCOMPARE(button->size(), QSize(150, 15));
        QCOMPARE(button->minimumSize(), button->maximumSize());
    }
    QStringList result;
    QCOMPARE(dialog.checkedChoices(result), int(checked.size()));
    QCOMPARE(result, checked);

    QCOMPARE(dialog.buttonBox()->orientation(), Qt::Horizontal);
    QVERIFY(dialog.buttonBox()->button(QDialogButtonBox::Ok));
    QVERIFY(dialog.buttonBox()->button(QDialogButtonBox::Cancel));
    for (const QString &name : {QString("All On"), QString("All Off")}) {
        QPushButton *button = buttonNamed(dialog, name);
        QCOMPARE(button != nullptr, allButtons);
        if (button)
            QCOMPARE(dialog.buttonBox()->buttonRole(button), QDialogButtonBox::ActionRole);
    }
}

void tst_DialogCheckBoxes::allOnAllOff()
{
    DialogCheckBoxes dialog(DialogCheckBoxes::CheckBoxes);
    dialog.addChoices({"CR0", "CR1", "CR2", "CR3"});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseClick(buttonNamed(dialog, "All On"), Qt::LeftButton);
    QStringList result{"stale"};
    QCOMPARE(dialog.checkedChoices(result), 4);
    QCOMPARE(result, (QStringList{"CR0", "CR1", "CR2", "CR3"}));

    QTest::mouseClick(entry(dialog, 1), Qt::LeftButton, {}, onIndicator);
    QCOMPARE(dialog.checkedChoices(result), 3);
    QCOMPARE(result, (QStringList{"CR0", "CR2", "CR3"}));

    QTest::mouseClick(buttonNamed(dialog, "All Off"), Qt::LeftButton);
    QCOMPARE(dialog.checkedChoices(result), 0);
    QVERIFY(result.isEmpty());
    QVERIFY(dialog.isVisible());
}

void tst_DialogCheckBoxes::radioButtonsExcludeEachOther()
{
    DialogCheckBoxes dialog(DialogCheckBoxes::RadioButtons);
    dialog.addChoices({"a", "b", "c"});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(entry(dialog, 2), Qt::LeftButton, {}, onIndicator);
    QStringList result;
    QCOMPARE(dialog.checkedChoices(result), 1);
    QCOMPARE(result, QStringList{"c"});
}

void tst_DialogCheckBoxes::okAndCancel_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
}

void tst_DialogCheckBoxes::okAndCancel()
{
    QFETCH(int, button);
    QFETCH(int, result);
    DialogCheckBoxes dialog(DialogCheckBoxes::CheckBoxes);
    dialog.addChoices({"CR0", "CR1"});
    QTimer::singleShot(0, &dialog, [&dialog, button] {
        entry(dialog, 1)->click();
        dialog.buttonBox()->button(QDialogButtonBox::StandardButton(button))->click();
    });
    QCOMPARE(dialog.exec(), result);
    QStringList chosen;
    QCOMPARE(dialog.checkedChoices(chosen), 1);
    QCOMPARE(chosen, QStringList{"CR1"});
}

QTEST_MAIN(tst_DialogCheckBoxes)
#include "tst_dialogcheckboxes.moc"
