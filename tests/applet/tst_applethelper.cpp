#include "applet/applet.h"
#include "applet/applethelper.h"
#include "applet/registerfile.h"
#include "controls/dialogcheckboxes.h"
#include "controls/lineedit.h"
#include "controls/realedit.h"
#include "fulldisk.h"
#include "model/register.h"
#include "model/variable.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

namespace {

const char *const CR5A =
    "T_PC1[1:0]#HB1 R/F slope pre-charge time;I_PCR1[2:0]#HB1 Rising slope pre-charge current;"
    "I_PCF1[2:0]#HB1 Falling slope pre-charge current;BLANK1[1:0]#HB1 Cross-conduction "
    "blanking time;D10=0#;";
const char *const CR0 = "HB_EN1=0#HB1 output enable;HB_EN2=0#HB2 output enable;HB_EN3=0#HB3 output enable;"
                        "HB_EN4=0#HB4 output enable;_[2:0]#;SRA[2:0]#Status register read select;"
                        "SRA_MODE=0#Continuos reading of selected SRx;";
const char *const SR0 =
    "@readonly=1;D0=0#;HB_QSB=0#VDS fail - Overload;_[1:0]#;OVF=0#Over-voltage;"
    "UVF=0#Under-voltage;CPF=0#Charge pump fail;CPL=0#Charge pump low;SPIF=0#SPI transmission "
    "fail;FSM=0#Fail-safe input;RCF=0#Registers cleared;TM=0#Test mode active;";

// An applet with the chip's CR5A, CR0 and SR0, one variable, and functions
// that answer with every kind of result. It documents its functions, in an
// order that is not sorted, only when run.
class HelperApplet : public Applet
{
    Q_OBJECT

public:
    HelperApplet()
    {
        setObjectName("Helper");
        setWindowTitle("Helper window");
    }

    bool init() override
    {
        addRegister(&cr5a);
        addRegister(&cr0);
        addRegister(&sr0);
        addVariable(&freq);
        return true;
    }

    QVariant run(const QString &function, const QVariant &argument) override
    {
        if (documents) {
            for (const char *name : {"text", "ok", "real", "bytes", "fail", "none"})
                functions.insert(name, QStringLiteral("Answers %1").arg(name));
        }
        arguments.append(argument);
        if (function == "ok")
            return true;
        if (function == "fail")
            return false;
        if (function == "real")
            return 2.5;
        if (function == "bytes")
            return QByteArray("\x01\xab", 2);
        if (function == "text")
            return QStringLiteral("hi");
        if (function == "none")
            return QVariant();
        return false;
    }

    bool transfer(TransferOp op, const QString &name) override
    {
        transfers.append({op, name});
        return true;
    }

    AppletHelper *help() const { return helpWindow; }

    Register cr5a{CR5A, "CR5A"};
    Register cr0{CR0, "CR0"};
    Register sr0{SR0, "SR0"};
    Variable freq{
        "@variable=Freq @type=real @value=1000 @min=0 @max=100000 @readonly @descr=Generator frequency"};
    QList<QPair<int, QString>> transfers;
    QVariantList arguments;
    // Off, it runs its functions without naming them, as some applets do.
    bool documents = true;
};

struct Fixture
{
    HelperApplet applet;
    AppletHelper *help = nullptr;

    Fixture()
    {
        applet.initialize();
        applet.activate();
        applet.slot_showHelp();
        help = applet.help();
    }

    QStringList written() const
    {
        QStringList names;
        for (const auto &t : applet.transfers) {
            if (t.first == Applet::WriteToBoard)
                names.append(t.second);
        }
        names.sort();
        return names;
    }
};

// The texts of the listing that carry the search highlighting.
QStringList highlighted(QTextEdit *view)
{
    QStringList marked;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().background() == QBrush(Qt::blue))
                marked.append(it.fragment().text());
        }
    }
    return marked;
}

