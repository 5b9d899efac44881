#include "app/portbox.h"

#include "link/boarddiscovery.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// The port box's own field: the whole name while it is edited, the
// middle cut out otherwise.
class PortLineEdit : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QStyleOptionFrame panel;
        initStyleOption(&panel);
        const QRect area =
            style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).adjusted(2, 0, -2, 0);
        const QString full = text();
        if (hasFocus() || fontMetrics().horizontalAdvance(full) <= area.width()) {
            QLineEdit::paintEvent(event);
            return;
        }
        QPainter painter(this);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                              PortBox::elided(full, fontMetrics(), area.width()), QPalette::Text);
    }
};

// A path cut after its first directory ("/dev/…"): all the room left goes
// to its end, where a by-id name has its serial number and interface.
QString elidedPath(const QString &path, const QFontMetrics &metrics, int width)
{
    const QString ellipsis(QChar(0x2026));
    const int slash = path.indexOf(QLatin1Char('/'), 1);
    const QString head = slash > 0 ? path.left(slash + 1) + ellipsis : ellipsis;
    if (metrics.horizontalAdvance(head) >= width)
        return metrics.elidedText(path, Qt::ElideLeft, width);
    int kept = 0;
    while (kept < path.size() - head.size() &&
           metrics.horizontalAdvance(head + path.right(kept + 1)) <= width)
        ++kept;
    // Where room is short the end alone says more than "/dev/" does.
    if (kept < 16)
        return metrics.elidedText(path, Qt::ElideLeft, width);
    return head + path.right(kept);
}

} // namespace

QString PortBox::elided(const QString &text, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // The longest path gives up its middle first; the sentence around it stays.
    QStringList words = text.split(QLatin1Char(' '));
    int longest = -1;
    for (int i = 0; i < words.size(); ++i) {
        if (words.at(i).contains(QLatin1Char('/')) &&
            (longest < 0 || words.at(i).size() > words.at(longest).size()))
            longest = i;
    }
    if (longest >= 0) {
        const QString path = words.at(longest);
        const int rest = metrics.horizontalAdvance(text) - metrics.horizontalAdvance(path);
        const int room = width - rest;
        if (room >= metrics.horizontalAdvance(QStringLiteral("\u2026port0"))) {
            words[longest] = elidedPath(path, metrics, room);
            return words.join(QLatin1Char(' '));
        }
    }
    return metrics.elidedText(text, Qt::ElideMiddle, width);
}

PortBox::PortBox(QWidget *parent) : QComboBox(parent)
{
    setFixedSize(150, 20);
    setLineEdit(new PortLineEdit(this));
    setInsertPolicy(QComboBox::NoInsert);
    view()->setTextElideMode(Qt::ElideMiddle);
    // The whole name of the port shown, since the field shows only its ends.
    const auto showWholeName = [this](const QString &text) {
        setToolTip(text.isEmpty() ? QStringLiteral("Board port: a serial device path or \"mockup\"")
                                  : QStringLiteral("Board port: %1").arg(text));
    };
    connect(this, &QComboBox::currentTextChanged, this, showWholeName);
    showWholeName(QString());
}

void PortBox::setPortList(const QStringList &ports, const QString &lastPort)
{
    clear();
    addItems(ports);
    // The port of the last connect comes first choice again, if offered.
    const int last = findPort(lastPort);
    if (last >= 0)
        setCurrentIndex(last);
    m_autoPort = currentText();
}

void PortBox::setPorts(const QList<PortEntry> &ports, const QString &lastPort)
{
    const QString current = currentText();
    const bool chosen = !current.isEmpty() && current != m_autoPort;
    clear();
    int widest = 0;
    for (const PortEntry &port : ports) {
        addItem(port.displayName(), port.path);
        const int index = count() - 1;
        QString tip = port.description();
        if (!port.holder.isEmpty()) {
            // Offered, so that Connect can say who has it, but never opened.
            tip = QStringLiteral("In use by %1; not opened.").arg(port.holder) +
                  (tip.isEmpty() ? QString() : QLatin1Char('\n') + tip);
            setItemData(index, palette().brush(QPalette::Disabled, QPalette::Text), Qt::ForegroundRole);
        }
        setItemData(index, port.displayName() + (tip.isEmpty() ? QString() : QLatin1Char('\n') + tip),
                    Qt::ToolTipRole);
        widest = qMax(widest, fontMetrics().horizontalAdvance(port.displayName()));
    }
    // The list opens wide enough for most names, cut in the middle beyond that.
    view()->setMinimumWidth(qBound(width(), widest + 40, 480));
    addItem(QStringLiteral("mockup"), QStringLiteral("mockup"));
    if (chosen) {
        const int index = findText(current, Qt::MatchExactly);
        if (index >= 0)
            setCurrentIndex(index);
        else
            setEditText(current);
        return;
    }
    const int last = findPort(lastPort);
    setCurrentIndex(last >= 0 ? last : 0);
    m_autoPort = currentText();
}

int PortBox::findPort(const QString &name) const
{
    if (name.isEmpty())
        return -1;
    const int exact = findText(name, Qt::MatchExactly);
    if (exact >= 0)
        return exact;
    const int byPath = findData(name);
    if (byPath >= 0)
        return byPath;
    // The same device under another name (a stable name or the tty).
    const QString device = BoardDiscovery::deviceOf(name);
    if (device.isEmpty())
        return -1;
    for (int i = 0; i < count(); ++i) {
        if (BoardDiscovery::deviceOf(itemData(i).toString()) == device)
            return i;
    }
    return -1;
}

void PortBox::showConnectedPort(const QString &port)
{
    // A port connected to counts as chosen: should it go away, the box
    // keeps naming it rather than jumping to another.
    m_autoPort.clear();
    // Under its stable name, if the box shows it so.
    int index = findPort(port);
    if (index < 0) {
        // Before "mockup", which stays last.
        const int mockup = findText(QStringLiteral("mockup"), Qt::MatchExactly);
        index = mockup >= 0 ? mockup : count();
        insertItem(index, port);
    }
    setCurrentIndex(index);
}

void PortBox::keepNamed()
{
    const QString current = currentText();
    clear();
    setEditText(current);
}
