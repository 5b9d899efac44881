#include "controls/checkbox.h"
#include "controls/combobox.h"
#include "controls/lineedit.h"
#include "controls/pushbutton.h"
#include "controls/realedit.h"
#include "controls/slider.h"
#include "controls/switch.h"
#include "demoapplet.h"
#include "messageboxanswerer.h"
#include "model/register.h"
#include "model/variable.h"
#include "ui_demoapplet.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QTest>

using namespace CustomControls;

// A fresh model and window for every test.
struct Fixture
{
    Register cr0{"HB_EN1=0#HB1 output enable;HB_EN2=0#HB2 output enable;HB_EN3=0#;HB_EN4=0#;_[2:0]#;"
                 "SRA[2:0]#Status register read select;SRA_MODE=0#Continuos reading of selected SRx;",
                 "CR0"};
    Register sr0{
        "@readonly=1;D0=0#;HB_QSB=0#VDS fail - Overload;_[1:0]#;OVF=0#Over-voltage;UVF=0#Under-voltage;",
        "SR0"};
    Variable freq{"@variable=Freq @type=real @value=1000 @min=0 @max=100000 @descr=Generator frequency"};
    Variable label{"@variable=Label @type=string @value=none @descr=A name"};
    Variable mode{"@variable=Mode @value=2 @readonly"};
    DemoApplet applet{&cr0, &sr0, &freq, &label, &mode};

    Fixture() { applet.initialize(); }
};

class tst_Applet : public QObject
{
    Q_OBJECT

private slots:
    void parameterName_data();
    void parameterName();
    void binding();
    void controlToModelToControls();
    void rawTextWritesNothing();
    void onlineOffline();
    void busyGuard();
    void setAndGetByPath_data();
    void setAndGetByPath();
    void writeParameters();
    void functionButton();
    void refreshesWithinFunctions();
    void duplicateRegistration();
    void closingHidesWindow();
    void subWindowInArea();
};

void tst_Applet::parameterName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("range") << "CR5A[9:8]"
                           << "CR5A";
    QTest::newRow("all bits") << "CR0[]"
                              << "CR0";
    QTest::newRow("plain") << "ADC_Result1"
                           << "ADC_Result1";
    QTest::newRow("prefixed") << "Board.SR0[4]"
                              << "SR0";
    QTest::newRow("too many") << "a.b.c[1]"
                              << "";
}

void tst_Applet::parameterName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(Applet::parameterNameOf(path), name);
}

void tst_Applet::binding()
{
    Fixture f;
    Ui::DemoApplet *ui = f.applet.ui;
    // A bound check box without caption takes the field's name; one with a caption keeps it.
    QCOMPARE(ui->cbCR0_0->text(), QString("HB_EN1"));
    QCOMPARE(ui->cbCR0_1->text(), QString("Enable 2"));
    QCOMPARE(ui->cbSR0_4->text(), QString("OVF"));
    QVERIFY(!ui->cbSR0_4->isWritable());
    QVERIFY(ui->cbCR0_0->isWritable());
    QCOMPARE(ui->cbSR0_4->toolTip(), QString("Over-voltage <font color=#0000ff><br>SR0[4]</font><br>"));
    QCOMPARE(ui->reFreq->toolTip(), QString("Generator frequency <font color=#0000ff><br>Freq</font><br>"));
    QVERIFY(ui->cbSR0_4->isConnected());
    QVERIFY(!ui->cbNoSuchThing_1->isConnected());
    QVERIFY(ui->pbDemo_doThing_fast->isConnected());
    QCOMPARE(f.applet.boundControls().size(), 11);
    // Controls show the model as soon as the applet is initialised.
    QCOMPARE(ui->reFreq->text(), QString("1.00k"));
    QCOMPARE(ui->leLabel->text(), QString("none"));
    QVERIFY(!f.applet.isOnline());
    QVERIFY(!f.applet.windowAction()->isEnabled());
    QVERIFY(f.applet.transfers.isEmpty());
}

