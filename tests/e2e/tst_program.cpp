#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

// The application program as a user starts it and as a developer rebuilds it.
class tst_Program : public QObject
{
    Q_OBJECT

private slots:
    void textWithoutDisplay_data();
    void textWithoutDisplay();
    void unchangedBuildKeepsProgram();
};

void tst_Program::textWithoutDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("starts");
    QTest::addColumn<QString>("contains");

    QTest::newRow("--help") << "--help"
                            << "Usage: "
                            << "--headless";
    QTest::newRow("-h") << "-h"
                        << "Usage: "
                        << "--port <path>";
    QTest::newRow("--version") << "--version"
                               << "hql3318 "
                               << "\n";
}

// On a terminal without a display (a remote shell, a build machine) the
// program still answers --help and --version.
void tst_Program::textWithoutDisplay()
{
    QFETCH(QString, option);
    QFETCH(QString, starts);
    QFETCH(QString, contains);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(HQL_APP_PATH), {option});
    QVERIFY(program.waitForFinished(10000));
    const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit, program.readAllStandardError().constData());
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(out.startsWith(starts) && out.contains(contains), qPrintable(out));
}

// A build with nothing new leaves the program as it is: no new build stamp,
// no relink, no binary replaced under a running copy.
void tst_Program::unchangedBuildKeepsProgram()
{
    const auto build = [] {
        QProcess cmake;
        cmake.setProcessChannelMode(QProcess::MergedChannels);
        cmake.start(QStringLiteral(HQL_CMAKE),
                    {"--build", QStringLiteral(HQL_BUILD_DIR), "--target", "hql3318"});
        if (!cmake.waitForFinished(100000) || cmake.exitCode() != 0)
            return QByteArray("failed: ") + cmake.readAll();
        return cmake.readAll();
    };
    // The first build brings the program up to date if anything changed.
    const QByteArray first = build();
    QVERIFY2(!first.startsWith("failed"), first.constData());
    const QFileInfo before(QStringLiteral(HQL_APP_PATH));
    const QDateTime modified = before.lastModified();
    QVERIFY(modified.isValid());

    const QByteArray second = build();
    QVERIFY2(!second.startsWith("failed"), second.constData());
    QVERIFY2(!second.contains("Stamping") && !second.contains("Linking"), second.constData());
    QCOMPARE(QFileInfo(QStringLiteral(HQL_APP_PATH)).lastModified(), modified);
}

QTEST_MAIN(tst_Program)
#include "tst_program.moc"