// Answers the next register selection dialog: checks the named entries and
// confirms, or cancels when the list is empty. Records what it offered.
void answerSelection(const QStringList &check, QStringList *offered)
{
    QTimer::singleShot(0, [check, offered] {
        auto *dialog = qobject_cast<DialogCheckBoxes *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        offered->append(dialog->windowTitle());
        QListWidget *list = dialog->listWidget();
        for (int row = 0; row < list->count(); ++row) {
            auto *box = qobject_cast<QCheckBox *>(list->itemWidget(list->item(row)));
            offered->append(box->text());
            box->setChecked(check.contains(box->text()));
        }
        if (check.isEmpty())
            dialog->reject();
        else
            dialog->accept();
    });
}

// The current directory is where the configurations list looks.
struct InDirectory
{
    explicit InDirectory(const QString &path) : previous(QDir::currentPath()) { QDir::setCurrent(path); }
    ~InDirectory() { QDir::setCurrent(previous); }
    QString previous;
};

} // namespace

class tst_AppletHelper : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { AppletHelper::setFileChooser(nullptr); }
    void f1OpensHelpWithAllFunctions();
    void listing();
    void comboEntries();
    void getSetFill_data();
    void getSetFill();
    void typedReferenceStays();
    void search();
    void runResult_data();
    void runResult();
    void noDocumentedFunctions();
    void exportAndImport();
    void loadLines_data();
    void loadLines();
    void badFiles();
    void exportThroughDialogs();
    void exportOnFullDisk_data();
    void exportOnFullDisk();
    void registerFileName_data();
    void registerFileName();
    void configurationsApplyOnlyWhenPicked();
};

void tst_AppletHelper::f1OpensHelpWithAllFunctions()
{
    HelperApplet applet;
    applet.initialize();
    applet.show();
    QVERIFY(applet.functionNames().isEmpty());
    QTest::keyClick(&applet, Qt::Key_F1);
    AppletHelper *help = applet.help();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(!help->parentWidget());
    QCOMPARE(help->windowTitle(), QString("HELP:Helper window"));
    QCOMPARE(help->tabs->currentIndex(), 0);
    QCOMPARE(help->tabs->tabText(0), QString("Registers/Variables"));

    // Rendering ran the applet with the empty name, which filled its table.
    const QStringList sorted{"bytes", "fail", "none", "ok", "real", "text"};
    QStringList combo;
    for (int i = 0; i < help->functionCombo->count(); ++i)
        combo.append(help->functionCombo->itemText(i));
    QCOMPARE(combo, sorted);
    const QString page = help->functionView->toPlainText();
    QVERIFY2(page.contains("FUNCTION bytes\nAnswers bytes"), qPrintable(page));
    QVERIFY(page.indexOf("FUNCTION real") < page.indexOf("FUNCTION text"));

    // A modified F1 is no help request; the window is reused.
    help->hide();
    QTest::keyClick(&applet, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(!help->isVisible());
    QTest::keyClick(&applet, Qt::Key_F1);
    QCOMPARE(applet.help(), help);
    QVERIFY(help->isVisible());
}

void tst_AppletHelper::listing()
{
    Fixture f;
    f.applet.cr5a.set(0x100u);
    f.applet.transfers.clear();
    f.help->render("nodes");
    const QString text = f.help->parameterView->toPlainText();
    // The plain text shows the non-breaking spaces as spaces.
    QVERIFY2(text.contains("REG  CR5A[10..0]\n{0:1 }  T_PC1[2] = 0\nHB1 R/F slope pre-charge time\n"),
             qPrintable(text));
    QVERIFY(text.contains("{8:9 }  BLANK1[2] = 1\nHB1 Cross-conduction blanking time"));
    QVERIFY2(text.contains("VARIABLE  Freq \n=1000\nGenerator frequency"), qPrintable(text));
    // Sorted: CR0, CR5A, Freq, SR0.
    QVERIFY(text.indexOf("CR0[10..0]") < text.indexOf("CR5A[10..0]"));
    QVERIFY(text.indexOf("Freq") < text.indexOf("SR0[11..0]"));
    // Rendering reads the model only.
    QVERIFY(f.applet.transfers.isEmpty());

    // A render keeps the place the user scrolled to.
    QScrollBar *scroll = f.help->parameterView->verticalScrollBar();
    QVERIFY(scroll->maximum() > 20);
    scroll->setValue(scroll->maximum() / 2);
    const int place = scroll->value();
    f.help->render("nodes");
    QCOMPARE(scroll->value(), place);
}

void tst_AppletHelper::comboEntries()
{
    Fixture f;
    QStringList entries;
    for (int i = 0; i < f.help->parameterCombo->count(); ++i)
        entries.append(f.help->parameterCombo->itemText(i));
    const QStringList cr5a{"CR5A[T_PC1]",  "CR5A[I_PCR1]", "CR5A[I_PCF1]",
                           "CR5A[BLANK1]", "CR5A[D10]",    "CR5A[]"};
    QCOMPARE(entries.mid(entries.indexOf("CR5A[T_PC1]"), 6), cr5a);
    // The unnamed gap of CR0 adds no second whole-register entry.
    QCOMPARE(entries.count("CR0[]"), 1);
    QCOMPARE(entries.at(entries.indexOf("CR0[SRA_MODE]") + 1), QString("CR0[]"));
    QVERIFY(entries.contains("Freq"));

    // A render keeps the chosen entry.
    f.help->parameterCombo->setCurrentIndex(entries.indexOf("CR5A[BLANK1]"));
    f.help->render("nodes");
    QCOMPARE(f.help->parameterCombo->currentText(), QString("CR5A[BLANK1]"));
}

void tst_AppletHelper::getSetFill_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<uint>("cr5a");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char *name, QString button, QString entry, QString typed, uint cr5a,
                        QString shown) { QTest::newRow(name) << button << entry << typed << cr5a << shown; };

    // CR5A starts at 0x31F: BLANK1 = 3, T_PC1 = 3, I_PCR1 = 7.
    row("get field", "Get", "CR5A[BLANK1]", "", 0x31F, "3");
    row("get whole", "Get", "CR5A[]", "", 0x31F, "799");
    row("set whole", "Set", "CR5A[]", "0x2AB", 0x2AB, "2AB");
    row("set field", "Set", "CR5A[BLANK1]", "1", 0x11F, "1");
    row("set a typo", "Set", "CR5A[]", "12z", 0x31F, "12z");
    row("fill 1 from a field", "Fill 1", "CR5A[BLANK1]", "", 0x7FF, "");
    row("fill 0 from a field", "Fill 0", "CR5A[T_PC1]", "", 0, "");
    row("unknown name", "Fill 1", "CR9[]", "", 0x31F, "");
}

