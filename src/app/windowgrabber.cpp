#include "app/windowgrabber.h"

#include "app/dialogprogressbar.h"
#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "applet/applet.h"
#include "applet/applethelper.h"
#include "tools/logs.h"
#include "tools/measurements.h"
#include "util/safefile.h"

#include <QApplication>
#include <QEventLoop>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

bool WindowGrabber::grab(const QString &name, const QString &file, QString *error)
{
    if (file.isEmpty()) {
        *error = QStringLiteral("no file name");
        return false;
    }
    MainWindow *mainWindow = m_app->mainWindow();
    QPointer<QWidget> target;
    if (name == QLatin1String("MainWindow")) {
        target = mainWindow;
    } else if (name == QLatin1String("Logs")) {
        m_app->showLogWindow();
        target = m_app->logsApplet() ? m_app->logsApplet()->container() : nullptr;
    } else if (name == QLatin1String("Measurements")) {
        m_app->showMeasurements();
        target = mainWindow ? mainWindow->toolSubWindow(m_app->measurements()) : nullptr;
    } else {
        const bool help = name.endsWith(QLatin1String(".help"));
        Applet *applet = m_app->findApplet(help ? name.chopped(5) : name, MainApp::ByObjectName);
        if (applet && !m_app->isBoardConnected()) {
            *error = QStringLiteral("Connect board before window open.");
            return false;
        }
        if (applet && help) {
            applet->slot_showHelp();
            target = applet->help();
        } else if (applet) {
            applet->showWindow();
            if (auto *sub = qobject_cast<QMdiSubWindow *>(applet->container()))
                mainWindow->mdiArea->setActiveSubWindow(sub);
            target = applet->container();
        }
    }
    if (!target && name == QLatin1String("Bootloader"))
        m_app->openFirmwareWindow();
    if (!target) {
        // Other top-level windows of the application by object or class name.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            const bool named = w->objectName() == name || QLatin1String(w->metaObject()->className()) == name;
            if (!name.isEmpty() && named && w != m_app->progressDialog()) {
                w->show();
                target = w;
                break;
            }
        }
    }
    if (!target) {
        *error = QStringLiteral("no window named %1").arg(name);
        return false;
    }
    // A window just shown lays itself out and paints before it is taken.
    QEventLoop settle;
    QTimer::singleShot(150, &settle, &QEventLoop::quit);
    settle.exec();
    if (!target || !target->isVisible()) {
        *error = QStringLiteral("the window %1 is not shown").arg(name);
        return false;
    }
    const QPixmap picture = target->grab();
    SafeFile out(file);
    if (out.open() && !picture.save(out.device(), "PNG"))
        out.cancel(QStringLiteral("the picture could not be encoded"));
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}
