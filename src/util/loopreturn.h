#pragma once

#include <functional>

class QObject;

// Calls back once this thread's event loop is about to sleep where `back`
// holds (a wait, a box or a dialog further up has returned), from that
// loop's next pass. Asked again before then, it still calls back once.
class LoopReturn
{
public:
    // The calls die with context.
    explicit LoopReturn(QObject *context) : m_context(context) {}
    LoopReturn(const LoopReturn &) = delete;
    LoopReturn &operator=(const LoopReturn &) = delete;

    void call(std::function<bool()> back, std::function<void()> then);

private:
    QObject *m_context;
    bool m_armed = false;
};
