#include "app/windowgrabber.h"
#include "testapplet.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The application's windows as plain widgets; it tells what the grabber
// asked to be shown.
struct FakeWindows : WindowGrabberHost
{
    FakeWindows()
    {
        main.resize(320, 200);
        logs.resize(200, 120);
        plot.resize(240, 160);
        appletWindow.resize(180, 140);
        progress.setObjectName("Progress");
    }

    QWidget *mainWidget() const override { return const_cast<QWidget *>(&main); }
    QWidget *showLogWindow() override
    {
        logs.show();
        return &logs;
    }
    QWidget *showMeasurements() override
    {
        plot.show();
        return &plot;
    }
    QWidget *showApplet(Applet *) override
    {
        shownApplets++;
        appletWindow.show();
        return &appletWindow;
    }
    Applet *applet(const QString &name) const override { return name == "Basic" ? basic.get() : nullptr; }
    bool isBoardConnected() const override { return connected; }
    void openFirmwareWindow() override
    {
        firmware = std::make_unique<QWidget>();
        firmware->setObjectName("Bootloader");
        firmware->resize(150, 100);
    }
    QWidget *progressDialog() const override { return const_cast<QWidget *>(&progress); }

    QWidget main;
    QWidget logs;
    QWidget plot;
    QWidget appletWindow;
    QWidget progress;
    std::unique_ptr<QWidget> firmware;
    std::unique_ptr<TestApplet> basic = std::make_unique<TestApplet>("Basic", "Basic");
    bool connected = true;
    int shownApplets = 0;
};

} // namespace

class tst_WindowGrabber : public QObject
{
    Q_OBJECT

private slots:
    void grab_data();
    void grab();
};

void tst_WindowGrabber::grab_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("mainShown");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("error");

    QTest::newRow("main window") << "MainWindow" << true << true << QSize(320, 200) << QString();
    QTest::newRow("main window hidden")
        << "MainWindow" << false << true << QSize() << "the window MainWindow is not shown";
    QTest::newRow("log window, shown first") << "Logs" << false << true << QSize(200, 120) << QString();
    QTest::newRow("plot, shown first") << "Measurements" << false << true << QSize(240, 160) << QString();
    QTest::newRow("device window") << "Basic" << false << true << QSize(180, 140) << QString();
    QTest::newRow("device window, no board")
        << "Basic" << false << false << QSize() << "Connect board before window open.";
    QTest::newRow("firmware window, made on demand")
        << "Bootloader" << false << true << QSize(150, 100) << QString();
    QTest::newRow("start-up progress never")
        << "Progress" << false << true << QSize() << "no window named Progress";
    QTest::newRow("unknown") << "NoSuchWindow" << false << true << QSize() << "no window named NoSuchWindow";
}

// Each window is shown before it is taken; what cannot be taken writes
// nothing and says why, as a script's "get last_error" gives it.
void tst_WindowGrabber::grab()
{
    QFETCH(QString, name);
    QFETCH(bool, mainShown);
    QFETCH(bool, connected);
    QFETCH(QSize, size);
    QFETCH(QString, error);

    FakeWindows windows;
    windows.connected = connected;
    windows.main.setVisible(mainShown);
    windows.progress.show();
    QTemporaryDir dir;
    const QString file = dir.filePath("shot.png");
    WindowGrabber grabber(&windows);
    QString reason;
    QCOMPARE(grabber.grab(name, file, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    QCOMPARE(windows.shownApplets, name == "Basic" && connected ? 1 : 0);
    if (!error.isEmpty()) {
        QVERIFY(!QFile::exists(file));
        return;
    }
    QImage picture;
    QVERIFY(picture.load(file, "PNG"));
    QCOMPARE(picture.size(), size);
}

QTEST_MAIN(tst_WindowGrabber)
#include "tst_windowgrabber.moc"
