// The script recorder: its lines and pauses with a clock of our own, and a
// recording of real clicks replayed by Python against a fresh application
// and simulated board, whose wire traffic must be the same.
#include "app/scriptrecorder.h"
#include "appprocess.h"
#include "benchfixture.h"
#include "fulldisk.h"
#include "simboard.h"
#include "specialfiles.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Python's own verdict on the script, empty when it compiles.
QString compileErrors(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral(HQL_PYTHON3), {"-m", "py_compile", path});
    if (!python.waitForFinished(20000))
        return QStringLiteral("python did not finish");
    return python.exitCode() == 0 ? QString() : QString::fromUtf8(python.readAllStandardError());
}

// The lines of the with-block, without their indent and the opening "pass".
QStringList actionLines(const QString &script)
{
    QStringList lines;
    bool inside = false;
    for (const QString &line : script.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("with ")))
            inside = true;
        else if (inside && line.startsWith(QLatin1String("    ")) && line.trimmed() != QLatin1String("pass"))
            lines.append(line.trimmed());
    }
    return lines;
}

// What the board was told to change: presence checks and status reads
// follow timers, not the script, so only "set" lines are compared.
QStringList writes(const QStringList &transcript)
{
    QStringList lines;
    for (const QString &line : transcript) {
        if (line.startsWith(QLatin1String("set ")))
            lines.append(line);
    }
    return lines;
}

} // namespace

class tst_Recorder : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void pauses();
    void flushedAsItGoes();
    void fullDiskStopsTheRecording();
    void startThatCannotWrite_data();
    void startThatCannotWrite();
    void recordsThroughLink();
    void clicksReplayAsTheSameTraffic();
};

void tst_Recorder::lines_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("applet");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("line");

    QTest::newRow("register field") << "write"
                                    << "SpiController"
                                    << "CR5A[9:8]" << QVariant(2u) << R"(app.SpiController["CR5A[9:8]"] = 2)";
    QTest::newRow("variable") << "write"
                              << "Board"
                              << "PWM1_DUTY" << QVariant(72.0) << R"(app.Board["PWM1_DUTY"] = 72.0)";
    QTest::newRow("real") << "write"
                          << "HBController"
                          << "Freq" << QVariant(0.25) << R"(app.HBController["Freq"] = 0.25)";
    QTest::newRow("text with quotes")
        << "write"
        << "SpiRaw"
        << "Text" << QVariant(QString("a\"b\\c\n")) << R"(app.SpiRaw["Text"] = "a\"b\\c\x0a")";
    QTest::newRow("function") << "run"
                              << "Basic"
                              << "setForward1" << QVariant(QString()) << "app.Basic.setForward1()";
    QTest::newRow("function with argument")
        << "run"
        << "SpiController"
        << "Write" << QVariant(QString("CR5A")) << R"(app.SpiController.Write("CR5A"))";
    QTest::newRow("name that is no identifier") << "run"
                                                << "Board"
                                                << "set-all" << QVariant() << R"(app.run("Board.set-all"))";
}