void tst_AppletHelper::getSetFill()
{
    QFETCH(QString, button);
    QFETCH(QString, entry);
    QFETCH(QString, typed);
    QFETCH(uint, cr5a);
    QFETCH(QString, shown);

    Fixture f;
    f.applet.cr5a.set(0x31Fu);
    f.applet.transfers.clear();
    QSignalSpy log(&f.applet, &Applet::signal_log);
    f.help->parameterCombo->setEditText(entry);
    f.help->valueEdit->setText(typed);
    const QHash<QString, QPushButton *> buttons{{"Get", f.help->pbGet},
                                                {"Set", f.help->pbSet},
                                                {"Fill 0", f.help->pbFill0},
                                                {"Fill 1", f.help->pbFill1}};
    QTest::mouseClick(buttons.value(button), Qt::LeftButton);
    QCOMPARE(f.applet.cr5a.get("CR5A[]"), cr5a);
    QCOMPARE(f.help->valueEdit->text(), shown);
    // Get reads the board first; a write reaches the board (fill always does).
    if (button == "Get")
        QCOMPARE(f.applet.transfers, (QList<QPair<int, QString>>{{Applet::ReadFromBoard, "CR5A"}}));
    else
        QCOMPARE(f.written(), cr5a != 0x31Fu ? QStringList{"CR5A"} : QStringList());
    if (button == "Set" && log.isEmpty())
        QVERIFY(f.help->parameterView->toPlainText().contains(
            QString(" BLANK1[2] = %1\nHB1").arg((cr5a >> 8) & 3)));
    // Only the typo is reported.
    QCOMPARE(log.size(), typed == "12z" ? 1 : 0);
}

