#pragma once

#include "link/linktransport.h"
#include "link/replyframer.h"
#include "link/serialport.h"

#include <QElapsedTimer>

#include <atomic>

// The board on a serial port: a command goes out and its reply lines are
// read by the caller itself, as soon as each line end arrives (a hand-over
// through another thread would add a wake-up to every round trip). Also
// the port-level parts of the presence check (ENQ/ACK) and of the firmware
// restart. Everything but exchange() is called with the port held.
class SerialTransport : public LinkTransport
{
public:
    enum class Presence
    {
        Answered,
        Silent,
        GaveWay
    };

    SerialTransport(PortOwner &owner, int queueSize, int silenceMs);

    bool exchange(const LinkRequest &request, LinkSink &sink) override;

    bool open(const QString &name, int baudRate);
    QString openError() const { return m_port.errorString(); }
    bool isOpen() const { return m_port.isOpen(); }
    void closePort() { m_port.close(); }
    // Sends the board back to baudRate while it still listens at the old
    // speed, then closes; false when the port was not open.
    bool closeAt(int baudRate);
    // Tells the board the new speed and reopens the port at it.
    void changeSpeed(const QString &name, int baudRate);
    // Forgets owed answers and buffered bytes.
    void forget() { m_framer.reset(); }

    // Three ENQs of 100 ms; one that may give way ends early for a caller
    // that waits for the port or for a stop.
    Presence presence(bool mayGiveWay);
    // What an earlier user of the port left unread (a probe's late ACK)
    // is no answer of this board's: dropped first.
    bool ping() { return discardInput() && presence(false) == Presence::Answered; }
    // Drops what came unasked; false when the device hung up.
    bool discardInput();
    // The device said it went away.
    bool hungUp() const;
    // Six CAN bytes, then ENQ until ACK, at most ten seconds or until cancel.
    bool restart(const std::atomic<bool> &cancel);

    // Since the last byte from the board.
    qint64 silentMs() const { return m_clock.elapsed() - m_lastByteMs; }
    void touch() { m_lastByteMs = m_clock.elapsed(); }
    // Every wait ends on it.
    void stop() { m_stopping = true; }

private:
    // Moves what the port holds into the framer.
    int pull(bool *hungUp);
    // Takes one command's reply lines as they come, until its time-out.
    void collect(const QByteArray &out, int limitMs, bool *gone, LinkSink &sink);
    // Drops the answers owed to commands that timed out before a new
    // command goes out; false when the board did not answer at all, with
    // the reason in *error.
    bool resynchronise(bool *hungUp, QByteArray *error, LinkSink &sink);
    qint64 now() const { return m_clock.elapsed(); }

    PortOwner &m_owner;
    SerialPort m_port;
    ReplyFramer m_framer;
    const int m_queueSize;
    const int m_silenceMs;
    QElapsedTimer m_clock;
    // Time of the last sign of life from the board, for the presence check.
    std::atomic<qint64> m_lastByteMs{0};
    std::atomic<bool> m_stopping{false};
};
