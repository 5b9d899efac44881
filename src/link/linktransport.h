#pragma once

#include "link/linkcommand.h"
#include "link/portowner.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <functional>

// What a transport tells the link's front while it works. Errors are told
// only once the port is let go: an error box runs the event loop.
class LinkSink
{
public:
    // kind: a ControlBoard::LogKind.
    virtual void log(int kind, const QByteArray &text) = 0;
    virtual void sent() = 0;
    virtual void received() = 0;
    virtual bool isConnected() const = 0;
    // The board is lost: the link closes (port held).
    virtual void closeLink() = 0;
    // The board went without being asked to (port let go); loss: a
    // ControlBoard::Loss.
    virtual void lost(int loss) = 0;
    // The port could not be had for a command; always false.
    virtual bool portRefused(bool timedOut, int waitedMs) = 0;

protected:
    ~LinkSink() = default;
};

// Commands for a transport, the first already logged as sent. Each
// command's timeout is the silence allowed before each of its reply lines
// (0: nothing is awaited). The transport logs the later ones as their turn
// comes, so the log reads as if each had gone alone.
struct LinkRequest
{
    QList<LinkCommand> commands;
    // Filled with one per command, in order.
    QList<LinkReply> *replies = nullptr;
    PortOwner *port = nullptr;
    // How long the command may wait for the port, and its place in line
    // when it took one ahead of time.
    QDeadlineTimer portDeadline;
    int portWaitMs = 0;
    PortOwner::Ticket ticket = 0;
};

// What stands behind the link: the board on a serial port, the built-in
// mock-up or a script. Each takes the port (request.port) for its exchange,
// so there is one ownership and one order for every kind.
class LinkTransport
{
public:
    virtual ~LinkTransport() = default;
    // Sends the commands and gathers their replies; false when one failed,
    // which the transport has told the sink. A command that finds the board
    // gone fails without a word, as it would have on its own.
    virtual bool exchange(const LinkRequest &request, LinkSink &sink) = 0;

protected:
    // For a transport that answers in-process (the mock-up, a script): each
    // command answered in turn under one lease, then logged as if each had
    // gone alone.
    static bool answerEach(const LinkRequest &request, LinkSink &sink,
                           const std::function<QByteArray(const QByteArray &command)> &answer);
};
