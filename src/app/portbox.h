#pragma once

#include <QComboBox>
#include <QList>
#include <QString>
#include <QStringList>

class QFontMetrics;
struct PortEntry;

// The main window's port box: the ports found so far, then "mockup". A
// port the user chose or connected to stays chosen while the list is
// refilled; otherwise the one of the last connect is picked. Long names
// are shown with their middle cut out.
class PortBox : public QComboBox
{
public:
    explicit PortBox(QWidget *parent = nullptr);

    void setPortList(const QStringList &ports, const QString &lastPort);
    void setPorts(const QList<PortEntry> &ports, const QString &lastPort);
    // The item for a port name: its text, its path or the same device.
    int findPort(const QString &name) const;
    // Selects the port the link opened, adding it when the list lacks it.
    void showConnectedPort(const QString &port);
    // Empties the list for a new look, still naming the chosen port.
    void keepNamed();

    // text as it fits width: the longest path in it cut in the middle first.
    static QString elided(const QString &text, const QFontMetrics &metrics, int width);

private:
    // The text as the box last chose it by itself.
    QString m_autoPort;
};
