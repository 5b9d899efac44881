#include "applet/applethelper.h"
#include "applets/spicontroller.h"
#include "benchfixture.h"
#include "chip/registermap.h"
#include "chip/spiframe.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "model/variable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// The identifier rule the header promises: upper case, anything but a
// letter or digit becomes '_'.
QString cName(const QString &name)
{
    QString out;
    for (QChar c : name.toUpper())
        out += (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c : QChar('_');
    return out;
}

// Every named field of a register as the model reads references: name,
// and the bits that writing all ones to "REG[name]" sets.
struct FieldBits
{
    QString name;
    quint32 mask;
};

QList<FieldBits> fieldsOf(const Register *reg)
{
    QList<FieldBits> fields;
    const QStringList names = reg->format("@purename;", true).split(';');
    for (const QString &name : names) {
        if (name.isEmpty() || name == "_" ||
            std::any_of(fields.cbegin(), fields.cend(), [&](const FieldBits &f) { return f.name == name; }))
            continue;
        Register scratch(reg->description(), reg->name());
        scratch.set(0u);
        scratch.set(reg->name() + "[" + name + "]", 0xFFFFFFFFu);
        fields.append({name, scratch.bits(0, scratch.size() - 1)});
    }
    return fields;
}

int lowestBit(quint32 mask)
{
    int n = 0;
    while (mask && !(mask & 1u)) {
        mask >>= 1;
        ++n;
    }
    return n;
}

// Compiles a C program that includes the header with the system's compiler,
// as strictly as firmware builds do, and runs it: its output, one value per
// line as "NAME VALUE".
bool compileAndRun(const QString &dir, const QString &header, const QStringList &macros,
                   QHash<QString, qulonglong> *values, QString *error)
{
    QByteArray program = "#include <stdio.h>\n#include \"" + header.toLatin1() + "\"\nint main(void)\n{\n";
    for (const QString &macro : macros)
        program += "    printf(\"%s %lu\\n\", \"" + macro.toLatin1() + "\", (unsigned long)(" +
                   macro.toLatin1() + "));\n";
    program += "    return 0;\n}\n";
    QFile source(QDir(dir).filePath("main.c"));
    if (!source.open(QIODevice::WriteOnly) || source.write(program) != program.size())
        return false;
    source.close();
    QProcess cc;
    cc.setProcessChannelMode(QProcess::MergedChannels);
    cc.setWorkingDirectory(dir);
    cc.start("cc", {"-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-o", "main", "main.c"});
    if (!cc.waitForFinished(60000) || cc.exitCode() != 0) {
        *error = "cc: " + QString::fromLocal8Bit(cc.readAll());
        return false;
    }
    QProcess run;
    run.start(QDir(dir).filePath("main"), {});
    if (!run.waitForFinished(10000) || run.exitCode() != 0) {
        *error = "the compiled program failed";
        return false;
    }
    for (const QByteArray &line : run.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values->insert(QString::fromLatin1(parts.at(0)), parts.at(1).toULongLong());
    }
    return true;
}

bool haveCompiler()
{
    return !QStandardPaths::findExecutable("cc").isEmpty();
}

// Loads the JSON with Python's json module and prints what it holds, one
// line per register and per field.
QStringList readWithPython(const QString &path, QString *error)
{
    const char *script = R"(import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    d = json.load(f)
print("SOURCE", d["source"])
for r in d["registers"]:
    print("REG", r["name"], r["size"], r["access"], r.get("value", "-"), r.get("frame", "-"))
    for f in r["fields"]:
        print("FIELD", r["name"], f["name"], f["lsb"], f["msb"], f.get("value", "-"), f["description"])
)";
    QProcess python;
    python.start("python3", {"-c", script, path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        *error = QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QVariant runGlobal(MainApp *app, const QString &name, const QVariant &argument, bool *ok)
{
    QVariant value = argument;
    QVariant result;
    *ok = app->run(name, value, &result);
    return result;
}

} // namespace

class tst_RegisterExport : public QObject
{
    Q_OBJECT

private slots:
    void headerMatchesModel();
    void framesAreWhatWritesSend();
    void jsonMatchesModel();
    void oddNamesStillCompile();
    void helpWindowExports();
    void failedExportKeepsFile_data();
    void failedExportKeepsFile();
};

// The scripting command writes the SPI controller's chip registers; the
// compiled header gives every value, mask and shift the model has.
void tst_RegisterExport::headerMatchesModel()
{
    if (!haveCompiler())
        QSKIP("no C compiler (cc) on this machine");
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    QVERIFY(spi->set("CR5A[]", 0u, ORIGIN_FORCED));
    QVERIFY(spi->set("CR5A[9:8]", 2u, ORIGIN_FORCED));
    QVERIFY(spi->set("CR5A[4:2]", 5u, ORIGIN_FORCED));
    QVERIFY(spi->set("CR4[]", 0x5A3u, ORIGIN_FORCED));
    QVERIFY(spi->run("ReadSR7", QVariant()).toBool());

    QTemporaryDir dir;
    bool ok = false;
    QCOMPARE(runGlobal(b.app, "export_registers", dir.filePath("hql3318_regs.h"), &ok), QVariant(true));
    QVERIFY(ok);
    QFile header(dir.filePath("hql3318_regs.h"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    const QByteArray text = header.readAll();
    // The chip said who it is.
    QVERIFY2(text.contains("Chip identity: SR7 = 0x651"), text.left(600).constData());

    const QStringList owned = spi->ownedRegisters();
    QVERIFY(owned.contains("CR0") && owned.contains("SR7") && !owned.contains("WD") &&
            !owned.contains("DATA"));
    QStringList macros;
    for (const QString &name : owned) {
        macros << "HQL3318_" + cName(name);
        for (const FieldBits &f : fieldsOf(spi->parameter(name)->reg))
            macros << "HQL3318_" + cName(name) + "_" + cName(f.name) + "_MASK"
                   << "HQL3318_" + cName(name) + "_" + cName(f.name) + "_SHIFT";
    }
    QHash<QString, qulonglong> values;
    QString error;
    QVERIFY2(compileAndRun(dir.path(), "hql3318_regs.h", macros, &values, &error), qPrintable(error));

    for (const QString &name : owned) {
        const Register *reg = spi->parameter(name)->reg;
        QCOMPARE(values.value("HQL3318_" + cName(name)), qulonglong(reg->bits(0, reg->size() - 1)));
        for (const FieldBits &f : fieldsOf(reg)) {
            const QString base = "HQL3318_" + cName(name) + "_" + cName(f.name);
            QCOMPARE(values.value(base + "_MASK"), qulonglong(f.mask));
            QCOMPARE(values.value(base + "_SHIFT"), qulonglong(lowestBit(f.mask)));
        }
    }
    QCOMPARE(values.value("HQL3318_CR5A"), qulonglong(0x214));
    QCOMPARE(values.value("HQL3318_CR5A_BLANK1_MASK"), qulonglong(0x300));
    QCOMPARE(values.value("HQL3318_SR7"), qulonglong(0x651));
}

// HQL3318_<REG>_FRAME is the frame the register's Write function sends,
// with the reserved bits and D10 as that function forces them.
void tst_RegisterExport::framesAreWhatWritesSend()
{
    if (!haveCompiler())
        QSKIP("no C compiler (cc) on this machine");
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    QStringList controls;
    for (const SpiFrame::WriteRule &rule : SpiFrame::writeRules())
        controls << QLatin1String(rule.name);
    QCOMPARE(controls.size(), 15);
    // All ones: every forced bit shows in the frame.
    for (const QString &name : controls)
        QVERIFY(spi->set(name + "[]", 0x7FFu, ORIGIN_FORCED));

    QTemporaryDir dir;
    bool ok = false;
    runGlobal(b.app, "export_registers", dir.filePath("frames.h"), &ok);
    QVERIFY(ok);
    QStringList macros;
    for (const QString &name : controls)
        macros << "HQL3318_" + name + "_FRAME";
    QHash<QString, qulonglong> values;
    QString error;
    QVERIFY2(compileAndRun(dir.path(), "frames.h", macros, &values, &error), qPrintable(error));

    for (const QString &name : controls) {
        b.markSent();
        QVERIFY(spi->run("Write" + name, QVariant()).toBool());
        QStringList frames;
        for (const QString &line : b.sent()) {
            for (const QString &word : line.split(' ')) {
                if (word.startsWith("SPI0CS0DATA=02"))
                    frames << word.mid(14);
            }
        }
        QCOMPARE(frames.size(), 1);
        const qulonglong frame = values.value("HQL3318_" + name + "_FRAME");
        QCOMPARE(frame & 0x800, 0ull);
        QCOMPARE(frames.at(0).toULongLong(nullptr, 16) & ~0x800ull, frame);
    }
    QCOMPARE(values.value("HQL3318_CR5B_FRAME"), 0x57FFull);
    QCOMPARE(values.value("HQL3318_CR2_FRAME"), 0x207Full);
}

// Python's json module reads the export, and it holds the model: names,
// sizes, access, values, frames and every field with its bits.
void tst_RegisterExport::jsonMatchesModel()
{
    if (QStandardPaths::findExecutable("python3").isEmpty())
        QSKIP("python3 is not installed");
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    QVERIFY(spi->set("CR5B[]", 0x400u, ORIGIN_FORCED));
    QVERIFY(spi->set("CR5B[6:3]", 9u, ORIGIN_FORCED));
    QTemporaryDir dir;
    bool ok = false;
    runGlobal(b.app, "export_registers", dir.filePath("map.JSON"), &ok);
    QVERIFY(ok);
    QString error;
    const QStringList lines = readWithPython(dir.filePath("map.JSON"), &error);
    QVERIFY2(!lines.isEmpty(), qPrintable(error));

    QStringList expected{"SOURCE SpiController"};
    for (const QString &name : spi->ownedRegisters()) {
        const Register *reg = spi->parameter(name)->reg;
        const uint value = reg->bits(0, reg->size() - 1);
        quint16 frame = 0;
        const QString frameText = SpiFrame::writeFrame(name, value, &frame) ? QString::number(frame) : "-";
        expected << QString("REG %1 %2 %3 %4 %5")
                        .arg(name)
                        .arg(reg->size())
                        .arg(reg->isReadOnly() ? "read-only" : "writable")
                        .arg(value)
                        .arg(frameText);
        for (const FieldBits &f : fieldsOf(reg)) {
            const int lsb = lowestBit(f.mask);
            const int msb = 31 - qCountLeadingZeroBits(f.mask);
            expected << QString("FIELD %1 %2 %3 %4 %5 %6")
                            .arg(name, f.name)
                            .arg(lsb)
                            .arg(msb)
                            .arg(reg->bits(lsb, msb))
                            .arg(reg->bitAt(lsb)->description);
        }
    }
    QCOMPARE(lines, expected);
    QVERIFY(lines.contains("REG CR5B 11 writable 1096 21576"));
    QVERIFY(lines.contains("REG SR0 12 read-only 0 -"));
}

// Names that are no C identifiers, names that become the same one, and
// descriptions that would end a comment: the header still compiles
// warning-free and Python reads the descriptions back unchanged.
void tst_RegisterExport::oddNamesStillCompile()
{
    if (!haveCompiler() || QStandardPaths::findExecutable("python3").isEmpty())
        QSKIP("needs a C compiler (cc) and python3");
    Register odd(
        "A-B=1#ends */ here /* again ?\?/;A_B=0#\"quoted\" \\ back;lo.w[2:0]#Gr\u00fc\u00dfe;_[1:0]#;Z=1#;",
        "my-reg");
    Register twin("x=1#;", "MY_REG");
    Register wide("W[39:0]#forty bits;", "wide");
    RegisterExport out("odd source");
    out.addRegister(&odd);
    out.addRegister(&twin);
    out.addRegister(&wide);
    out.setChipIdentity("who */ knows");

    QTemporaryDir dir;
    QString error;
    QVERIFY2(out.write(dir.filePath("odd.h"), &error), qPrintable(error));
    QVERIFY2(out.write(dir.filePath("odd.json"), &error), qPrintable(error));

    struct Expect
    {
        const char *macro;
        qulonglong value;
    };
    const Expect expected[] = {
        {"HQL3318_MY_REG", 0x81},
        {"HQL3318_MY_REG_A_B_0_MASK", 0x01},
        {"HQL3318_MY_REG_A_B_1_MASK", 0x02},
        {"HQL3318_MY_REG_LO_W_MASK", 0x1C},
        {"HQL3318_MY_REG_LO_W_SHIFT", 2},
        {"HQL3318_MY_REG_Z_MASK", 0x80},
        {"HQL3318_MY_REG_2", 1},
        {"HQL3318_MY_REG_2_X_MASK", 1},
    };
    QStringList macros;
    for (const Expect &e : expected)
        macros << e.macro;
    QHash<QString, qulonglong> values;
    QVERIFY2(compileAndRun(dir.path(), "odd.h", macros, &values, &error), qPrintable(error));
    for (const Expect &e : expected)
        QVERIFY2(values.value(e.macro) == e.value, e.macro);

    const QStringList lines = readWithPython(dir.filePath("odd.json"), &error);
    QVERIFY2(!lines.isEmpty(), qPrintable(error));
    QVERIFY(lines.contains("FIELD my-reg A-B 0 0 1 ends */ here /* again ?\?/"));
    QVERIFY(lines.contains("FIELD my-reg A_B 1 1 0 \"quoted\" \\ back"));
    QVERIFY(lines.contains(QString("FIELD my-reg lo.w 2 4 0 Gr\u00fc\u00dfe")));
    // Wider than the numbers reach: the layout without a value.
    QVERIFY(lines.contains("REG wide 40 writable - -"));
    QVERIFY(lines.contains("FIELD wide W 0 39 - forty bits"));
}

// Only windows that own registers offer the exports; the buttons write
// the chosen file, adding the suffix the button stands for.
void tst_RegisterExport::helpWindowExports()
{
    BenchFixture b;
    QVERIFY(b.ok);
    QTemporaryDir dir;
    QStringList captions;
    QString answer;
    AppletHelper::setFileChooser([&](const QString &caption, const QString &filter, bool save) {
        captions << caption + " | " + filter + (save ? " | save" : "");
        return answer;
    });
    auto restore = qScopeGuard([] { AppletHelper::setFileChooser(nullptr); });

    Applet *hb = b.applet<Applet>("HBController");
    hb->slot_showHelp();
    QVERIFY(hb->help());
    QVERIFY(!hb->help()->pbExportHeader->isVisibleTo(hb->help()));
    QVERIFY(!hb->help()->pbExportJson->isVisibleTo(hb->help()));

    auto *spi = b.applet<SpiController>("SpiController");
    spi->slot_showHelp();
    AppletHelper *help = spi->help();
    QVERIFY(help);
    QVERIFY(help->pbExportHeader->isVisible());
    QCOMPARE(help->pbExportHeader->text(), QString("Export C header\u2026"));
    QCOMPARE(help->pbExportJson->text(), QString("Export JSON\u2026"));

    answer = dir.filePath("chip");
    QTest::mouseClick(help->pbExportHeader, Qt::LeftButton);
    QFile header(dir.filePath("chip.h"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    QVERIFY(header.readAll().contains("#define HQL3318_CR5A_BLANK1_MASK 0x300u"));

    answer = dir.filePath("chip.json");
    QTest::mouseClick(help->pbExportJson, Qt::LeftButton);
    QFile json(dir.filePath("chip.json"));
    QVERIFY(json.open(QIODevice::ReadOnly));
    QJsonParseError parsed;
    const QJsonDocument doc = QJsonDocument::fromJson(json.readAll(), &parsed);
    QCOMPARE(parsed.error, QJsonParseError::NoError);
    QCOMPARE(doc["registers"].toArray().size(), spi->ownedRegisters().size());
    QCOMPARE(captions,
             QStringList({"Export C header | C header (*.h) | save", "Export JSON | JSON (*.json) | save"}));

    // A cancelled dialog writes nothing and says nothing.
    answer.clear();
    QTest::mouseClick(help->pbExportJson, Qt::LeftButton);
    QCOMPARE(b.answerer.count(), 0);

    // A file that cannot be written is an error the user sees.
    answer = dir.filePath("missing/chip.h");
    QTest::mouseClick(help->pbExportHeader, Qt::LeftButton);
    QTRY_COMPARE(b.answerer.count(), 1);
    QVERIFY2(b.answerer.texts().join('\n').contains("Cannot export the registers"),
             qPrintable(b.answerer.texts().join('\n')));
}

void tst_RegisterExport::failedExportKeepsFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("fullDisk");
    QTest::newRow("unknown suffix") << "regs.txt" << false;
    QTest::newRow("missing directory") << "missing/regs.h" << false;
    QTest::newRow("disk full") << "regs.json" << true;
}

// A failed export answers err, says why in the log, and leaves a file
// that was there as it was.
void tst_RegisterExport::failedExportKeepsFile()
{
    QFETCH(QString, file);
    QFETCH(bool, fullDisk);
    BenchFixture b;
    QVERIFY(b.ok);
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    if (fullDisk) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\n");
    }

    QSignalSpy log(b.app, &MainApp::signal_log);
    // A file size limit plays the full disk: writes beyond it fail.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (fullDisk) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    bool ok = true;
    runGlobal(b.app, "export_registers", path, &ok);
    if (fullDisk) {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    QVERIFY(!ok);
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.last().at(0).toInt(), -1);
    QVERIFY2(log.last().at(1).toString().startsWith("Error RUN:export_registers: "),
             qPrintable(log.last().at(1).toString()));
    if (fullDisk) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"regs.json"});
    }
}

QTEST_MAIN(tst_RegisterExport)
#include "tst_registerexport.moc"
