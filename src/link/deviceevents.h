#pragma once

#include <QObject>
#include <QString>

// Serial devices coming and going, as a source of such events reports them
// (the system's device monitor, or a test).
class DeviceEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // A device path, or a name in a watched directory.
    void signal_added(const QString &name);
    void signal_removed(const QString &name);
};
