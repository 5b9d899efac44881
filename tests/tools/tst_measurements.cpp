#include "app/localserver.h"
#include "app/mdiarea.h"
#include "app/scriptrecorder.h"
#include "applets/board.h"
#include "chip/registermap.h"
#include "dialogdriver.h"
#include "fulldisk.h"
#include "model/variable.h"
#include "specialfiles.h"
#include "tools/measurementlog.h"
#include "tools/measurements.h"

#include "benchfixture.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineSeries>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Samples = QList<MeasurementSample>;

QList<QByteArray> csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    // The last line ends with a line feed too.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Answers the file dialog of "Export CSV" with a path.
std::unique_ptr<DialogDriver> answerFileDialog(const QString &path)
{
    return std::make_unique<DialogDriver>("QFileDialog", [path](QDialog *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        files->setDirectory(QFileInfo(path).absolutePath());
        files->selectFile(QFileInfo(path).fileName());
        dialog->accept();
    });
}

} // namespace

// The measurement log (ring, plot window, CSV) and the Measurements window
// fed by the board window's readings from the simulated board.
class tst_Measurements : public QObject
{
    Q_OBJECT

private slots:
    void csvFormat_data();
    void csvFormat();
    void csvReplacesWholeFileOrNothing();
    void sampleCap_data();
    void sampleCap();
    void plotWindowKeepsPeaks();
    void singleReadingIsDrawn();
    void readingsFromBoard_data();
    void readingsFromBoard();
    void failedReadingIsNotRecorded();
    void windowPlacesAndShortcut();
    void exportThroughDialogAndSocket();
    void exportOnFullDisk_data();
    void exportOnFullDisk();
    void writersLeaveNodesAlone_data();
    void writersLeaveNodesAlone();
};

void tst_Measurements::csvFormat_data()
{
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<QStringList>("values");

    const qint64 t = QDateTime(QDate(2026, 3, 29), QTime(1, 59, 59, 7)).toMSecsSinceEpoch();
    QTest::newRow("no readings") << Samples{} << QStringList{};
    QTest::newRow("one reading") << Samples{{t, 0.75, 0.0, 12.01171875}}
                                 << QStringList{"0.750000,0.000000,12.011719"};
    QTest::newRow("milliseconds and order")
        << Samples{{t, 1.5, 0.001, 11.9}, {t + 1, 0, 0, 0}, {t + 3600000, 0.123456, 49.999, 12}}
        << QStringList{"1.500000,0.001000,11.900000", "0.000000,0.000000,0.000000",
                       "0.123456,49.999000,12.000000"};
}

void tst_Measurements::csvFormat()
{
    QFETCH(Samples, samples);
    QFETCH(QStringList, values);

    MeasurementLog log;
    for (const MeasurementSample &s : samples)
        log.append(s);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    QString error;
    QVERIFY2(log.writeCsv(path, &error), qPrintable(error));

    const QList<QByteArray> lines = csvLines(path);
    QCOMPARE(lines.size(), samples.size() + 1);
    QCOMPARE(lines.at(0), QByteArray("time,Isen1 [A],Isen2 [A],Supply [V]"));
    static const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"));
    for (int i = 0; i < samples.size(); ++i) {
        const QString line = QString::fromLatin1(lines.at(i + 1));
        const QString stamp = line.section(',', 0, 0);
        QVERIFY2(iso.match(stamp).hasMatch(), qPrintable(stamp));
        // The stamp names the instant of the reading to the millisecond.
        QCOMPARE(QDateTime::fromString(stamp, Qt::ISODateWithMs).toMSecsSinceEpoch(), samples.at(i).msecs);
        QCOMPARE(line.section(',', 1), values.at(i));
    }
}

