#include "app/scriptingfacade.h"

#include "app/scriptrecorder.h"
#include "app/windowgrabber.h"
#include "applet/applet.h"
#include "link/controlboard.h"
#include "model/registerexport.h"
#include "tools/measurements.h"

namespace {

// Text travels up to its first NUL byte, as names do.
void cutAtNul(QVariant &value)
{
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0)
            value = text.left(nul);
    } else if (value.typeId() == QMetaType::QVariantList) {
        QVariantList list = value.toList();
        for (QVariant &item : list)
            cutAtNul(item);
        value = list;
    }
}

bool holdsNul(const QVariant &value)
{
    return value.typeId() == QMetaType::QString && value.toString().contains(QChar(0));
}

} // namespace

ScriptingFacade::ScriptingFacade(ScriptingHost *host, QObject *parent) : QObject(parent), m_host(host)
{
    addCommands();
}

void ScriptingFacade::addCommands()
{
    ScriptingHost *app = m_host;
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
                          if (ControlBoard *board = app->link())
                              board->setDefaultTimeout(value.toInt());
                          return done(result);
                      });
    m_commands.insert(QStringLiteral("log"), [app, done](QVariant &value, QVariant *result, QString *) {
        // The "Log" switch of the main window shows the truth.
        app->setLogSwitch(value.toInt() != 0);
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
    m_commands.insert(QStringLiteral("export_registers"),
                      [app, done](QVariant &value, QVariant *result, QString *error) {
                          // The SPI controller's registers for firmware: ".h" or ".json".
                          Applet *spi = app->applet(QStringLiteral("SpiController"));
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
                                  app->toggleRecording(QString());
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
    // The names an applet answers to, for clients that check names before
    // they call; they do not depend on the board.
    const auto applet = [app](const QVariant &value, QString *error) -> Applet * {
        const QString name = value.toString();
        Applet *found = name.isEmpty() ? nullptr : app->applet(name);
        if (!found)
            *error = name.isEmpty() ? QStringLiteral("a window name is needed")
                                    : QStringLiteral("there is no window named %1").arg(name);
        return found;
    };
    m_commands.insert(QStringLiteral("functions"),
                      [applet](QVariant &value, QVariant *result, QString *error) {
                          Applet *found = applet(value, error);
                          if (found && result)
                              *result = found->functionTableNames().join(QLatin1Char(';'));
                          return found != nullptr;
                      });
    m_commands.insert(QStringLiteral("parameters"),
                      [applet](QVariant &value, QVariant *result, QString *error) {
                          Applet *found = applet(value, error);
                          if (found && result)
                              *result = found->parameterNames().join(QLatin1Char(';'));
                          return found != nullptr;
                      });
    m_commands.insert(QStringLiteral("write"), [app](QVariant &value, QVariant *result, QString *) {
        // Only while connected; otherwise nothing happens and nothing is answered.
        ControlBoard *board = app->link();
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

Applet *ScriptingFacade::target(const QString &applet, QString *error) const
{
    Applet *found = m_host->applet(applet);
    if (!found)
        *error = QStringLiteral("there is no window named %1").arg(applet);
    else if (!m_host->isBoardConnected())
        *error = QStringLiteral("no board is connected");
    else
        return found;
    return nullptr;
}

void ScriptingFacade::reportMissingParameter(Applet *applet, const QString &member)
{
    const QString parameter = Applet::parameterNameOf(member);
    if (!applet->parameter(parameter))
        emit signal_log(-1, QStringLiteral("%1 has no parameter %2").arg(applet->objectName(), parameter));
}

bool ScriptingFacade::set(const QString &name, QVariant &value)
{
    // Once a shutdown is asked for, nothing more runs.
    if (m_host->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return true;
    QString error;
    Applet *applet = target(parts.at(0), &error);
    if (!applet) {
        emit signal_log(-1, QStringLiteral("Error SET:%1: %2").arg(name, error));
        return false;
    }
    cutAtNul(value);
    if (applet->set(parts.at(1), value, Origin))
        return true;
    reportMissingParameter(applet, parts.at(1));
    return false;
}

bool ScriptingFacade::get(const QString &name, QVariant *result)
{
    if (m_host->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        const QString global = name.toLower();
        if (global == QLatin1String("version") && result)
            *result = true;
        else if (global == QLatin1String("last_error") && result)
            *result = m_host->lastError();
        return true;
    }
    QString error;
    Applet *applet = target(parts.at(0), &error);
    if (!applet) {
        emit signal_log(-1, QStringLiteral("Error GET %1: %2").arg(name, error));
        return false;
    }
    const QVariant value = applet->get(parts.at(1), Origin);
    if (result)
        *result = value;
    if (value.isNull())
        reportMissingParameter(applet, parts.at(1));
    return !value.isNull();
}

bool ScriptingFacade::run(const QString &name, QVariant &value, QVariant *result)
{
    if (m_host->isShutDown())
        return false;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        // Unknown global names do nothing and still succeed.
        const QString global = name.toLower();
        const auto command = m_commands.constFind(global);
        if (command == m_commands.cend())
            return true;
        QString error;
        // A port name is a path: cut at a NUL it would name another file.
        if (global == QLatin1String("open") && holdsNul(value)) {
            error = QStringLiteral("the port name holds a NUL byte; nothing was opened");
        } else {
            cutAtNul(value);
            if ((*command)(value, result, &error))
                return true;
        }
        emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
        return false;
    }
    QString error;
    Applet *applet = target(parts.at(0), &error);
    if (!applet) {
        emit signal_log(-1, QStringLiteral("Error RUN:%1: %2").arg(name, error));
        return false;
    }
    // A misspelt name fails like a function that failed, but says so.
    if (!applet->hasFunction(parts.at(1))) {
        emit signal_log(-1, QStringLiteral("%1 has no function %2").arg(parts.at(0), parts.at(1)));
        if (result)
            *result = false;
        return true;
    }
    cutAtNul(value);
    const QVariant r = applet->run(parts.at(1), value);
    if (result)
        *result = r;
    return true;
}
