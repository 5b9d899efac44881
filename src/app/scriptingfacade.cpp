#include "app/scriptingfacade.h"

#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/scriptrecorder.h"
#include "app/windowgrabber.h"
#include "applet/applet.h"
#include "link/controlboard.h"
#include "model/registerexport.h"
#include "tools/measurements.h"

#include <QCheckBox>

ScriptingFacade::ScriptingFacade(MainApp *app) : QObject(app), m_app(app)
{
    addCommands();
}

void ScriptingFacade::addCommands()
{
    MainApp *app = m_app;
    const auto done = [](QVariant *result) {
        if (result)
            *result = true;
        return true;
    };
    m_commands.insert(QStringLiteral("shutdown"), [app, done](QVariant &, QVariant *result, QString *) {
        // The event loop ends first and shutdown() runs after it, when no
        // wait, box or request is left on the stack to find its applets gone.
        app->requestShutdown();
        return done(result);
    });
    m_commands.insert(QStringLiteral("close"), [app, done](QVariant &, QVariant *result, QString *) {
        app->disconnectFromBoard();
        return done(result);
    });
    m_commands.insert(QStringLiteral("open"), [app, done](QVariant &value, QVariant *result, QString *) {
        // The connect's own result is not reported; what it deferred (the
        // board window's first status update) is done before the answer, so
        // that the script's next request finds the board set up.
        if (app->connectToBoard(value.toString())) {
            for (Applet *applet : app->applets()) {
                if (applet)
                    applet->completePendingWork();
            }
        }
        return done(result);
    });
    m_commands.insert(QStringLiteral("set_timeout"),
                      [app, done](QVariant &value, QVariant *result, QString *) {
                          if (ControlBoard *board = app->board())
                              board->setDefaultTimeout(value.toInt());
                          return done(result);
                      });
    m_commands.insert(QStringLiteral("log"), [app, done](QVariant &value, QVariant *result, QString *) {
        // The "Log" switch of the main window shows the truth.
        if (MainWindow *window = app->mainWindow())
            window->logCheck->setChecked(value.toInt() != 0);
        else
            app->setCommunicationLogging(value.toInt() != 0);
        return done(result);
    });
    m_commands.insert(QStringLiteral("export_measurements"),
                      [app, done](QVariant &value, QVariant *result, QString *error) {
                          Measurements *plot = app->measurements();
                          if (!plot || !plot->exportCsv(value.toString(), error))
                              return false;
                          return done(result);
                      });
    m_commands.insert(QStringLiteral("clear_measurements"),
                      [app, done](QVariant &, QVariant *result, QString *) {
                          if (Measurements *plot = app->measurements())
                              plot->slot_clear();
                          return done(result);
                      });
    m_commands.insert(
        QStringLiteral("export_registers"), [app, done](QVariant &value, QVariant *result, QString *error) {
            // The SPI controller's registers for firmware: ".h" or ".json".
            Applet *spi = app->findApplet(QStringLiteral("SpiController"), MainApp::ByObjectName);
            if (!spi) {
                *error = QStringLiteral("there is no SPI controller");
                return false;
            }
            RegisterExport out(QStringLiteral("SpiController"));
            spi->describeExport(out);
            if (!out.write(value.toString(), error))
                return false;
            return done(result);
        });
    m_commands.insert(QStringLiteral("record"),
                      [app, done](QVariant &value, QVariant *result, QString *error) {
                          // "record s<path>" starts recording what a person does in the
                          // windows (requests are never recorded); "record" alone stops it.
                          const QString path = value.toString();
                          if (path.isEmpty()) {
                              if (app->recorder()->isRecording())
                                  app->toggleRecording();
                              return done(result);
                          }
                          if (app->recorder()->isRecording()) {
                              *error = QStringLiteral("already recording to %1").arg(app->recorder()->path());
                              return false;
                          }
                          if (!app->toggleRecording(path)) {
                              *error = QStringLiteral("cannot record to %1").arg(path);
                              return false;
                          }
                          return done(result);
                      });
    m_commands.insert(QStringLiteral("grab"), [app, done](QVariant &value, QVariant *result, QString *error) {
        const QVariantList args = value.toList();
        if (args.size() != 2) {
            *error = QStringLiteral("a window name and a file are needed");
            return false;
        }
        if (!app->grabber()->grab(args.at(0).toString(), args.at(1).toString(), error))
            return false;
        return done(result);
    });
    m_commands.insert(QStringLiteral("write"), [app](QVariant &value, QVariant *result, QString *) {
        // Only while connected; otherwise nothing happens and nothing is answered.
        ControlBoard *board = app->board();
        if (board && board->isConnected()) {
            QByteArray reply;
            // Text is 8-bit: its bytes go out as they came.
            const QByteArray bytes =
                value.typeId() == QMetaType::QString ? value.toString().toLatin1() : value.toByteArray();
            board->transact(bytes, &reply);
            if (result)
                *result = reply;
        }
        return true;
    });
}

bool ScriptingFacade::set(const QString &name, QVariant &value)
{
    // Once a shutdown is asked for, nothing more runs.
    if (m_app->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return true;
    Applet *applet = m_app->findApplet(parts.at(0), MainApp::ByObjectName);
    if (applet && m_app->isBoardConnected())
        return applet->set(parts.at(1), value, Origin);
    emit signal_log(-1, QStringLiteral("Error SET:%1").arg(name));
    return false;
}

bool ScriptingFacade::get(const QString &name, QVariant *result)
{
    if (m_app->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        if (name.toLower() == QLatin1String("version") && result)
            *result = true;
        return true;
    }
    Applet *applet = m_app->findApplet(parts.at(0), MainApp::ByObjectName);
    if (applet && m_app->isBoardConnected()) {
        const QVariant value = applet->get(parts.at(1), Origin);
        if (result)
            *result = value;
        return !value.isNull();
    }
    emit signal_log(-1, QStringLiteral("Error GET %1").arg(name));
    return false;
}

bool ScriptingFacade::run(const QString &name, QVariant &value, QVariant *result)
{
    if (m_app->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        // Unknown global names do nothing and still succeed.
        const auto command = m_commands.constFind(name.toLower());
        if (command == m_commands.cend())
            return true;
        QString error;
        if ((*command)(value, result, &error))
            return true;
        emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
        return false;
    }
    Applet *applet = m_app->findApplet(parts.at(0), MainApp::ByObjectName);
    if (applet && m_app->isBoardConnected()) {
        const QVariant r = applet->run(parts.at(1), value);
        if (result)
            *result = r;
        return true;
    }
    emit signal_log(-1, QStringLiteral("Error RUN:%1").arg(name));
    return false;
}
