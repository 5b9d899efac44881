#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

class ControlBoard;

// Sends a firmware image to the board's resident loader: one "set flash="
// line per 256-byte block, the last block as long as what is left, then the
// validity marker. Lines go out from the event loop in slices of a few
// milliseconds, so the windows stay responsive while a large image is
// written and a fast board is not held up by a loop turn per line.
class FlashSession : public QObject
{
    Q_OBJECT

public:
    enum Outcome
    {
        Finished,
        // A block was refused, timed out or not confirmed; nothing more was sent.
        BlockFailed,
        // Every block went through, the marker did not.
        MarkerFailed,
        // The link was gone before a line could be sent.
        NotConnected,
        Cancelled
    };

    static constexpr quint32 FlashAddress = 0x80050000u;
    static constexpr int BlockSize = 256;
    // Longest run of lines sent without returning to the event loop.
    static constexpr int SliceMs = 4;

    explicit FlashSession(QObject *parent = nullptr);
    // A session that goes mid-way gives the board back.
    ~FlashSession() override;

    // The line for size bytes written at address, ended by CR (transact adds the LF).
    static QByteArray blockLine(quint32 address, const char *data, int size);
    static QByteArray markerLine();
    // Block lines needed for length bytes.
    static int lineCount(int length) { return (length + BlockSize - 1) / BlockSize; }

    // Sends the first length bytes of image; false when a session runs or
    // there is nothing to send.
    bool start(ControlBoard *board, const QByteArray &image, int length);
    void cancel();
    bool isRunning() const { return m_timer.isActive(); }

signals:
    // sent of total block lines confirmed.
    void signal_progress(int sent, int total);
    void signal_finished(int outcome);

private:
    void slot_step();
    // False when the session ended with this line.
    bool sendBlock();
    void finish(Outcome outcome);

    QPointer<ControlBoard> m_board;
    QByteArray m_image;
    int m_length = 0;
    int m_lines = 0;
    int m_next = 0;
    QTimer m_timer;
};
