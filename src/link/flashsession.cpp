#include "link/flashsession.h"

#include "link/controlboard.h"
#include "link/heximage.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

void appendHex32(QByteArray &out, quint32 value)
{
    static const char digits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += digits[(value >> shift) & 0xF];
}

// A reply confirms only when it says so; anything else is not a confirmation.
bool confirmed(bool ok, const QByteArray &reply)
{
    return ok && reply.contains("flash:ok");
}

} // namespace

FlashSession::FlashSession(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &FlashSession::slot_step);
}

FlashSession::~FlashSession()
{
    if (m_board)
        m_board->unreserve(this);
}

QByteArray FlashSession::blockLine(quint32 address, const char *data, int size)
{
    QByteArray line;
    line.reserve(10 + 24 + 2 * size + 1);
    line += "set flash=";
    appendHex32(line, address);
    appendHex32(line, HexImage::blockCheck(data, size));
    appendHex32(line, quint32(size));
    line += QByteArray::fromRawData(data, size).toHex();
    line += '\r';
    return line;
}

QByteArray FlashSession::markerLine()
{
    return QByteArrayLiteral("set flash=8007fffC1234abcd000000041234abcd\r");
}

bool FlashSession::start(ControlBoard *board, const QByteArray &image, int length)
{
    if (isRunning() || length <= 0 || length > image.size())
        return false;
    m_board = board;
    m_image = image;
    m_length = length;
    m_lines = lineCount(length);
    m_next = 0;
    // Nothing else goes to the board until the marker is answered.
    board->reserve(this);
    m_timer.start();
    emit signal_progress(0, m_lines);
    return true;
}

void FlashSession::cancel()
{
    if (isRunning())
        finish(Cancelled);
}

void FlashSession::slot_step()
{
    // Not inside another exchange's wait: the next pass of the loop sends.
    if (m_board && m_board->isWaitingLive())
        return;
    QElapsedTimer slice;
    slice.start();
    do {
        if (!m_board || !m_board->isConnected()) {
            finish(NotConnected);
            return;
        }
        if (m_next == m_lines) {
            // The marker only follows a complete image.
            QByteArray reply;
            const bool ok = m_board->transact(markerLine(), &reply, -1, this);
            finish(confirmed(ok, reply) ? Finished : MarkerFailed);
            return;
        }
        if (!sendBlock())
            return;
    } while (slice.elapsed() < SliceMs);
}

bool FlashSession::sendBlock()
{
    const int offset = m_next * BlockSize;
    const int size = std::min(BlockSize, m_length - offset);
    const QByteArray line = blockLine(FlashAddress + quint32(offset), m_image.constData() + offset, size);
    QByteArray reply;
    const bool ok = m_board->transact(line, &reply, -1, this);
    if (!confirmed(ok, reply)) {
        finish(BlockFailed);
        return false;
    }
    ++m_next;
    emit signal_progress(m_next, m_lines);
    return true;
}

void FlashSession::finish(Outcome outcome)
{
    m_timer.stop();
    m_image.clear();
    if (m_board)
        m_board->unreserve(this);
    emit signal_finished(outcome);
}
