#include "applet/applethelper.h"
#include "applets/spicontroller.h"
#include "benchfixture.h"
#include "chip/registermap.h"
#include "controls/dialogcheckboxes.h"
#include "model/register.h"
#include "model/variable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The SPI frames the board received, without the watchdog bit, which
// toggles from frame to frame.
QList<uint> framesOf(const QStringList &lines)
{
    QList<uint> frames;
    for (const QString &line : lines) {
        for (const QString &word : line.split(' ')) {
            if (word.startsWith("SPI0CS0DATA=02"))
                frames.append(word.mid(14).toUInt(nullptr, 16) & ~0x800u);
        }
    }
    return frames;
}

AppletHelper *openHelp(Applet *applet)
{
    QTest::keyClick(applet, Qt::Key_F1);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *help = qobject_cast<AppletHelper *>(widget);
        if (help && help->windowTitle() == "HELP:" + applet->windowTitle())
            return help;
    }
    return nullptr;
}

void answerSelection(const QStringList &check)
{
    QTimer::singleShot(0, [check] {
        auto *dialog = qobject_cast<DialogCheckBoxes *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QListWidget *list = dialog->listWidget();
        for (int row = 0; row < list->count(); ++row) {
            auto *box = qobject_cast<QCheckBox *>(list->itemWidget(list->item(row)));
            box->setChecked(check.contains(box->text()));
        }
        dialog->accept();
    });
}

} // namespace

class tst_RegisterFiles : public QObject
{
    Q_OBJECT

private slots:
    void exportChangeReapply();
    void selectionInRegistrationOrder();
    void applyInHbControllerHelp_data();
    void applyInHbControllerHelp();
    void exportKeepsTheChip();
};

// A user saves the bridge configuration registers of the SPI controller,
// changes them, and applies the saved file again from the configurations
// list: the chip receives the saved values.
void tst_RegisterFiles::exportChangeReapply()
{
    BenchFixture b;
    QVERIFY(b.ok);
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto restore = qScopeGuard([&] {
        QDir::setCurrent(previous);
        AppletHelper::setFileChooser(nullptr);
    });

    auto *spi = b.applet<SpiController>("SpiController");
    QVERIFY(spi);
    const QStringList names{"CR5A", "CR5B", "CR6A", "CR6B", "CR7A", "CR7B", "CR8A", "CR8B"};
    const QList<uint> saved{0x155, 0x4AA, 0x0F0, 0x40F, 0x3C3, 0x43C, 0x2AA, 0x755};
    for (int i = 0; i < names.size(); ++i)
        QVERIFY(spi->set(names.at(i) + "[]", saved.at(i), ORIGIN_FORCED));

    AppletHelper *help = openHelp(spi);
    QVERIFY(help);
    AppletHelper::setFileChooser(
        [&](const QString &, const QString &, bool) { return dir.filePath("bridges.101"); });
    answerSelection(names);
    help->pbExport->click();
    QFile file(dir.filePath("bridges.101.SpiController"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), names.size() + 1);
    QVERIFY(lines.contains("CR5B::01010101001"));

    for (const QString &name : names)
        spi->set(name + "[]", name.endsWith('B') ? 0x400u : 0u, ORIGIN_FORCED);
    b.settle();
    b.markSent();

    QComboBox *configurations = help->configurationsCombo;
    const int entry = configurations->findText("bridges.101.SpiController");
    QVERIFY(entry > 0);
    configurations->setCurrentIndex(entry);
    b.settle();

    const QList<uint> frames = framesOf(b.sent());
    for (int i = 0; i < names.size(); ++i) {
        const uint frame = uint(5 + i / 2) << 12 | saved.at(i);
        QVERIFY2(frames.contains(frame),
                 qPrintable(QString("%1: frame %2 not sent").arg(names.at(i)).arg(frame, 4, 16)));
        QCOMPARE(b.app->registers()->reg(names.at(i))->get(names.at(i) + "[]"), saved.at(i));
    }
    // The half-bridge controller's window shows the applied values too.
    Applet *hb = b.applet<Applet>("HBController");
    QVERIFY(hb);
    auto *slope = hb->findChild<QComboBox *>("cmCR5A_1_0");
    QVERIFY(slope);
    QCOMPARE(uint(slope->currentIndex()), saved.at(0) & 0x3);
    QCOMPARE(b.answerer.count(), 0);
}