void tst_Measurements::csvReplacesWholeFileOrNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'x'));
    old.close();

    MeasurementLog log;
    log.append({1000, 1, 2, 3});
    QString error;
    QVERIFY(log.writeCsv(path, &error));
    QCOMPARE(csvLines(path).size(), 2);
    QVERIFY(!csvLines(path).join().contains('x'));

    // A directory in the way: an error, and nothing left behind.
    QVERIFY(QDir(dir.path()).mkdir("taken.csv"));
    QVERIFY(!log.writeCsv(dir.filePath("taken.csv"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!log.writeCsv(dir.filePath("missing/out.csv"), &error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.csv"});
}

void tst_Measurements::sampleCap_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("appended");

    QTest::newRow("below the cap") << 3 << 2;
    QTest::newRow("at the cap") << 3 << 3;
    QTest::newRow("wrapped twice") << 3 << 8;
    QTest::newRow("default cap") << int(MeasurementLog::DefaultCapacity)
                                 << MeasurementLog::DefaultCapacity + 5;
}

void tst_Measurements::sampleCap()
{
    QFETCH(int, capacity);
    QFETCH(int, appended);

    MeasurementLog log(capacity);
    for (int i = 0; i < appended; ++i)
        log.append({qint64(i), double(i), 0, 0});
    const int kept = qMin(capacity, appended);
    QCOMPARE(log.size(), kept);
    // The newest are kept, oldest first.
    for (int i : {0, kept / 2, kept - 1})
        QCOMPARE(log.at(i).msecs, qint64(appended - kept + i));

    QTemporaryDir dir;
    QString error;
    QVERIFY(log.writeCsv(dir.filePath("cap.csv"), &error));
    const QList<QByteArray> lines = csvLines(dir.filePath("cap.csv"));
    QCOMPARE(lines.size(), kept + 1);
    QVERIFY(lines.at(1).contains(QByteArray::number(appended - kept) + ".000000,"));

    log.clear();
    QCOMPARE(log.size(), 0);
    log.append({7, 0, 0, 0});
    QCOMPARE(log.last().msecs, qint64(7));
}

void tst_Measurements::plotWindowKeepsPeaks()
{
    MeasurementLog log;
    for (int i = 0; i < 20000; ++i)
        log.append({qint64(i), i == 15001 ? 9.0 : 1.0, 0, 12});
    // Only the samples from the window's start are plotted.
    QCOMPARE(log.window(19990, 100).isen1.size(), 10);
    const MeasurementLog::Points points = log.window(10000, 100);
    QVERIFY(points.isen1.size() <= 100);
    double top = 0;
    for (int i = 0; i < points.isen1.size(); ++i) {
        top = qMax(top, points.isen1.at(i).y());
        if (i > 0)
            QVERIFY(points.isen1.at(i).x() > points.isen1.at(i - 1).x());
    }
    QCOMPARE(top, 9.0);
    QCOMPARE(points.isen1.first().x(), 10000.0);
    QCOMPARE(points.isen1.last().x(), 19999.0);
}

// A line through one point draws nothing; one reading must still show,
// whole, away from the plot's edges; from two readings on it is a line.
void tst_Measurements::singleReadingIsDrawn()
{
    Measurements plot;
    plot.resize(720, 420);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    plot.slot_addSampleAt({now, 1.0, 0.5, 12});
    QTRY_COMPARE(plot.series(0)->count(), 1);
    auto *view = plot.findChild<QChartView *>();
    QVERIFY(view);
    const QImage image = view->grab().toImage();
    const QRect area =
        view->mapFromScene(view->chart()->mapToScene(view->chart()->plotArea())).boundingRect();
    for (int i = 0; i < 3; ++i) {
        const QColor color = plot.series(i)->color();
        QList<int> xs;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (qAbs(pixel.red() - color.red()) + qAbs(pixel.green() - color.green()) +
                        qAbs(pixel.blue() - color.blue()) <
                    30)
                    xs.append(x);
            }
        }
        QVERIFY2(xs.size() > 10, qPrintable(plot.series(i)->name()));
        const int middle =
            (*std::min_element(xs.cbegin(), xs.cend()) + *std::max_element(xs.cbegin(), xs.cend())) / 2;
        QVERIFY2(qAbs(middle - area.center().x()) < area.width() / 4, qPrintable(plot.series(i)->name()));
    }

    plot.slot_addSampleAt({now + 500, 1.2, 0.5, 12});
    QTRY_COMPARE(plot.series(0)->count(), 2);
    QVERIFY(!plot.series(0)->pointsVisible());
}

