#pragma once

// The application in this process, for the benchmarks on a modelled line:
// started headless in a directory of its own, and the commands its link
// logs as sent while an action runs.

#include "app/mainapp.h"
#include "link/controlboard.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// The application writes its settings, window state and log into its
// working directory: a private one keeps the caller's clean.
inline MainApp *startApplication(const QTemporaryDir &work, const char *bench)
{
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "%s: no working directory\n", bench);
        return nullptr;
    }
    MainApp *app = MainApp::instance();
    app->setServerName(
        QStringLiteral("hql3318-%1-%2").arg(QLatin1String(bench)).arg(QCoreApplication::applicationPid()),
        false);
    app->setHeadless(true);
    if (!app->initialise()) {
        std::fprintf(stderr, "%s: the application did not start\n", bench);
        return nullptr;
    }
    app->startMainWindow();
    return app;
}

// "run open" as a script sends it: the connect, then what the windows
// left for the event loop.
inline bool openBoard(MainApp *app, const QString &port)
{
    QVariant value(port);
    QVariant result;
    return app->run(QStringLiteral("open"), value, &result) && app->isBoardConnected();
}

inline void closeBoard(MainApp *app)
{
    QVariant value;
    QVariant result;
    app->run(QStringLiteral("close"), value, &result);
}

// Runs action with traffic logging on and returns the commands the link
// sent meanwhile, one write each.
template<typename Action>
QList<QByteArray> sentDuring(ControlBoard *link, Action action)
{
    QList<QByteArray> sent;
    const QMetaObject::Connection watch = QObject::connect(
        link, &ControlBoard::signal_traffic, link,
        [&sent](int kind, const QByteArray &text, qint64, const QTime &) {
            if (kind == ControlBoard::TX)
                sent.append(text);
        },
        Qt::DirectConnection);
    const bool logging = link->isLogging();
    link->setLogging(true);
    action();
    link->setLogging(logging);
    QObject::disconnect(watch);
    return sent;
}
