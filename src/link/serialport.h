#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A serial port opened exclusively in raw 8-N-1 with no flow control, over
// POSIX termios. It knows nothing of the text protocol.
class SerialPort
{
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    static constexpr int ReadChunk = 4096;

    bool open(const QString &name, int baudRate);
    // Why the last open failed, in words for the user; empty after a success.
    QString errorString() const { return m_error; }
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString name() const { return m_name; }
    int fd() const { return m_fd; }

    // Writes all bytes, giving up after n x 1 ms + 5 ms; returns the count written.
    int write(const QByteArray &bytes);
    // Reads what has arrived, at most n (<= 4096) bytes, without waiting;
    // -1 and nothing on failure.
    int read(QByteArray &out, int n);
    int bytesAvailable() const;
    int readAvailable(QByteArray &out);
    // Waits at most timeoutMs for input; true when bytes (or a hang-up) wait.
    bool waitForReadyRead(int timeoutMs) const;
    // Blocks until the bytes written have left (at most a few ms per byte).
    void drain();
    // high de-asserts RTS, low asserts it.
    void setRts(bool high);

    static bool isSupportedRate(int baudRate);
    // The USB serial adapter's latency timer of the device (ttyUSB0 or its
    // path), in ms, where the driver has one (/sys/bus/usb-serial); -1 where not.
    static int latencyTimerMs(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

private:
    int m_fd = -1;
    QString m_name;
    QString m_error;
};