// A reference typed into the selector stays chosen after Set, so the next
// Set writes it again.
void tst_AppletHelper::typedReferenceStays()
{
    Fixture f;
    f.applet.cr5a.set(0x31Fu);
    const uint cr0 = f.applet.cr0.get("CR0[]");
    QLineEdit *reference = f.help->parameterCombo->lineEdit();
    reference->selectAll();
    QTest::keyClicks(reference, "CR5A[9:8]");
    for (uint value : {2u, 1u}) {
        f.help->valueEdit->setText(QString::number(value));
        QTest::mouseClick(f.help->pbSet, Qt::LeftButton);
        QCOMPARE(f.applet.cr5a.get("CR5A[9:8]"), value);
        QCOMPARE(f.help->parameterCombo->currentText(), QString("CR5A[9:8]"));
    }
    QCOMPARE(f.applet.cr0.get("CR0[]"), cr0);
}

void tst_AppletHelper::search()
{
    Fixture f;
    QTextEdit *view = f.help->parameterView;
    const int occurrences = view->toPlainText().count("HB1");
    QVERIFY(occurrences >= 5);

    QTest::keyClicks(f.help->searchEdit, "HB");
    QTest::keyClick(f.help->searchEdit, Qt::Key_1);
    QStringList marked = highlighted(view);
    QCOMPARE(marked.size(), occurrences);
    // Each match reaches to the start of the next word.
    QVERIFY2(marked.contains("HB1 "), qPrintable(marked.join('|')));
    QCOMPARE(marked.count("HB1"), 0);
    QVERIFY(view->textCursor().position() == view->toPlainText().indexOf("HB1"));

    // A narrower search replaces the highlighting; a cleared field removes it.
    QTest::keyClicks(f.help->searchEdit, " R");
    marked = highlighted(view);
    QCOMPARE(marked.size(), view->toPlainText().count("HB1 R"));
    f.help->searchEdit->clear();
    QVERIFY(highlighted(view).isEmpty());
    QCOMPARE(view->toPlainText().count("HB1"), occurrences);
}

void tst_AppletHelper::runResult_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("shown");

    // Fields: 0 integer, 1 real, 2 text.
    QTest::newRow("succeeds") << "ok" << 0 << "1";
    QTest::newRow("fails") << "fail" << 0 << "0";
    QTest::newRow("does not exist") << "nothing" << 0 << "0";
    QTest::newRow("real") << "real" << 1 << "2.50";
    QTest::newRow("bytes") << "bytes" << 2 << "01ab";
    QTest::newRow("string") << "text" << 2 << "hi";
    QTest::newRow("invalid") << "none" << 2 << "";
}

void tst_AppletHelper::runResult()
{
    QFETCH(QString, function);
    QFETCH(int, field);
    QFETCH(QString, shown);

    Fixture f;
    f.help->show();
    f.help->tabs->setCurrentIndex(1);
    f.help->textResult->setText("stale");
    f.help->functionCombo->setEditText(function);
    f.help->argumentEdit->setText("42");
    f.applet.arguments.clear();
    QTest::mouseClick(f.help->pbRun, Qt::LeftButton);

    // The argument goes as the typed text.
    QCOMPARE(f.applet.arguments, QVariantList{QVariant(QString("42"))});
    const QList<QLineEdit *> fields{f.help->intResult, f.help->realResult, f.help->textResult};
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(fields.at(i)->isVisible(), i == field);
    QCOMPARE(fields.at(field)->text(), shown);
}

// An applet that names none of its functions gets a page that says so,
// not an empty one, and nothing to run; once it names them they are listed.
void tst_AppletHelper::noDocumentedFunctions()
{
    HelperApplet applet;
    applet.documents = false;
    applet.initialize();
    applet.slot_showHelp();
    AppletHelper *help = applet.help();
    QVERIFY(help);
    help->tabs->setCurrentIndex(1);
    QCOMPARE(help->functionView->toPlainText(), QString("This window documents no functions."));
    QCOMPARE(help->functionCombo->count(), 0);
    // A function named by the user still runs.
    help->functionCombo->setEditText("ok");
    QTest::mouseClick(help->pbRun, Qt::LeftButton);
    QCOMPARE(help->intResult->text(), QString("1"));

    applet.documents = true;
    QTest::mouseClick(help->pbUpdateAll, Qt::LeftButton);
    QVERIFY(help->functionView->toPlainText().startsWith("FUNCTION bytes\nAnswers bytes"));
    QCOMPARE(help->functionCombo->count(), 6);
}

