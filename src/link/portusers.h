#pragma once

#include <QString>

// Who else uses a serial device, and why this user may not: answers from
// /proc and the device's owner and mode, for the user and before any open
// (an open alone may change another program's line or reset a board).
class PortUsers
{
public:
    // False while another program, another link of this one, or nobody
    // (a missing device) could take the port.
    static bool isFree(const QString &path);
    // "NAME (process PID)" of a process that has path open, if /proc shows
    // one: the holder of its lock first, else another process with it open.
    static QString holderOf(const QString &path);
    // "NAME (process PID)" of another process that has the device open
    // (without a lock: a terminal program), if /proc shows one. Neither this
    // process nor a pseudo-terminal's own end (the process that holds its
    // master side) counts. Such a port is not opened at all: an open alone
    // may change its line or reset a board.
    static QString otherHolder(const QString &path);
    // Why the user may not open the device, and what would let them.
    static QString permissionMessage(const QString &path);
};
