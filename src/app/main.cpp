#include "app/buildinfo.h"
#include "app/localserver.h"
#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/portwatcher.h"
#include "buildstamp.h"
#include "util/bytes.h"
#include "util/safefile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

struct Options
{
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the main window to <file> and quit."),
                                  QStringLiteral("file")};
    QCommandLineOption port{
        QStringLiteral("port"),
        QStringLiteral(
            "Offer the serial device <path> (a /dev/serial/by-id name, a pseudo-terminal, ...) as a board "
            "port; repeatable."),
        QStringLiteral("path")};
    QCommandLineOption pipe{QStringLiteral("pipe"),
                            QStringLiteral("Serve the scripting socket under <name> instead of HQL3318."),
                            QStringLiteral("name")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral(
            "Run without a window: message boxes go to standard error, errors to the daily log file.")};
};

void describe(QCommandLineParser &parser, const Options &options)
{
    parser.setApplicationDescription(
        QStringLiteral("Evaluation application for the HQL3318 half-bridge pre-driver"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.screenshot, options.port, options.pipe, options.headless});
}

// --help and --version print and exit; they must not need a display.
bool asksForTextOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (qstrcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("hql3318"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HQL_VERSION));
    const Options options;
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication text(argc, argv);
        QCommandLineParser parser;
        describe(parser, options);
        parser.process(text);
        return 0;
    }

    // Headless runs need no display: pick the offscreen platform unless the
    // user chose one.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    BuildInfo::set(HQL_BUILD_DATE, HQL_BUILD_TIME);

    QCommandLineParser parser;
    describe(parser, options);
    parser.process(application);

    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setQuitOnLastWindowClosed(false);

    QFile styleSheet(QStringLiteral(":/stylesheet/stylesheet"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        application.setStyleSheet(QString::fromLatin1(upToNul(styleSheet.readAll())));
        styleSheet.close();
    }

    MainApp *app = MainApp::instance();
    app->ports()->setExtraPorts(parser.values(options.port));
    if (parser.isSet(options.pipe))
        app->setServerName(parser.value(options.pipe), false);
    app->setHeadless(parser.isSet(options.headless));
    if (!app->initialise())
        return 0;
    app->startMainWindow();
    if (parser.isSet(options.screenshot)) {
        const QString file = parser.value(options.screenshot);
        // Let the window lay itself out and paint once before it is grabbed.
        QTimer::singleShot(300, app, [app, file] {
            // Written whole or not at all, in the format its suffix names.
            SafeFile out(file);
            const QByteArray format = QFileInfo(file).suffix().toLatin1();
            if (out.open() &&
                !app->mainWindow()->grab().save(out.device(), format.isEmpty() ? "PNG" : format))
                out.cancel(QStringLiteral("the picture could not be encoded"));
            const bool saved = out.commit();
            if (!saved)
                qCritical("%s", qPrintable(out.errorString()));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    const int code = QApplication::exec();
    // Requests from now on are answered "err" while the rest shuts down.
    if (LocalServer *server = app->server())
        server->stopServing();
    app->shutdown();
    // Closes the scripting socket, which removes its file.
    MainApp::destroyInstance();
    return code;
}