void tst_Applet::controlToModelToControls()
{
    Fixture f;
    Ui::DemoApplet *ui = f.applet.ui;
    f.applet.show();
    QTest::mouseClick(ui->cbCR0_0, Qt::LeftButton);
    QCOMPARE(f.cr0.get("CR0[0]"), 1u);

    ui->cmCR0_9_7->setCurrentIndex(3);
    emit ui->cmCR0_9_7->activated(3);
    QCOMPARE(f.cr0.get("CR0[9:7]"), 3u);
    QCOMPARE(ui->leCR0_9_7->text(), QString("3"));

    ui->leCR0_9_7->setFocus();
    ui->leCR0_9_7->selectAll();
    QTest::keyClicks(ui->leCR0_9_7, "0x2");
    QTest::keyClick(ui->leCR0_9_7, Qt::Key_Return);
    QCOMPARE(f.cr0.get("CR0[9:7]"), 2u);
    QCOMPARE(ui->cmCR0_9_7->currentIndex(), 2);

    // A typo writes nothing (not 0) and stays for the user to mend.
    QSignalSpy logged(&f.applet, &Applet::signal_log);
    ui->leCR0_9_7->selectAll();
    QTest::keyClicks(ui->leCR0_9_7, "zz");
    QTest::keyClick(ui->leCR0_9_7, Qt::Key_Return);
    QCOMPARE(f.cr0.get("CR0[9:7]"), 2u);
    QCOMPARE(ui->leCR0_9_7->text(), QString("zz"));
    QCOMPARE(logged.count(), 1);
    QVERIFY(logged.at(0).at(1).toString().contains("\"zz\" is no number"));

    QTest::mouseClick(ui->swCR0_10, Qt::LeftButton);
    QCOMPARE(f.cr0.get("CR0[10]"), 1u);

    // A read-only status bit does not follow the mouse.
    QTest::mouseClick(ui->cbSR0_4, Qt::LeftButton);
    QCOMPARE(f.sr0.get("SR0[4]"), 0u);
    QVERIFY(!ui->cbSR0_4->isChecked());

    // A model change reaches every control bound to it.
    f.applet.set("Freq", 2500.0, ORIGIN_USER);
    QCOMPARE(ui->reFreq->text(), QString("2.50k"));
    QCOMPARE(ui->slFreq->value(), 2500);
    ui->slFreq->setValue(4000);
    QCOMPARE(f.freq.value(), 4000.0);
    QCOMPARE(ui->reFreq->text(), QString("4.00k"));

    ui->leLabel->setFocus();
    ui->leLabel->selectAll();
    QTest::keyClicks(ui->leLabel, "motor A");
    QTest::keyClick(ui->leLabel, Qt::Key_Return);
    QCOMPARE(f.label.text(), QByteArray("motor A"));
}

// Raw text ("#" in front, or ARRAY from the menu) is no number: committing
// it leaves the register as it was, every time.
void tst_Applet::rawTextWritesNothing()
{
    Fixture f;
    CustomControls::LineEdit *edit = f.applet.ui->leCR0_9_7;
    f.applet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.applet));
    f.cr0.set("CR0[9:7]", 2);
    f.applet.slot_updateAllControls();
    QSignalSpy logged(&f.applet, &Applet::signal_log);
    QTest::mouseClick(edit, Qt::LeftButton);
    QStringList styles;
    for (const char *typed : {"#5", "7", "abc"}) {
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(f.cr0.get("CR0[9:7]"), 2u);
        styles.append(edit->styleSheet());
    }
    // Each stays marked as not taken.
    QCOMPARE(styles, QStringList(3, "color:red"));
    QCOMPARE(logged.count(), 3);
}