void tst_AppletHelper::exportAndImport()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("both.101.Helper");
    Fixture f;
    f.applet.cr0.set(0x81u);
    f.applet.sr0.fromBitString("000011");
    f.applet.transfers.clear();

    QVERIFY(f.help->exportRegisters({"SR0", "CR0", "Freq"}, path));
    // Selection order, bit 0 first; the variable has no line.
    QCOMPARE(readFile(path), QByteArray("SR0::000011000000\nCR0::10000001000\n"));
    // Reading asked the board for fresh values.
    QCOMPARE(f.applet.transfers.size(), 2);

    f.applet.cr0.set(0u);
    f.applet.sr0.fromBitString("000000");
    f.applet.transfers.clear();
    QVERIFY(f.help->loadFile(path));
    QCOMPARE(f.applet.cr0.get("CR0[]"), 0x81u);
    QCOMPARE(f.applet.sr0.get("SR0[]"), 0x30u);
    // Every writable parameter goes to the board; read-only SR0 and Freq do not.
    QCOMPARE(f.written(), (QStringList{"CR0", "CR5A"}));
    QVERIFY(f.help->parameterView->toPlainText().contains("{7:9 }  SRA[3] = 1"));
}

void tst_AppletHelper::loadLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<uint>("cr0");

    // CR0 starts at 0x010.
    QTest::newRow("one bit") << QByteArray("CR0::1\n") << true << 0x011u;
    QTest::newRow("no line end") << QByteArray("CR0::01") << true << 0x012u;
    QTest::newRow("single colon") << QByteArray("CR0:1\n") << false << 0x010u;
    QTest::newRow("two separators") << QByteArray("CR0::1::0\n") << false << 0x010u;
    QTest::newRow("full line with CR") << QByteArray("CR0::11000000001\r\n") << true << 0x403u;
    QTest::newRow("short line with CR") << QByteArray("CR0::1\r\n") << true << 0x011u;
    QTest::newRow("longer than the register") << QByteArray("CR0::0000000000011\n") << true << 0x000u;
    QTest::newRow("skipped lines") << QByteArray("junk\nCR9::1\nFreq::1\n\nCR0::001\n") << true << 0x014u;
    QTest::newRow("text ends at NUL") << QByteArray("CR0::1\n\0CR0::01\n", 17) << true << 0x011u;
    QTest::newRow("nothing for this applet") << QByteArray("Freq::1\nCR9::1\n") << false << 0x010u;
}

void tst_AppletHelper::loadLines()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, loaded);
    QFETCH(uint, cr0);

    QTemporaryDir dir;
    const QString path = dir.filePath("lines.101.Helper");
    QVERIFY(writeFile(path, content));
    Fixture f;
    f.applet.cr0.set(0x010u);
    f.applet.transfers.clear();
    QSignalSpy log(&f.applet, &Applet::signal_log);
    QCOMPARE(f.help->loadFile(path), loaded);
    QCOMPARE(f.applet.cr0.get("CR0[]"), cr0);
    // A file with nothing to apply says so and writes nothing to the board.
    QCOMPARE(f.written().isEmpty(), !loaded);
    QCOMPARE(log.size(), loaded ? 0 : 1);
}

