#pragma once

#include "applet/applet.h"

#include <stdexcept>

// A device window with a title and a chosen initialisation outcome.
class TestApplet : public Applet
{
    Q_OBJECT

public:
    enum Outcome
    {
        Succeeds,
        Fails,
        Throws
    };

    TestApplet(const QString &name, const QString &title, Outcome outcome = Succeeds) : m_outcome(outcome)
    {
        setObjectName(name);
        setWindowTitle(title);
        resize(200, 100);
    }

    QVariant run(const QString &, const QVariant &) override { return false; }

    bool init() override
    {
        if (m_outcome == Throws)
            throw std::runtime_error("init failed");
        return m_outcome == Succeeds;
    }

private:
    Outcome m_outcome;
};

// The seven device windows in start-up order, with their titles.
inline QList<Applet *> makeDeviceApplets(const QString &failing = QString(),
                                         TestApplet::Outcome outcome = TestApplet::Fails)
{
    const QList<QPair<QString, QString>> names = {
        {"Basic", "Basic"},
        {"Board", "Board"},
        {"HBController", "HB Controller"},
        {"SpiController", "SPI Controller"},
        {"SpiRaw", "SPI Raw"},
        {"WatchDog", "WatchDog"},
        {"ChipID", "Chip ID"},
    };
    QList<Applet *> list;
    for (const auto &n : names)
        list.append(new TestApplet(n.first, n.second, n.first == failing ? outcome : TestApplet::Succeeds));
    return list;
}
