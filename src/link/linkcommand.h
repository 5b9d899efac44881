#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>

// One command of those that go out together, and how long each of its
// reply lines may take (-1: the link's default, 0: nothing is awaited).
struct LinkCommand
{
    QByteArray text;
    int timeout = -1;
};

// The answer to one such command: its last reply line, and whether every
// line of it came without an error.
struct LinkReply
{
    QByteArray text;
    bool ok = false;
};

Q_DECLARE_METATYPE(LinkReply)