void tst_AppletHelper::badFiles()
{
    QTemporaryDir dir;
    Fixture f;
    QSignalSpy log(&f.applet, &Applet::signal_log);

    // No name (a cancelled dialog) is quiet; a missing file is an error.
    QVERIFY(!f.help->loadFile(QString()));
    QCOMPARE(log.size(), 0);
    QVERIFY(!f.help->loadFile(dir.filePath("missing.101.Helper")));
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).at(0).toInt(), -1);

    // Far too big to be a register file: refused before anything is applied.
    const QString big = dir.filePath("big.101.Helper");
    QVERIFY(writeFile(big, "CR0::1\n" + QByteArray(AppletHelper::MaxFileSize, '0')));
    QVERIFY(!f.help->loadFile(big));
    QCOMPARE(f.applet.cr0.get("CR0[]"), 0u);
    QCOMPARE(log.size(), 2);

    // An export that cannot be written is reported.
    QVERIFY(!f.help->exportRegisters({"CR0"}, dir.filePath("no/such/dir/x.101.Helper")));
    QCOMPARE(log.size(), 3);
    QVERIFY(log.at(2).at(1).toString().contains("x.101.Helper"));
}

void tst_AppletHelper::exportThroughDialogs()
{
    QTemporaryDir dir;
    InDirectory in(dir.path());
    Fixture f;
    f.applet.cr5a.set(0x2AAu);
    QStringList asked;
    AppletHelper::setFileChooser([&](const QString &caption, const QString &filter, bool save) {
        asked.append(QString("%1|%2|%3").arg(caption, filter).arg(save));
        return dir.filePath("motor1.101");
    });

    // Cancelled selection: nothing is written.
    QStringList offered;
    answerSelection({}, &offered);
    f.help->pbExport->click();
    QVERIFY(!QFile::exists(dir.filePath("motor1.101.Helper")));

    offered.clear();
    answerSelection({"CR5A"}, &offered);
    f.help->pbExport->click();
    QCOMPARE(readFile(dir.filePath("motor1.101.Helper")), QByteArray("CR5A::01010101010\n"));
    // Registers only, in registry order, none checked at first.
    QCOMPARE(offered.value(0), QString("REGISTER"));
    QStringList registers = offered.mid(1);
    registers.sort();
    QCOMPARE(registers, (QStringList{"CR0", "CR5A", "SR0"}));
    QCOMPARE(asked.value(0), QString("Save file|Files (*.101)|1"));
    // The new file is offered at once.
    QCOMPARE(f.help->configurationsCombo->findText("motor1.101.Helper"), 1);

    // A name without ".101" gets it, as a workspace gets ".bench".
    AppletHelper::setFileChooser(
        [&](const QString &, const QString &, bool) { return dir.filePath("motorregs"); });
    answerSelection({"CR0"}, &offered);
    f.help->pbExport->click();
    QCOMPARE(readFile(dir.filePath("motorregs.101.Helper")), QByteArray("CR0::00000000000\n"));
    QVERIFY(!QFile::exists(dir.filePath("motorregs.Helper")));
    QVERIFY(f.help->configurationsCombo->findText("motorregs.101.Helper") > 0);

    // Import through the dialog applies the chosen file.
    f.applet.cr5a.set(0u);
    AppletHelper::setFileChooser([&](const QString &caption, const QString &filter, bool save) {
        asked.append(QString("%1|%2|%3").arg(caption, filter).arg(save));
        return dir.filePath("motor1.101.Helper");
    });
    f.help->pbImport->click();
    QCOMPARE(asked.last(), QString("Load file|Files (*.101.Helper *.101)|0"));
    QCOMPARE(f.applet.cr5a.get("CR5A[]"), 0x2AAu);
}

void tst_AppletHelper::exportOnFullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("full tmpfs") << true;
    QTest::newRow("file size limit") << false;
}

// The register file that was there stays, and the error is logged.
void tst_AppletHelper::exportOnFullDisk()
{
    QFETCH(bool, tmpfs);
    SmallDisk disk;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    QTemporaryDir scratch;
    const QString path = QDir(tmpfs ? disk.path() : scratch.path()).filePath("kept.101.Helper");
    QVERIFY(writeFile(path, "CR0::1\n"));
    Fixture f;
    QSignalSpy log(&f.applet, &Applet::signal_log);

    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs)
        QVERIFY(disk.fill());
    else
        limit = std::make_unique<FileSizeLimit>(0);
    const bool written = f.help->exportRegisters({"CR0", "CR5A"}, path);
    limit.reset();

    QVERIFY(!written);
    QCOMPARE(readFile(path), QByteArray("CR0::1\n"));
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).at(0).toInt(), -1);
    QCOMPARE(log.at(0).at(1).toString(),
             "Cannot write " + path + ": " + (tmpfs ? "No space left on device" : "File too large"));
}

