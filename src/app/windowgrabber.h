#pragma once

#include <QString>

class Applet;
class QWidget;

// The windows a picture may be taken of, as the application has them.
class WindowGrabberHost
{
public:
    virtual ~WindowGrabberHost() = default;
    virtual QWidget *mainWidget() const = 0;
    // Each shows its window and returns what is to be taken, or null.
    virtual QWidget *showLogWindow() = 0;
    virtual QWidget *showMeasurements() = 0;
    // Also makes it the active window of the MDI area.
    virtual QWidget *showApplet(Applet *applet) = 0;
    virtual Applet *applet(const QString &name) const = 0;
    virtual bool isBoardConnected() const = 0;
    virtual void openFirmwareWindow() = 0;
    // Never taken: it would be a picture of the start-up.
    virtual QWidget *progressDialog() const = 0;
};

// Pictures of the application's own windows for scripts and the user
// guide: the window is shown first, given time to lay itself out, then
// saved as PNG.
class WindowGrabber
{
public:
    explicit WindowGrabber(WindowGrabberHost *host) : m_host(host) {}

    // "MainWindow", an applet's name, "Logs", "Measurements", an applet's
    // name and ".help", or another top-level window by object or class name
    // (such as "Bootloader"); false with the reason in error.
    bool grab(const QString &name, const QString &file, QString *error);

private:
    WindowGrabberHost *m_host;
};
