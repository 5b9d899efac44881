#include "link/hotplugmonitor.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cstring>

namespace {

QByteArray fields(const QList<QByteArray> &list)
{
    QByteArray out;
    for (const QByteArray &field : list)
        out += field + '\0';
    return out;
}

QByteArray kernelMessage(const QByteArray &action, const QByteArray &subsystem, const QByteArray &name)
{
    return fields({action + "@/devices/pci0000:00/usb1/1-2/1-2:1.0/tty/" + name, "ACTION=" + action,
                   "DEVPATH=/devices/pci0000:00/usb1/1-2/1-2:1.0/tty/" + name, "SUBSYSTEM=" + subsystem,
                   "DEVNAME=" + name, "SEQNUM=4711"});
}

// udev's form: a binary header, then the properties.
QByteArray udevMessage(const QByteArray &action, const QByteArray &name)
{
    const QByteArray properties = fields({"ACTION=" + action, "SUBSYSTEM=tty", "DEVNAME=/dev/" + name,
                                          "DEVLINKS=/dev/serial/by-id/usb-Velmora_DemoBoard_0042-if00"});
    QByteArray header(40, '\0');
    std::memcpy(header.data(), "libudev", 8);
    const quint32 words[] = {htonl(0xfeedcafe), 40, 40, quint32(properties.size())};
    std::memcpy(header.data() + 8, words, sizeof words);
    return header + properties;
}

} // namespace

class tst_HotplugMonitor : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void watchedDirectory();
};

void tst_HotplugMonitor::parse_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("relevant");
    QTest::addColumn<bool>("added");
    QTest::addColumn<QString>("device");

    QTest::newRow("kernel add") << kernelMessage("add", "tty", "ttyACM0") << true << true << "/dev/ttyACM0";
    QTest::newRow("kernel remove") << kernelMessage("remove", "tty", "ttyUSB1") << true << false
                                   << "/dev/ttyUSB1";
    QTest::newRow("udev add") << udevMessage("add", "ttyACM3") << true << true << "/dev/ttyACM3";
    QTest::newRow("udev remove") << udevMessage("remove", "ttyACM3") << true << false << "/dev/ttyACM3";
    QTest::newRow("other subsystem") << kernelMessage("add", "usb", "1-2") << false << false << "";
    QTest::newRow("change") << kernelMessage("change", "tty", "ttyACM0") << false << false << "";
    QTest::newRow("console") << kernelMessage("add", "tty", "tty5") << false << false << "";
    QTest::newRow("cut udev header") << udevMessage("add", "ttyACM0").left(20) << false << false << "";
    QByteArray wrongOffset = udevMessage("add", "ttyACM0");
    const quint32 far = 100000;
    std::memcpy(wrongOffset.data() + 16, &far, sizeof far);
    QTest::newRow("properties beyond the end") << wrongOffset << false << false << "";
    QTest::newRow("no header at all")
        << fields({"ACTION=add", "SUBSYSTEM=tty", "DEVNAME=ttyACM0"}) << false << false << "";
}

void tst_HotplugMonitor::parse()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, relevant);
    QFETCH(bool, added);
    QFETCH(QString, device);
    HotplugMonitor::Event event;
    QCOMPARE(HotplugMonitor::parseUevent(message, &event), relevant);
    if (relevant) {
        QCOMPARE(event.added, added);
        QCOMPARE(event.device, device);
    }
}

// Names appearing in and leaving a watched directory, as udev's links do.
void tst_HotplugMonitor::watchedDirectory()
{
    QTemporaryDir dir;
    HotplugMonitor monitor({dir.path()});
    QVERIFY(monitor.isWatching());
    QSignalSpy added(&monitor, &DeviceEvents::signal_added);
    QSignalSpy removed(&monitor, &DeviceEvents::signal_removed);
    const QString link = dir.filePath("usb-Velmora_DemoBoard_0042-if00");
    QVERIFY(QFile::link("/dev/null", link));
    QVERIFY(added.wait(2000));
    QCOMPARE(added.first().first().toString(), link);
    QVERIFY(QFile::remove(link));
    QVERIFY(removed.wait(2000));
    QCOMPARE(removed.first().first().toString(), link);
}

QTEST_MAIN(tst_HotplugMonitor)
#include "tst_hotplugmonitor.moc"