void tst_Measurements::readingsFromBoard_data()
{
    QTest::addColumn<QString>("trigger");

    QTest::newRow("Measure") << "pbBoard_ADCget";
    QTest::newRow("Refresh") << "pbBoard_refresh";
    QTest::newRow("automatic refresh") << "cbAutoRefresh";
}

void tst_Measurements::readingsFromBoard()
{
    QFETCH(QString, trigger);

    BenchFixture bench;
    QVERIFY(bench.ok);
    Measurements *plot = bench.app->measurements();
    QVERIFY(plot);
    QCOMPARE(plot->log().size(), 0);
    auto *board = bench.applet<Board>("Board");
    // Motor 1 forward at the generator's 50 %: about 0.75 A.
    QVERIFY(bench.app->link()->transact("set PWM0START"));
    board->run("setActive", QVariant());
    board->run("setForward1", QVariant());
    bench.app->showMeasurements();

    if (trigger == "cbAutoRefresh") {
        auto *period = board->findChild<QSpinBox *>("lePeriod");
        period->setMinimum(100);
        period->setValue(200);
    }
    auto *button = board->findChild<QAbstractButton *>(trigger);
    QVERIFY(button);
    button->click();
    QVERIFY(QTest::qWaitFor([plot] { return plot->log().size() >= 1; }, 3000));
    if (trigger == "cbAutoRefresh") {
        QVERIFY(QTest::qWaitFor([plot] { return plot->log().size() >= 3; }, 3000));
        button->click();
    }

    const MeasurementSample s = plot->log().last();
    RegisterMap *model = bench.app->registers();
    QCOMPARE(s.isen1, model->var("ADC_Result1")->value());
    QCOMPARE(s.isen2, model->var("ADC_Result2")->value());
    QCOMPARE(s.supply, model->var("ADC_Result4")->value());
    QVERIFY2(qAbs(s.isen1 - 0.75) < 0.03, qPrintable(QString::number(s.isen1)));
    QCOMPARE(s.isen2, 0.0);
    QVERIFY2(qAbs(s.supply - 12) < 0.2, qPrintable(QString::number(s.supply)));
    QVERIFY(qAbs(s.msecs - QDateTime::currentMSecsSinceEpoch()) < 5000);

    // The plot catches up within one redraw period.
    const int n = plot->log().size();
    QVERIFY(QTest::qWaitFor([plot, n] { return plot->series(0)->count() == n; }, 2000));
    QCOMPARE(plot->series(0)->at(n - 1).y(), s.isen1);
    QCOMPARE(plot->series(2)->at(n - 1).y(), s.supply);

    // Paused, the plot stands still while readings are still recorded.
    plot->setPaused(true);
    board->run("getADC", QVariant());
    QTest::qWait(2 * Measurements::RedrawMs);
    QCOMPARE(plot->log().size(), n + 1);
    QCOMPARE(plot->series(0)->count(), n);
    plot->setPaused(false);
    QCOMPARE(plot->series(0)->count(), n + 1);
    plot->clearButton->click();
    QCOMPARE(plot->log().size(), 0);
    QCOMPARE(plot->series(0)->count(), 0);
}

void tst_Measurements::failedReadingIsNotRecorded()
{
    BenchFixture bench({"--error-once", "Isen1"});
    QVERIFY(bench.ok);
    auto *board = bench.applet<Board>("Board");
    QSignalSpy readings(board, &Board::signal_measured);
    board->run("getADC", QVariant());
    QCOMPARE(readings.count(), 0);
    QCOMPARE(bench.app->measurements()->log().size(), 0);
    board->run("getADC", QVariant());
    QCOMPARE(readings.count(), 1);
    QCOMPARE(bench.app->measurements()->log().size(), 1);
}

