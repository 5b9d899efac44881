#include "app/mainapp.h"
#include "app/settings.h"
#include "app/updaterlauncher.h"
#include "dialogdriver.h"
#include "messageboxanswerer.h"
#include "testserver.h"

#include <QInputDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

// The updater is started with an argument list: blanks and quotes in its
// path and in the working directory reach it unharmed.
class tst_Updater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void command();
    void storedPathStarts();
    void relativePathStarts();
    void asksUntilValid_data();
    void asksUntilValid();
    void notStarted_data();
    void notStarted();

private:
    QByteArray recordedArguments() const;

    QTemporaryDir tempDir;
    QString workDir;
    QString script;
    QString previousDir;
};

void tst_Updater::initTestCase()
{
    QVERIFY(tempDir.isValid());
    previousDir = QDir::currentPath();
    workDir = tempDir.filePath("work dir");
    QVERIFY(QDir().mkpath(workDir));
    QVERIFY(QDir::setCurrent(workDir));
    QVERIFY(QDir().mkpath(tempDir.filePath("tools \"x\" dir")));
    script = tempDir.filePath("tools \"x\" dir/up 'date'r.sh");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"${0%/*}/args.tmp\" && mv \"${0%/*}/args.tmp\" "
               "\"${0%/*}/args.txt\"\n");
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    testMainApp();
}

void tst_Updater::cleanupTestCase()
{
    MainApp::destroyInstance();
    QDir::setCurrent(previousDir);
}

QByteArray tst_Updater::recordedArguments() const
{
    QFile file(QFileInfo(script).absolutePath() + "/args.txt");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_Updater::command()
{
    const UpdaterLauncher::Command c = UpdaterLauncher::command(script, workDir);
    QCOMPARE(c.program, script);
    QCOMPARE(c.arguments, (QStringList{"HQL3318", workDir}));
}

void tst_Updater::storedPathStarts()
{
    MainApp *app = MainApp::instance();
    app->setSettingValue("updater_path", script);
    QFile::remove(QFileInfo(script).absolutePath() + "/args.txt");
    MessageBoxAnswerer answerer;
    DialogDriver asked("QInputDialog", [](QDialog *d) { d->reject(); });
    QVERIFY(app->launchUpdater());
    QTRY_COMPARE(recordedArguments(), "2\nHQL3318\n" + QDir::currentPath().toUtf8() + "\n");
    QCOMPARE(QDir::currentPath(), workDir);
    QCOMPARE(asked.runs(), 0);
    QCOMPARE(answerer.count(), 0);
}

// A path relative to the working directory starts the file found there.
void tst_Updater::relativePathStarts()
{
    MainApp *app = MainApp::instance();
    const QString local = QDir::current().filePath("upd.sh");
    QFile::remove(local);
    QVERIFY(QFile::copy(script, local));
    app->setSettingValue("updater_path", "upd.sh");
    QFile::remove(workDir + "/args.txt");
    MessageBoxAnswerer answerer;
    DialogDriver asked("QInputDialog", [](QDialog *d) { d->reject(); });
    QVERIFY(app->launchUpdater());
    QTRY_COMPARE(QFile::exists(workDir + "/args.txt"), true);
    QCOMPARE(asked.runs(), 0);
    QCOMPARE(answerer.count(), 0);
    QCOMPARE(UpdaterLauncher::command("upd.sh", workDir).program, local);
}

void tst_Updater::asksUntilValid_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("first answer") << QStringList{"SCRIPT"};
    QTest::newRow("third answer") << QStringList{"/no/such/updater", "", "SCRIPT"};
}

void tst_Updater::asksUntilValid()
{
    QFETCH(QStringList, answers);
    MainApp *app = MainApp::instance();
    app->setSettingValue("updater_path", tempDir.filePath("gone/updater"));
    QFile::remove(QFileInfo(script).absolutePath() + "/args.txt");

    MessageBoxAnswerer answerer;
    QStringList labels;
    QStringList presets;
    DialogDriver asked("QInputDialog", [&](QDialog *d) {
        auto *input = static_cast<QInputDialog *>(d);
        labels.append(input->labelText());
        presets.append(input->textValue());
        const QString answer = answers.value(labels.size() - 1);
        input->setTextValue(answer == "SCRIPT" ? script : answer);
        input->accept();
    });
    QVERIFY(app->launchUpdater());
    QCOMPARE(asked.runs(), answers.size());
    QCOMPARE(labels, QStringList(answers.size(), "Enter updater path:"));
    QCOMPARE(presets, QStringList(answers.size(), Settings::defaultUpdaterPath()));
    QCOMPARE(app->settingValue("updater_path").toString(), script);
    QTRY_VERIFY(recordedArguments().startsWith("2\nHQL3318\n"));
    QCOMPARE(answerer.count(), 0);
}

void tst_Updater::notStarted_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("cancelled") << false;
    QTest::newRow("not executable") << true;
}

void tst_Updater::notStarted()
{
    QFETCH(bool, present);
    MainApp *app = MainApp::instance();
    const QString stored = tempDir.filePath(present ? "plain file" : "gone/updater");
    if (present) {
        QFile file(stored);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a program\n");
    }
    app->setSettingValue("updater_path", stored);

    MessageBoxAnswerer answerer;
    DialogDriver asked("QInputDialog", [](QDialog *d) { d->reject(); });
    QVERIFY(!app->launchUpdater());
    QCOMPARE(asked.runs(), present ? 0 : 1);
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes().at(0).title, QString("HQL3318"));
    QCOMPARE(answerer.boxes().at(0).text, QString("Error starting updater. \n Updater is not installed!"));
    QCOMPARE(answerer.boxes().at(0).icon, QMessageBox::Warning);
    QCOMPARE(app->settingValue("updater_path").toString(), stored);
}

QTEST_MAIN(tst_Updater)
#include "tst_updater.moc"