void tst_Recorder::lines()
{
    QFETCH(QString, kind);
    QFETCH(QString, applet);
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QFETCH(QString, line);

    QTemporaryDir dir;
    ScriptRecorder recorder;
    QString error;
    QVERIFY2(recorder.start(dir.filePath("s.py"), ScriptRecorder::Target::Running, &error),
             qPrintable(error));
    if (kind == "write")
        recorder.recordWrite(applet, name, value);
    else
        recorder.recordRun(applet, name, value);
    recorder.stop();
    const QString script = readText(dir.filePath("s.py"));
    QCOMPARE(actionLines(script), QStringList{line});
    QVERIFY(script.contains("import hql3318\n"));
    QVERIFY(script.contains("with hql3318.Client() as app:\n"));

    // What it wrote is Python.
    const QString errors = compileErrors(dir.filePath("s.py"));
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void tst_Recorder::pauses()
{
    QTemporaryDir dir;
    ScriptRecorder recorder;
    qint64 now = 0;
    recorder.setClock([&now] { return now; });
    QVERIFY(recorder.start(dir.filePath("s.py"), ScriptRecorder::Target::Simulated, nullptr));
    // The first action waits for nothing; 0.4 s is no pause; 2.25 s is one;
    // a long one is cut to 10 s.
    for (qint64 step : {qint64(5000), qint64(400), qint64(2250), qint64(60000)}) {
        now += step;
        recorder.recordRun("Basic", "setStop1", QVariant());
    }
    recorder.stop();
    const QString script = readText(dir.filePath("s.py"));
    QVERIFY(script.contains("with hql3318.simulated() as app:\n"));
    QCOMPARE(actionLines(script),
             (QStringList{"app.Basic.setStop1()", "app.Basic.setStop1()", "time.sleep(2.25)",
                          "app.Basic.setStop1()", "time.sleep(10)", "app.Basic.setStop1()"}));
    QCOMPARE(recorder.actions(), 4);
}

// A crash loses nothing: each action is in the file when it is recorded.
void tst_Recorder::flushedAsItGoes()
{
    QTemporaryDir dir;
    ScriptRecorder recorder;
    QSignalSpy changed(&recorder, &ScriptRecorder::signal_changed);
    QVERIFY(recorder.start(dir.filePath("s.py"), ScriptRecorder::Target::Running, nullptr));
    recorder.recordWrite("Board", "PWM1_DUTY", 10.0);
    QCOMPARE(actionLines(readText(dir.filePath("s.py"))), QStringList{R"(app.Board["PWM1_DUTY"] = 10.0)"});
    QCOMPARE(changed.count(), 2);
    recorder.stop();
    QVERIFY(!recorder.isRecording());
    recorder.recordWrite("Board", "PWM1_DUTY", 20.0);
    QCOMPARE(actionLines(readText(dir.filePath("s.py"))).size(), 1);
}

// The action the disk took only in part is cut off again, so the script
// still runs: a part of a line is a syntax error.
void tst_Recorder::fullDiskStopsTheRecording()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s.py");
    ScriptRecorder recorder;
    QSignalSpy failed(&recorder, &ScriptRecorder::signal_failed);
    QVERIFY(recorder.start(path, ScriptRecorder::Target::Running, nullptr));
    recorder.recordWrite("Board", "PWM1_DUTY", 1.0);
    {
        const FileSizeLimit limit(QFileInfo(path).size() + 10);
        for (int i = 0; i < 5 && recorder.isRecording(); ++i)
            recorder.recordWrite("Board", "PWM1_DUTY", double(10 + i));
    }
    QVERIFY(!recorder.isRecording());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), "Recording to " + path + " stopped: File too large");
    QCOMPARE(recorder.actions(), 1);
    QCOMPARE(actionLines(readText(path)), QStringList{R"(app.Board["PWM1_DUTY"] = 1.0)"});
    const QString errors = compileErrors(path);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void tst_Recorder::startThatCannotWrite_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    // -1: an old script where the disk has no room for the new one.
    QTest::newRow("old script, full disk") << -1 << "File too large";
    for (SpecialFiles::Kind kind : SpecialFiles::all())
        QTest::newRow(SpecialFiles::name(kind)) << int(kind) << SpecialFiles::refusal(kind);
}

// The old script used to be emptied before the new one was known to fit,
// and a pipe or device in its place was opened and written. Now what is
// there stays as it was, and the error says why.
void tst_Recorder::startThatCannotWrite()
{
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("s.py");
    const QString old = "with hql3318.Client() as app:\n    app.Basic.setStop1()\n";
    if (kind < 0) {
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(old.toUtf8());
    } else {
        QString whyNot;
        if (!SpecialFiles::make(SpecialFiles::Kind(kind), path, &whyNot))
            QSKIP(qPrintable(whyNot));
    }
    const QString before = SpecialFiles::snapshot(path);

    ScriptRecorder recorder;
    QSignalSpy changed(&recorder, &ScriptRecorder::signal_changed);
    QString error;
    bool started = false;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (kind < 0)
            limit = std::make_unique<FileSizeLimit>(0);
        started = recorder.start(path, ScriptRecorder::Target::Running, &error);
    }
    QVERIFY(!started);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(changed.count(), 0);
    QVERIFY2(error.startsWith("Cannot record to " + path + ": "), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(SpecialFiles::snapshot(path), before);
    if (kind < 0)
        QCOMPARE(readText(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoSymLinks).size(), kind < 0 ? 1 : 0);
}

// A link to a script records into the script and stays a link.
void tst_Recorder::recordsThroughLink()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("scripts"));
    const QString script = dir.filePath("scripts/bench.py");
    QFile old(script);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("# the old script\n");
    old.close();
    const QString link = dir.filePath("s.py");
    QVERIFY(QFile::link("scripts/bench.py", link));

    ScriptRecorder recorder;
    QVERIFY(recorder.start(link, ScriptRecorder::Target::Running, nullptr));
    recorder.recordRun("Basic", "setStop1", QVariant());
    recorder.stop();
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(actionLines(readText(script)), QStringList{"app.Basic.setStop1()"});
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList());
}

