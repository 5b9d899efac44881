#include "app/windowgrabber.h"

#include "applet/applet.h"
#include "applet/applethelper.h"
#include "util/safefile.h"

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

bool WindowGrabber::grab(const QString &name, const QString &file, QString *error)
{
    if (file.isEmpty()) {
        *error = QStringLiteral("no file name");
        return false;
    }
    QPointer<QWidget> target;
    if (name == QLatin1String("MainWindow")) {
        target = m_host->mainWidget();
    } else if (name == QLatin1String("Logs")) {
        target = m_host->showLogWindow();
    } else if (name == QLatin1String("Measurements")) {
        target = m_host->showMeasurements();
    } else {
        const bool help = name.endsWith(QLatin1String(".help"));
        Applet *applet = m_host->applet(help ? name.chopped(5) : name);
        if (applet && !m_host->isBoardConnected()) {
            *error = QStringLiteral("Connect board before window open.");
            return false;
        }
        if (applet && help) {
            applet->slot_showHelp();
            target = applet->help();
        } else if (applet) {
            target = m_host->showApplet(applet);
        }
    }
    if (!target && name == QLatin1String("Bootloader"))
        m_host->openFirmwareWindow();
    if (!target) {
        // Other top-level windows of the application by object or class name.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            const bool named = w->objectName() == name || QLatin1String(w->metaObject()->className()) == name;
            if (!name.isEmpty() && named && w != m_host->progressDialog()) {
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
