#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The pictures the script promises: its list of windows, plus the main
// window before connecting.
QStringList promisedPictures(const QString &script)
{
    QFile file(script);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const int begin = text.indexOf(QLatin1String("windows=("));
    const int end = text.indexOf(QLatin1Char(')'), begin);
    QStringList names{QStringLiteral("start.png")};
    static const QRegularExpression entry(QStringLiteral("\"\\S+ (\\S+\\.png)\""));
    auto it = entry.globalMatch(text.mid(begin, end - begin));
    while (it.hasNext())
        names.append(it.next().captured(1));
    // The recorder's count, taken right after the main window.
    names.insert(names.indexOf(QStringLiteral("mainwindow.png")) + 1, QStringLiteral("recording.png"));
    return names;
}

// The share of the picture taken by its most common colour.
double plainShare(const QImage &image)
{
    QHash<QRgb, int> counts;
    int top = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            top = qMax(top, ++counts[image.pixel(x, y)]);
    }
    return double(top) / (image.width() * image.height());
}

} // namespace

// scripts/screenshots against the built application and simulated board:
// one picture per listed window, each showing content and all different.
class tst_Screenshots : public QObject
{
    Q_OBJECT

private slots:
    void onePicturePerWindow();
};

void tst_Screenshots::onePicturePerWindow()
{
    const QString script = QStringLiteral(HQL_SOURCE_DIR "/scripts/screenshots");
    const QStringList promised = promisedPictures(script);
    QVERIFY2(promised.size() >= 12, qPrintable(promised.join(' ')));

    QTemporaryDir out;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HQL_BUILD_DIR", QStringLiteral(HQL_BUILD_DIR));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("bash"), {script, QStringLiteral("--no-build"), out.path()});
    QVERIFY(run.waitForFinished(90000));
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
             run.readAllStandardError().constData());

    QStringList written;
    for (const QByteArray &line : run.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            written.append(QFileInfo(QString::fromLocal8Bit(line)).fileName());
    }
    QCOMPARE(written, promised);

    QSet<QByteArray> seen;
    for (const QString &name : promised) {
        QImage image;
        QVERIFY2(image.load(out.filePath(name), "PNG"), qPrintable(name));
        QVERIFY2(image.width() >= 200 && image.height() >= 100, qPrintable(name));
        // Below the title bar an empty window is one colour.
        const double plain = plainShare(image.copy(0, 30, image.width(), image.height() - 30));
        QVERIFY2(plain < 0.95, qPrintable(name + QString(" is %1 % one colour").arg(plain * 100)));
        const QByteArray hash = QCryptographicHash::hash(
            QByteArray::fromRawData(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes()),
            QCryptographicHash::Sha1);
        QVERIFY2(!seen.contains(hash), qPrintable(name + " repeats another picture"));
        seen.insert(hash);
    }
}

QTEST_MAIN(tst_Screenshots)
#include "tst_screenshots.moc"
