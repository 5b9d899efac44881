// hql3318-ctl: sends one request to the application's scripting socket and
// prints the reply.
//   hql3318-ctl [--pipe NAME] set|get|run NAME [TYPED_VALUE ...]
//   hql3318-ctl [--pipe NAME] -        (lines from standard input, one request)
// Exit status: 0 for a reply, 1 for "err", 2 when no server answers.
#include "app/localserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: hql3318-ctl [--pipe NAME] set|get|run NAME [TYPED_VALUE ...]\n"
               "       hql3318-ctl [--pipe NAME] -   (request lines from standard input)\n"
               "typed values: i<integer> f<real> s<text> x<hex bytes>\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString pipe = QStringLiteral("HQL3318");
    if (args.size() >= 2 && args.at(0) == QLatin1String("--pipe")) {
        pipe = args.at(1);
        args = args.mid(2);
    }
    if (args.isEmpty() || args.at(0) == QLatin1String("--help") || args.at(0) == QLatin1String("-h"))
        return usage();

    QByteArray request;
    if (args.at(0) == QLatin1String("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return usage();
        request = in.readAll();
        if (!request.endsWith('\n'))
            request += '\n';
    } else {
        const QString word = args.at(0);
        if ((word != QLatin1String("set") && word != QLatin1String("get") && word != QLatin1String("run")) ||
            args.size() < 2)
            return usage();
        request = args.join(QLatin1Char('\t')).toLocal8Bit() + '\n';
    }

    QLocalSocket socket;
    socket.connectToServer(LocalServer::socketPath(pipe));
    if (!socket.waitForConnected(3000)) {
        std::fprintf(stderr, "hql3318-ctl: no server at %s\n", qPrintable(LocalServer::socketPath(pipe)));
        return 2;
    }
    socket.write(request);
    socket.flush();
    QByteArray reply;
    // The server closes the connection when the reply is complete.
    while (socket.state() == QLocalSocket::ConnectedState) {
        if (!socket.waitForReadyRead(60000) && socket.state() == QLocalSocket::ConnectedState) {
            std::fputs("hql3318-ctl: the server did not answer\n", stderr);
            return 2;
        }
        reply += socket.readAll();
    }
    reply += socket.readAll();
    std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
    if (!reply.isEmpty() && !reply.endsWith('\n'))
        std::fputc('\n', stdout);
    // Only "ok" and "err" replies end with a line feed, so an "err" line
    // shows even between typed values.
    return reply.contains("err\n") ? 1 : 0;
}