void tst_AppletHelper::registerFileName_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("with .101") << "/d/motor1.101"
                               << "/d/motor1.101.Helper";
    QTest::newRow("without") << "/d/motorregs"
                             << "/d/motorregs.101.Helper";
    QTest::newRow("other suffix") << "/d/motor.v2"
                                  << "/d/motor.v2.101.Helper";
    QTest::newRow("a file of this applet") << "/d/m.101.Helper"
                                           << "/d/m.101.Helper";
    QTest::newRow("a file of another applet") << "/d/m.101.Other"
                                              << "/d/m.101.Other.101.Helper";
}

void tst_AppletHelper::registerFileName()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QCOMPARE(RegisterFile::fileName(chosen, "Helper"), written);
}

// Only a pick applies a configuration: refreshing the list (after an
// export, or "Update all") and a wheel turned over it without focus write
// nothing. They used to write the older file to the model and the chip.
void tst_AppletHelper::configurationsApplyOnlyWhenPicked()
{
    QTemporaryDir dir;
    InDirectory in(dir.path());
    QVERIFY(writeFile(dir.filePath("b.101.Helper"), "CR0::0001\n"));
    QVERIFY(writeFile(dir.filePath("A.101.Helper"), "CR0::1\n"));
    QVERIFY(writeFile(dir.filePath("c.101.Other"), "CR0::01\n"));
    QVERIFY(QDir(dir.path()).mkdir("d.101.Helper"));
    Fixture f;
    QComboBox *list = f.help->configurationsCombo;
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries.append(list->itemText(i));
    QCOMPARE(entries, (QStringList{"", "A.101.Helper", "b.101.Helper"}));
    QVERIFY(f.applet.transfers.isEmpty());

    list->setCurrentIndex(2);
    QCOMPARE(f.applet.cr0.get("CR0[]"), 0x8u);
    QVERIFY(f.written().contains("CR0"));

    f.applet.cr0.set(0x155u);
    f.applet.transfers.clear();
    QTest::mouseClick(f.help->pbUpdateAll, Qt::LeftButton);
    QCOMPARE(list->currentText(), QString("b.101.Helper"));
    QStringList offered;
    AppletHelper::setFileChooser([&](const QString &, const QString &, bool) { return dir.filePath("new"); });
    answerSelection({"CR0"}, &offered);
    f.help->pbExport->click();
    QCOMPARE(readFile(dir.filePath("new.101.Helper")), QByteArray("CR0::10101010100\n"));
    QCOMPARE(list->currentText(), QString("b.101.Helper"));
    QCOMPARE(f.applet.cr0.get("CR0[]"), 0x155u);
    QVERIFY(f.written().isEmpty());

    // A wheel over the list reaches it only once it has the focus.
    const auto wheel = [list] {
        const QPointF at(list->width() / 2, list->height() / 2);
        QWheelEvent event(at, list->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &event);
    };
    f.help->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.help));
    f.help->pbUpdateAll->setFocus();
    wheel();
    QCOMPARE(list->currentText(), QString("b.101.Helper"));
    QVERIFY(!list->hasFocus());
    QVERIFY(f.written().isEmpty());
    list->setFocus();
    QVERIFY(list->hasFocus());
    wheel();
    QCOMPARE(list->currentIndex(), 3);
    QCOMPARE(list->currentText(), QString("new.101.Helper"));
    QCOMPARE(f.applet.cr0.get("CR0[]"), 0x155u);
    QVERIFY(f.written().contains("CR0"));

    // The empty entry applies nothing.
    f.applet.transfers.clear();
    list->setCurrentIndex(0);
    QVERIFY(f.applet.transfers.isEmpty());
}

QTEST_MAIN(tst_AppletHelper)
#include "tst_applethelper.moc"
