#pragma once

#include "link/linktransport.h"

#include <QByteArray>

// The link's own stand-in for a board: answers every command with a
// plausible success reply. Its numbers come from a small generator of our
// own (0..32767) so every platform gives the same sequence.
class MockUpResponder : public LinkTransport
{
public:
    void seed(unsigned value) { m_state = value; }
    int next();
    QByteArray reply(const QByteArray &command);
    bool exchange(const LinkRequest &request, LinkSink &sink) override;

private:
    unsigned m_state = 100;
};
