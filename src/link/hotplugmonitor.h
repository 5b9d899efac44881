#pragma once

#include "link/deviceevents.h"

#include <QHash>
#include <QStringList>

class QSocketNotifier;

// Watches for serial devices without polling: the kernel's and udev's
// device announcements on a netlink socket, and the entries of watched
// directories (stable names) through inotify.
class HotplugMonitor : public DeviceEvents
{
    Q_OBJECT

public:
    explicit HotplugMonitor(const QStringList &directories, QObject *parent = nullptr);
    ~HotplugMonitor() override;

    // False when neither source could be opened.
    bool isWatching() const { return m_netlinkFd >= 0 || m_inotifyFd >= 0; }

    struct Event
    {
        bool added = false;
        QString device;
    };
    // One netlink message (the kernel's or udev's); false when it is not
    // about a serial device being added or removed.
    static bool parseUevent(const QByteArray &message, Event *event);

private:
    void readNetlink();
    void readInotify();
    // Watches the directories that exist now (one may appear with a device).
    void watchDirectories();

    QStringList m_directories;
    int m_netlinkFd = -1;
    int m_inotifyFd = -1;
    QSocketNotifier *m_netlinkNotifier = nullptr;
    QSocketNotifier *m_inotifyNotifier = nullptr;
    // Watch descriptor to directory.
    QHash<int, QString> m_watches;
};
