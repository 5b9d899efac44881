#pragma once

#include <QList>
#include <QPointer>
#include <QString>

class ControlBinding;

// The control refreshes of one application's windows. While a batch is
// open (a named function runs), refreshes are collected and each changed
// parameter's controls are refreshed once when the outermost batch closes:
// a function that writes a register many times redraws it once, in every
// window that shows it.
class RefreshBatcher
{
public:
    class Batch
    {
    public:
        explicit Batch(RefreshBatcher &batcher) : m_batcher(batcher) { m_batcher.open(); }
        ~Batch() { m_batcher.close(); }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        RefreshBatcher &m_batcher;
    };

    RefreshBatcher() = default;
    RefreshBatcher(const RefreshBatcher &) = delete;
    RefreshBatcher &operator=(const RefreshBatcher &) = delete;

    bool isOpen() const { return m_depth > 0; }
    void open() { ++m_depth; }
    // The outermost close refreshes what was collected.
    void close();
    // The binding has names waiting for the batch to close.
    void collect(ControlBinding *binding);
    // Refreshes what was collected so far (before the event loop runs inside
    // a function, so the windows show the current state).
    void flush();

    void attach(ControlBinding *binding);
    void detach(ControlBinding *binding);
    // Refreshes the parameter in every window that shows it, after a change
    // that was not announced (a register file, say).
    void refreshEverywhere(const QString &name);

private:
    int m_depth = 0;
    QList<QPointer<ControlBinding>> m_pending;
    QList<ControlBinding *> m_bindings;
};