void tst_Measurements::windowPlacesAndShortcut()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *window = bench.app->mainWindow();
    Measurements *plot = bench.app->measurements();
    QAction *entry = window->toolWindowAction(plot);
    QVERIFY(entry);
    // In "&Windows" right after the device applets.
    const QList<QAction *> actions = window->windowsMenu->actions();
    QCOMPARE(actions.indexOf(entry), bench.app->applets().size());
    QCOMPARE(entry->text(), QString("(Ctrl+7) Measurements\tCtrl+7"));

    QMdiSubWindow *sub = window->toolSubWindow(plot);
    QVERIFY(!sub->isVisible());
    QTest::keyClick(window->mdiArea, Qt::Key_7, Qt::ControlModifier);
    QTRY_VERIFY(sub->isVisible());
    QVERIFY(entry->isChecked());
    QCOMPARE(window->activeApplet(), plot);

    // Closing hides it with its readings; the menu entry brings it back.
    plot->slot_addSample(1, 2, 3);
    sub->close();
    QVERIFY(!sub->isVisible());
    QVERIFY(!entry->isChecked());
    entry->trigger();
    QVERIFY(sub->isVisible());
    QCOMPARE(plot->log().size(), 1);

    // It outlives the connection, so the readings can still be exported.
    bench.app->disconnectFromBoard();
    QVERIFY(sub->isVisible());
    window->slot_CloseAll();
    QVERIFY(!sub->isVisible());
    // Its key opens it again without a board.
    bench.answerer.clear();
    QTest::keyClick(window->mdiArea, Qt::Key_7, Qt::ControlModifier);
    QTRY_VERIFY(sub->isVisible());
    QCOMPARE(plot->log().size(), 1);
    QCOMPARE(bench.answerer.count(), 0);
}

void tst_Measurements::exportThroughDialogAndSocket()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    Measurements *plot = bench.app->measurements();
    auto *board = bench.applet<Board>("Board");
    board->run("getADC", QVariant());
    board->run("getADC", QVariant());
    QCOMPARE(plot->log().size(), 2);
    QTemporaryDir dir;

    {
        // A name without suffix gets ".csv".
        auto driver = answerFileDialog(dir.filePath("run1"));
        plot->exportButton->click();
        QVERIFY(driver->hasRun());
    }
    QCOMPARE(csvLines(dir.filePath("run1.csv")).size(), 3);

    const QByteArray path = dir.filePath("scripted.csv").toLocal8Bit();
    QCOMPARE(bench.app->server()->processRequest("run\texport_measurements\ts" + path + "\n"),
             QByteArray("i1"));
    QCOMPARE(csvLines(QString::fromLocal8Bit(path)), csvLines(dir.filePath("run1.csv")));
    bench.answerer.clear();
    QCOMPARE(
        bench.app->server()->processRequest("run\texport_measurements\ts" + dir.path().toLocal8Bit() + "\n"),
        QByteArray("err\n"));
    QCOMPARE(bench.app->server()->processRequest("run\tclear_measurements\n"), QByteArray("i1"));
    QCOMPARE(plot->log().size(), 0);

    // A picture of a window by name; an unknown name writes nothing.
    const QByteArray picture = dir.filePath("plot.png").toLocal8Bit();
    QCOMPARE(bench.app->server()->processRequest("run\tgrab\tsMeasurements\ts" + picture + "\n"),
             QByteArray("i1"));
    QImage image;
    QVERIFY(image.load(QString::fromLocal8Bit(picture), "PNG"));
    QCOMPARE(image.size(), bench.app->mainWindow()->toolSubWindow(plot)->size());
    QCOMPARE(bench.app->server()->processRequest("run\tgrab\tsNoSuchWindow\ts" +
                                                 dir.filePath("none.png").toLocal8Bit() + "\n"),
             QByteArray("err\n"));
    QVERIFY(!QFile::exists(dir.filePath("none.png")));
}