void tst_Applet::onlineOffline()
{
    Fixture f;
    QVERIFY(f.applet.set("CR0[]", 5, ORIGIN_USER));
    QCOMPARE(f.cr0.get("CR0[]"), 5u);
    QVERIFY(f.applet.ui->cbCR0_0->isChecked());
    QVERIFY(f.applet.transfers.isEmpty());

    QSignalSpy changed(&f.applet, &Applet::signal_RegisterChanged);
    f.applet.activate();
    QVERIFY(f.applet.isOnline());
    QVERIFY(f.applet.windowAction()->isEnabled());
    QVERIFY(f.applet.set("CR0[]", 6, ORIGIN_USER));
    QCOMPARE(f.applet.transfers, (QList<QPair<int, QString>>{{0, "CR0"}}));
    QCOMPARE(changed.count(), 1);
    // The same value again changes nothing and sends nothing.
    f.applet.set("CR0[]", 6, ORIGIN_USER);
    QCOMPARE(f.applet.transfers.size(), 1);

    f.applet.deactivate();
    f.applet.set("CR0[]", 7, ORIGIN_USER);
    QCOMPARE(f.applet.transfers.size(), 1);
}

void tst_Applet::busyGuard()
{
    Fixture f;
    f.applet.readBack = true;
    f.applet.activate();
    QVERIFY(f.applet.set("CR0[1]", 1, ORIGIN_USER));
    // The read inside the write comes back for the same name and stops there.
    QCOMPARE(f.applet.transfers, (QList<QPair<int, QString>>{{0, "CR0"}}));
}

void tst_Applet::setAndGetByPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariant>("read");

    QTest::newRow("field") << "CR0[9:7]" << QVariant(5) << true << QVariant(5u);
    QTest::newRow("bit") << "CR0" << QVariant(1) << true << QVariant(1u);
    QTest::newRow("read-only register") << "SR0[4]" << QVariant(1) << true << QVariant(1u);
    // Whole numbers: the slider bound to Freq writes back what it shows.
    QTest::newRow("real") << "Freq" << QVariant(12.0) << true << QVariant(12.0);
    QTest::newRow("real as text") << "Freq" << QVariant("300") << true << QVariant(300.0);
    QTest::newRow("out of range") << "Freq" << QVariant(1e9) << false << QVariant(1000.0);
    QTest::newRow("not a number") << "Freq" << QVariant("fast") << false << QVariant(1000.0);
    QTest::newRow("string") << "Label" << QVariant("left") << true << QVariant(QString("left"));
    QTest::newRow("read-only variable") << "Mode" << QVariant(3) << false << QVariant(2.0);
    QTest::newRow("unknown") << "NOPE" << QVariant(1) << false << QVariant();
    QTest::newRow("empty path") << "" << QVariant(1) << false << QVariant();
    QTest::newRow("null value") << "Freq" << QVariant() << false << QVariant(1000.0);
}

void tst_Applet::setAndGetByPath()
{
    QFETCH(QString, path);
    QFETCH(QVariant, value);
    QFETCH(bool, ok);
    QFETCH(QVariant, read);

    Fixture f;
    QCOMPARE(f.applet.set(path, value, ORIGIN_USER), ok);
    const QVariant got = f.applet.get(path, ORIGIN_USER);
    QCOMPARE(got, read);
}

void tst_Applet::writeParameters()
{
    Fixture f;
    QVERIFY(f.applet.writeParameters("all"));
    QStringList written;
    for (const auto &t : std::as_const(f.applet.transfers)) {
        QCOMPARE(t.first, 0);
        written.append(t.second);
    }
    written.sort();
    // Read-only SR0 and Mode are skipped.
    QCOMPARE(written, (QStringList{"CR0", "Freq", "Label"}));

    f.applet.transfers.clear();
    f.applet.failing.insert("Freq");
    MessageBoxAnswerer answerer;
    QVERIFY(!f.applet.writeParameters("CR0;Freq;Unknown"));
    QCOMPARE(answerer.texts(), QStringList{"Demo Parameter Freq fail to write"});
    QCOMPARE(f.applet.transfers.size(), 3);

    // get refreshes from the board first.
    f.applet.transfers.clear();
    QCOMPARE(f.applet.get("Freq", ORIGIN_USER), QVariant(1000.0));
    QCOMPARE(f.applet.transfers, (QList<QPair<int, QString>>{{1, "Freq"}}));
}

