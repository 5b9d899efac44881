#pragma once

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QObject>

// A scripting client in this thread, driven by the event loop like the
// server it talks to, so a test can hold several requests open at once and
// see in which order they were answered (doneAt).
struct AsyncClient
{
    AsyncClient(const QString &path, const QByteArray &request)
    {
        QObject::connect(&socket, &QLocalSocket::connected, [this, request] {
            socket.write(request);
            sent = socket.flush() || socket.bytesToWrite() == 0;
        });
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] { reply += socket.readAll(); });
        QObject::connect(&socket, &QLocalSocket::disconnected, [this] {
            reply += socket.readAll();
            doneAt = clock().nsecsElapsed();
        });
        socket.connectToServer(path);
    }
    bool done() const { return doneAt >= 0; }

    // One clock for every client of the test program.
    static QElapsedTimer &clock()
    {
        static QElapsedTimer started = [] {
            QElapsedTimer timer;
            timer.start();
            return timer;
        }();
        return started;
    }

    QLocalSocket socket;
    bool sent = false;
    QByteArray reply;
    qint64 doneAt = -1;
};
