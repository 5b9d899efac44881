#pragma once

#include <QString>

class MainApp;

// Pictures of the application's own windows for scripts and the user
// guide: the window is shown first, given time to lay itself out, then
// saved as PNG.
class WindowGrabber
{
public:
    explicit WindowGrabber(MainApp *app) : m_app(app) {}

    // "MainWindow", an applet's name, "Logs", "Measurements", an applet's
    // name and ".help", or another top-level window by object or class name
    // (such as "Bootloader"); false with the reason in error.
    bool grab(const QString &name, const QString &file, QString *error);

private:
    MainApp *m_app;
};
