#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The include check beside the layers' include roots: a path that walks up
// with ".." reaches headers its layer does not link, and a private header
// belongs to its folder, so either must fail.
class tst_LayerGuard : public QObject
{
    Q_OBJECT

private slots:
    void relativeIncludes_data();
    void relativeIncludes();
    void checkoutIsClean();
};

namespace {

int runCheck(const QString &root, QByteArray *output)
{
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral(HQL_SOURCE_DIR "/scripts/check-includes"), {root});
    if (!check.waitForFinished(30000))
        return -1;
    *output = check.readAll();
    return check.exitCode();
}

} // namespace

void tst_LayerGuard::relativeIncludes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("refused");

    QTest::newRow("up from the folder")
        << "model/register.cpp" << QByteArray("#include \"../link/serialport.h\"") << true;
    QTest::newRow("up inside a rooted path")
        << "model/register.h" << QByteArray("#include \"model/../link/serialport.h\"") << true;
    QTest::newRow("angle brackets, spaced")
        << "model/register.cpp" << QByteArray("  #  include <model/../link/serialport.h>") << true;
    QTest::newRow("a form's custom widget")
        << "applets/board.ui" << QByteArray("<header>../controls/slider.h</header>") << true;
    QTest::newRow("another folder's private header")
        << "applet/applet.cpp" << QByteArray("#include \"link/controlboard_p.h\"") << true;
    QTest::newRow("its own private header")
        << "link/controlboard.cpp" << QByteArray("#include \"link/controlboard_p.h\"") << false;
    QTest::newRow("rooted") << "model/register.cpp" << QByteArray("#include \"model/variable.h\"") << false;
    QTest::newRow("dots in a name") << "model/register.cpp" << QByteArray("#include \"model/v..h\"") << false;
    QTest::newRow("in a comment") << "model/register.cpp" << QByteArray("// see ../link/serialport.h")
                                  << false;
}

void tst_LayerGuard::relativeIncludes()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, line);
    QFETCH(bool, refused);

    QTemporaryDir root;
    const QString path = root.filePath("src/" + file);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile source(path);
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("#pragma once\n" + line + "\n");
    source.close();

    QByteArray output;
    QCOMPARE(runCheck(root.path(), &output), refused ? 1 : 0);
    if (refused)
        QVERIFY2(output.contains(file.toUtf8() + ":2:"), output.constData());
}

void tst_LayerGuard::checkoutIsClean()
{
    QByteArray output;
    QVERIFY2(runCheck(QStringLiteral(HQL_SOURCE_DIR), &output) == 0, output.constData());
}

QTEST_GUILESS_MAIN(tst_LayerGuard)
#include "tst_layerguard.moc"
