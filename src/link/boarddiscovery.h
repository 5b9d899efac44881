#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// One serial port as the port box offers it.
struct PortEntry
{
    // What the link opens: the device or the name the user gave.
    QString path;
    // A name that survives replugging (/dev/serial/by-id/...), where one exists.
    QString stableName;
    QString product;
    QString serialNumber;
    // The device both names lead to (the canonical path); empty when gone.
    QString device;
    // "NAME (process PID)" of the program that has the port, when another has it.
    QString holder;
    // The USB serial adapter's latency timer in ms; -1 where it has none.
    int latencyTimerMs = -1;

    QString displayName() const { return stableName.isEmpty() ? path : stableName; }
    // USB product and serial number, for the item's tool tip.
    QString description() const;
};

// Looks for boards without holding up the GUI thread: the ports are listed
// and probed (ENQ/ACK) off it, each port in a thread of its own with its own
// handle, and the results come back through the event loop as they arrive.
class BoardDiscovery : public QObject
{
    Q_OBJECT

public:
    enum PortState
    {
        Unknown,
        Board,
        NoBoard,
        Denied,
        Held,
        Gone
    };

    explicit BoardDiscovery(QObject *parent = nullptr);
    ~BoardDiscovery() override;

    // Directories whose entries name ports (symbolic links to devices);
    // names found there are the ports' stable names.
    void setDirectories(const QStringList &directories) { m_directories = directories; }
    QStringList directories() const { return m_directories; }
    static QStringList defaultDirectories();

    // Starts a new round; one still running is cancelled first. Ports given
    // here are offered and probed besides the ones the system lists.
    void start(const QStringList &extraPorts);
    bool isRunning() const { return m_running; }
    // Ends the probe of this device (under any of its names) and returns
    // once its handle is closed; a port not probed yet is left alone.
    void cancelProbe(const QString &port);
    void cancel();

    // Ports where a board answered, then the rest, then the ones another
    // program holds (with their holder), in the order listed; vanished ones
    // are left out.
    QList<PortEntry> ports() const;
    PortState state(const QString &port) const;
    // The entry a name stands for: its path, its stable name or the device
    // both lead to.
    const PortEntry *find(const QString &name) const;

    // Every port the system lists, with stable names from the directories.
    static QList<PortEntry> enumerate(const QStringList &extraPorts, const QStringList &directories);
    static QString deviceOf(const QString &name);

signals:
    void signal_portsChanged();
    void signal_finished();

private:
    class Round;

    void takeEntries(int round, const QList<PortEntry> &entries);
    void takeState(int round, const QString &device, int state, const QString &holder);
    void takeFinished(int round);

    QStringList m_directories;
    std::unique_ptr<Round> m_round;
    int m_roundId = 0;
    bool m_running = false;
    QList<PortEntry> m_entries;
    // By device (the canonical path).
    QHash<QString, PortState> m_states;
    QHash<QString, QString> m_holders;
};