void tst_Measurements::exportOnFullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<QByteArray>("request");
    for (bool tmpfs : {true, false}) {
        const char *fault = tmpfs ? "full tmpfs" : "file size limit";
        QTest::addRow("CSV, %s", fault) << tmpfs << QByteArray("run\texport_measurements\tsFILE\n");
        QTest::addRow("picture, %s", fault) << tmpfs << QByteArray("run\tgrab\tsMeasurements\tsFILE\n");
    }
}

// Over the socket: the request fails, the error is logged, the file that
// was there stays. Both used to answer success over an emptied file.
void tst_Measurements::exportOnFullDisk()
{
    QFETCH(bool, tmpfs);
    QFETCH(QByteArray, request);

    SmallDisk disk;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    QTemporaryDir scratch;
    const QString path = QDir(tmpfs ? disk.path() : scratch.path()).filePath("kept");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\n") == 4);
    old.close();

    BenchFixture bench;
    QVERIFY(bench.ok);
    bench.applet<Board>("Board")->run("getADC", QVariant());
    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs)
        QVERIFY(disk.fill());
    else
        limit = std::make_unique<FileSizeLimit>(0);
    bench.answerer.clear();
    const QByteArray reply = bench.app->server()->processRequest(request.replace("FILE", path.toLocal8Bit()));
    limit.reset();

    QCOMPARE(reply, QByteArray("err\n"));
    QCOMPARE(csvLines(path), QList<QByteArray>{"old"});
    QCOMPARE(bench.answerer.count(), 1);
    const QString reason = tmpfs ? "No space left on device" : "File too large";
    QVERIFY2(bench.answerer.texts().at(0).endsWith(": Cannot write " + path + ": " + reason),
             qPrintable(bench.answerer.texts().at(0)));
}

void tst_Measurements::writersLeaveNodesAlone_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("name");
    QTest::newRow("CSV") << QByteArray("run\texport_measurements\tsFILE\n") << "out.csv";
    QTest::newRow("picture") << QByteArray("run\tgrab\tsMeasurements\tsFILE\n") << "out.png";
    QTest::newRow("C header") << QByteArray("run\texport_registers\tsFILE\n") << "out.h";
    QTest::newRow("script recording") << QByteArray("run\trecord\tsFILE\n") << "out.py";
}

// "run export_measurements s/dev/full" used to answer i1 with a regular
// file in the device's place. Every writer a script reaches now answers err
// and leaves a device, a pipe or what a link leads to as it was.
void tst_Measurements::writersLeaveNodesAlone()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, name);
    BenchFixture bench;
    QVERIFY(bench.ok);
    bench.applet<Board>("Board")->run("getADC", QVariant());

    for (SpecialFiles::Kind kind : {SpecialFiles::Device, SpecialFiles::Fifo, SpecialFiles::LinkToFifo}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QString whyNot;
        if (!SpecialFiles::make(kind, path, &whyNot)) {
            qInfo("%s", qPrintable(whyNot));
            continue;
        }
        const QString before = SpecialFiles::snapshot(path);
        bench.answerer.clear();
        QByteArray line = request;
        QCOMPARE(bench.app->server()->processRequest(line.replace("FILE", path.toLocal8Bit())),
                 QByteArray("err\n"));
        QCOMPARE(SpecialFiles::snapshot(path), before);
        const QString said = bench.answerer.texts().join(" | ");
        QVERIFY2(said.contains(SpecialFiles::refusal(kind)), qPrintable(said));
        QVERIFY(!bench.app->recorder()->isRecording());
    }
}

QTEST_MAIN(tst_Measurements)
#include "tst_measurements.moc"