// A person clicks, drags and picks while recording; Python replays the
// script against another application and board; both boards were told the
// same things in the same order.
void tst_Recorder::clicksReplayAsTheSameTraffic()
{
    QTemporaryDir dir;
    const QString script = dir.filePath("session.py");
    QStringList recorded;
    {
        BenchFixture b;
        QVERIFY(b.ok);
        // Started as a script would ("run record s<path>"), stopped from the menu.
        QVariant path(script);
        QVariant answer;
        QVERIFY(b.app->run("record", path, &answer));
        QCOMPARE(b.app->mainWindow()->recordLabel->text(), QString("REC 0"));
        QVERIFY(b.app->mainWindow()->recordAction->isChecked());
        b.markSent();

        Applet *basic = b.app->findApplet("Basic", MainApp::ByObjectName);
        Applet *spi = b.app->findApplet("SpiController", MainApp::ByObjectName);
        QVERIFY(basic && spi);
        basic->showWindow();
        QTest::mouseClick(basic->findChild<QPushButton *>("pbBasic_setForward1"), Qt::LeftButton);

        auto *slider = basic->findChild<QSlider *>("hsPWM1_Duty");
        QVERIFY(QTest::qWaitForWindowExposed(slider));
        const int y = slider->height() / 2;
        QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, y));
        for (int x = slider->width() / 2; x <= slider->width() * 4 / 5; x += 8)
            QTest::mouseMove(slider, QPoint(x, y));
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() * 4 / 5, y));

        spi->showWindow();
        auto *combo = spi->findChild<QComboBox *>("cmCR5A_9_8");
        QVERIFY(QTest::qWaitForWindowExposed(combo));
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::mouseClick(spi->findChild<QPushButton *>("pbSpiController_WriteCR5A"), Qt::LeftButton);
        b.settle();

        QVERIFY(b.app->mainWindow()->recordLabel->isVisible() || !b.app->mainWindow()->isVisible());
        QVERIFY(b.app->recorder()->actions() >= 4);
        recorded = writes(b.sent());
        // A script's request moves the same slider: not the person's action.
        const int byHand = b.app->recorder()->actions();
        QVariant duty(33.0);
        QVERIFY(b.app->set("Board.PWM1_DUTY", duty));
        QCOMPARE(slider->value(), 33);
        QCOMPARE(b.app->recorder()->actions(), byHand);
        QCOMPARE(b.app->mainWindow()->recordLabel->text(),
                 QString("REC %1").arg(b.app->recorder()->actions()));
        b.app->mainWindow()->recordAction->trigger();
        QVERIFY(!b.app->recorder()->isRecording());
        QVERIFY(!b.app->mainWindow()->recordAction->isChecked());
        QVERIFY(!b.app->mainWindow()->recordLabel->isVisibleTo(b.app->mainWindow()));
    }
    const QStringList actions = actionLines(readText(script));
    QVERIFY2(actions.contains("app.Basic.setForward1()"), qPrintable(actions.join(" | ")));
    QVERIFY2(actions.contains("app.SpiController.WriteCR5A()"), qPrintable(actions.join(" | ")));
    QVERIFY2(!recorded.isEmpty(), "the clicks sent nothing");
    // The three windows that show the slider's variable pass each step on;
    // the script has it once.
    for (int i = 1; i < actions.size(); ++i)
        QVERIFY2(actions.at(i).section('=', 1) != actions.at(i - 1).section('=', 1) ||
                     !actions.at(i).contains("DUTY"),
                 qPrintable(actions.join(" | ")));

    // The replay: the script's default socket, in a runtime directory of its own.
    QTemporaryDir runtime;
    SimBoard sim;
    AppProcess app(runtime.filePath("HQL3318"), {"--port", sim.path()});
    QVERIFY(app.waitReady());
    QCOMPARE(runCtl(runtime.filePath("HQL3318"), {"run", "open", "s" + sim.path()}).out, QByteArray("i1\n"));
    QTRY_VERIFY(sim.transcript().contains("set baudrate=115200"));
    // The connect sequence is over when the board has heard nothing new for a while.
    qsizetype heard = -1;
    while (heard != sim.transcript().size()) {
        heard = sim.transcript().size();
        QTest::qWait(300);
    }
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("PYTHONPATH", QStringLiteral(HQL_SOURCE_DIR "/python"));
    env.insert("PYTHONDONTWRITEBYTECODE", "1");
    python.setProcessEnvironment(env);
    python.start(QStringLiteral(HQL_PYTHON3), {script});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    QTRY_COMPARE(writes(sim.transcript().mid(heard)), recorded);
}

QTEST_MAIN(tst_Recorder)
#include "tst_recorder.moc"