// The register choice of Export lists the registers as the window
// registered them, the same on every run.
void tst_RegisterFiles::selectionInRegistrationOrder()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    AppletHelper *help = openHelp(spi);
    QVERIFY(help);
    AppletHelper::setFileChooser([](const QString &, const QString &, bool) { return QString(); });
    auto restore = qScopeGuard([] { AppletHelper::setFileChooser(nullptr); });
    QStringList listed;
    QTimer::singleShot(0, [&listed] {
        auto *dialog = qobject_cast<DialogCheckBoxes *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QListWidget *list = dialog->listWidget();
        for (int row = 0; row < list->count(); ++row)
            listed.append(qobject_cast<QCheckBox *>(list->itemWidget(list->item(row)))->text());
        dialog->reject();
    });
    QTest::mouseClick(help->pbExport, Qt::LeftButton);
    QCOMPARE(listed, RegisterMap::spiControllerOrder());
}

void tst_RegisterFiles::applyInHbControllerHelp_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("failures");

    QTest::newRow("every write succeeds") << QStringList() << QStringList();
    // The board refuses to start generator 2 (PWM1 on the board).
    QTest::newRow("one command refused") << QStringList{"--error", "PWM1START"}
                                         << QStringList{"HBController Parameter PWM2OnOff fail to write"};
}

// Applying a register file in the half-bridge controller's help window
// reports a write as failed only when a board command failed.
void tst_RegisterFiles::applyInHbControllerHelp()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, failures);

    BenchFixture b(simOptions);
    QVERIFY(b.ok);
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QFile file(dir.filePath("slopes.101.HBController"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("CR5A::10101010100\nCR5B::01010101011\n");
    file.close();

    Applet *hb = b.applet<Applet>("HBController");
    hb->showWindow();
    AppletHelper *help = openHelp(hb);
    QVERIFY(help);
    QTest::mouseClick(help->pbUpdateAll, Qt::LeftButton);
    QComboBox *configurations = help->configurationsCombo;
    const int entry = configurations->findText("slopes.101.HBController");
    QVERIFY(entry > 0);
    b.answerer.clear();
    configurations->setCurrentIndex(entry);
    QCOMPARE(b.app->registers()->reg("CR5A")->get("CR5A[]"), 0x155u);
    QCOMPARE(b.answerer.texts().filter("fail to write"), failures);
}

// An export while a configuration is selected leaves the chip alone: the
// refreshed list used to apply the older file again.
void tst_RegisterFiles::exportKeepsTheChip()
{
    BenchFixture b({"--chip-registers"});
    QVERIFY(b.ok);
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto restore = qScopeGuard([&] {
        QDir::setCurrent(previous);
        AppletHelper::setFileChooser(nullptr);
    });
    auto *spi = b.applet<SpiController>("SpiController");
    AppletHelper *help = openHelp(spi);
    QVERIFY(help);

    QVERIFY(spi->set("CR5A[]", 0x3FF, ORIGIN_FORCED));
    AppletHelper::setFileChooser([&](const QString &, const QString &, bool) { return dir.filePath("old"); });
    answerSelection({"CR5A"});
    help->pbExport->click();
    help->configurationsCombo->setCurrentIndex(help->configurationsCombo->findText("old.101.SpiController"));
    b.settle();

    QVERIFY(spi->set("CR5A[]", 0x155, ORIGIN_FORCED));
    QVERIFY(spi->run("WriteCR5A", QVariant()).toBool());
    b.settle();
    b.markSent();
    AppletHelper::setFileChooser(
        [&](const QString &, const QString &, bool) { return dir.filePath("fresh"); });
    answerSelection({"CR5A"});
    help->pbExport->click();
    b.settle();

    QVERIFY(QFile::exists(dir.filePath("fresh.101.SpiController")));
    QCOMPARE(help->configurationsCombo->currentText(), QString("old.101.SpiController"));
    QCOMPARE(framesOf(b.sent()), QList<uint>{});
    QCOMPARE(b.app->registers()->reg("CR5A")->get("CR5A[]"), 0x155u);
    QByteArray chip;
    QVERIFY(b.app->link()->getParameter("chipCR5A", &chip));
    QCOMPARE(chip, QByteArray::number(0x155));
}

QTEST_MAIN(tst_RegisterFiles)
#include "tst_registerfiles.moc"