void tst_Applet::functionButton()
{
    Fixture f;
    f.applet.show();
    QTest::mouseClick(f.applet.ui->pbDemo_doThing_fast, Qt::LeftButton);
    QCOMPARE(f.applet.runs, QStringList{"fast"});
    QCOMPARE(f.applet.functionNames(), QStringList{"doThing"});
}

void tst_Applet::refreshesWithinFunctions()
{
    Fixture f;
    Ui::DemoApplet *ui = f.applet.ui;
    f.applet.activate();
    QSignalSpy toggles(ui->cbCR0_0, &QCheckBox::toggled);

    // A function's writes reach the window once, when it ends.
    QVERIFY(f.applet.run("pulse", QVariant()).toBool());
    QCOMPARE(f.applet.seen, QList<bool>{false});
    QCOMPARE(toggles.count(), 1);
    QVERIFY(ui->cbCR0_0->isChecked());

    // A nested function sees what its caller wrote.
    QVERIFY(f.applet.run("clearAndPeek", QVariant()).toBool());
    QCOMPARE(f.applet.seen, (QList<bool>{false, false}));
    QCOMPARE(toggles.count(), 2);

    // Outside a function a write shows at once.
    f.applet.set("CR0[0]", 1u, ORIGIN_USER);
    QVERIFY(ui->cbCR0_0->isChecked());
}

void tst_Applet::duplicateRegistration()
{
    Fixture f;
    Register other("X[3:0]", "CR0");
    QVERIFY(!f.applet.addRegister(&other));
    QCOMPARE(f.applet.parameter("CR0")->reg, &f.cr0);
    QVERIFY(!f.applet.addRegister(nullptr));
    QVERIFY(!f.applet.addVariable(&f.freq));
}

void tst_Applet::closingHidesWindow()
{
    Fixture f;
    auto *sub = qobject_cast<QMdiSubWindow *>(f.applet.createContainer(Applet::ContainerMdi));
    QVERIFY(sub);
    f.applet.showWindow();
    QVERIFY(sub->isVisible());
    QVERIFY(f.applet.windowAction()->isChecked());
    sub->close();
    QVERIFY(!sub->isVisible());
    QVERIFY(!f.applet.windowAction()->isChecked());
}

void tst_Applet::subWindowInArea()
{
    // Declared before the applet, so the applet goes first.
    QMainWindow window;
    QPixmap red(16, 16);
    red.fill(Qt::red);
    window.setWindowIcon(QIcon(red));
    auto *area = new QMdiArea;
    window.setCentralWidget(area);
    Fixture f;
    QPixmap blue(16, 16);
    blue.fill(Qt::blue);
    const QIcon own(blue);
    f.applet.setWindowIcon(own);
    f.applet.resize(10, 10);
    auto *sub = qobject_cast<QMdiSubWindow *>(f.applet.createContainer(Applet::ContainerMdi, area));
    QVERIFY(sub);
    QCOMPARE(area->subWindowList(), QList<QMdiSubWindow *>{sub});
    QCOMPARE(sub->widget(), &f.applet);
    QCOMPARE(sub->windowIcon().cacheKey(), own.cacheKey());
    QVERIFY(!(sub->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(sub->windowFlags() & Qt::WindowCloseButtonHint);
    // A form drawn smaller than its layout needs is grown to fit.
    QVERIFY(f.applet.width() >= f.applet.sizeHint().width());
    QVERIFY(f.applet.height() >= f.applet.sizeHint().height());
    QVERIFY(sub->isHidden());
    window.show();
    f.applet.showWindow();
    QVERIFY(sub->isVisible());
}

QTEST_MAIN(tst_Applet)
#include "tst_applet.moc"
