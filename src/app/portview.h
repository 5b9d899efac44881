#pragma once

#include <QList>
#include <QString>

struct PortEntry;

// The port box and the status text as the port watcher fills them; the
// main window is one.
class PortView
{
public:
    virtual ~PortView() = default;
    virtual void setPorts(const QList<PortEntry> &ports) = 0;
    // Selects the port the link opened, adding it when the list lacks it.
    virtual void showConnectedPort(const QString &port) = 0;
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;
    // The "Reconnect automatically" entry shows the setting.
    virtual void setReconnectChecked(bool on) = 0;
};
