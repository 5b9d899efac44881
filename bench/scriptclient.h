#pragma once

// The benchmarks' scripting client: one request on a connection of its own,
// as the Python package sends it, blocking until the reply is whole.

#include <QByteArray>
#include <QLocalSocket>
#include <QString>

// The reply, or what came of it when the application went quiet for
// quietMs or never took the connection.
inline QByteArray ask(const QString &path, const QByteArray &request, int quietMs = 3000)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    socket.write(request);
    socket.waitForBytesWritten(3000);
    QByteArray reply;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(quietMs))
        reply += socket.readAll();
    return reply + socket.readAll();
}
