#include "applet/refreshbatcher.h"

#include "applet/controlbinding.h"

#include <utility>

void RefreshBatcher::close()
{
    if (--m_depth == 0)
        flush();
}

void RefreshBatcher::collect(ControlBinding *binding)
{
    m_pending.append(binding);
}

void RefreshBatcher::flush()
{
    // A control's slot may write the model again while this runs: take the
    // list first and let such writes queue up anew.
    while (!m_pending.isEmpty()) {
        const QList<QPointer<ControlBinding>> bindings = std::exchange(m_pending, {});
        for (const QPointer<ControlBinding> &binding : bindings) {
            if (!binding)
                continue;
            ++m_depth;
            binding->refreshCollected();
            --m_depth;
        }
    }
}

void RefreshBatcher::attach(ControlBinding *binding)
{
    if (!m_bindings.contains(binding))
        m_bindings.append(binding);
}

void RefreshBatcher::detach(ControlBinding *binding)
{
    m_bindings.removeOne(binding);
}

void RefreshBatcher::refreshEverywhere(const QString &name)
{
    for (ControlBinding *binding : std::as_const(m_bindings))
        binding->refresh(name);
}
