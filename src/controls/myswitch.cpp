#include "controls/myswitch.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTransform>

namespace CustomControls {

namespace {

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QList<SwitchImageSet> buildImageTable()
{
    const QString sw = QStringLiteral(":/switches/");
    const QString gray = QStringLiteral(":/leds/img_led_gray");
    const QString green = QStringLiteral(":/leds/img_led_green");
    const QString red = QStringLiteral(":/leds/img_led_red");
    return {
        {"[/--]", {sw + "img_sw_off", sw + "img_sw_on"}, {}},
        {"[/-2]",
         {sw + "img_sw1_2_on2", sw + "img_sw1_2_on1"},
         {corners(0, 20, 31, 31), corners(0, 0, 31, 11)}},
        {"[/-3]",
         {sw + "img_sw1_3_on3", sw + "img_sw1_3_on2", sw + "img_sw1_3_on1"},
         {corners(0, 22, 31, 31), corners(0, 11, 31, 21), corners(0, 0, 31, 9)}},
        {"[/-4]",
         {sw + "img_sw1_4_on4", sw + "img_sw1_4_on3", sw + "img_sw1_4_on2", sw + "img_sw1_4_on1"},
         {corners(17, 34, 35, 49), corners(0, 25, 16, 44), corners(0, 5, 16, 24), corners(17, 0, 35, 15)}},
        {"[x]", {sw + "img_signal_0", sw + "img_signal_1"}, {}},
        {"[<>]", {sw + "img_buffer_left", sw + "img_buffer_right"}, {}},
        {"[*]", {sw + "img_btn_off", sw + "img_btn_on"}, {}},
        {"[R]", {sw + "img_btn_off", sw + "img_btn_on_red"}, {}},
        {"[RED]", {gray, red}, {}},
        {"[GREEN]", {gray, green}, {}},
        {QString(), {gray, green, red}, {}},
        {QString(), {}, {}},
    };
}

} // namespace

const QList<SwitchImageSet> &MySwitch::imageTable()
{
    static const QList<SwitchImageSet> table = buildImageTable();
    return table;
}

MySwitch::MySwitch(QWidget *parent) : QLabel(parent)
{
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
}

void MySwitch::addState(const QString &name, const QString &image, int value)
{
    if (value == -1)
        value = m_states.size();
    m_states.append({value, name, image, QRect()});
}

void MySwitch::setStateRegion(int index, const QRect &region)
{
    if (index >= 0 && index < m_states.size())
        m_states[index].region = region;
}

void MySwitch::setType(int type)
{
    m_currentIndex = 0;
    const QList<SwitchImageSet> &table = imageTable();
    if (type >= 0 && type < table.size()) {
        const SwitchImageSet &set = table.at(type);
        const int first = m_states.size();
        for (int i = 0; i < set.images.size(); ++i)
            m_states.append({i, QString(), set.images.at(i), QRect()});
        for (int i = 0; i < set.regions.size(); ++i)
            setStateRegion(first + i, set.regions.at(i));
    }
    update();
}

bool MySwitch::setCurrentState(qint32 index)
{
    if (index == m_currentIndex || index < 0 || index >= m_states.size())
        return false;
    m_currentIndex = index;
    update();
    emit signal_StateChanged(m_states.at(index).value);
    return true;
}

void MySwitch::selectValue(int v)
{
    for (int i = 0; i < m_states.size(); ++i) {
        if (m_states.at(i).value == v)
            setCurrentState(i);
    }
}

int MySwitch::stateValue() const
{
    if (m_currentIndex < 0 || m_currentIndex >= m_states.size())
        return -1;
    return m_states.at(m_currentIndex).value;
}

void MySwitch::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    setCursor(readOnly ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

int MySwitch::targetForClick(const QPoint &pos) const
{
    if (m_states.isEmpty())
        return -1;
    const QSize picture = QPixmap(m_states.value(m_currentIndex).image).size();
    int px = width() > 0 ? pos.x() * picture.width() / width() : 0;
    int py = height() > 0 ? pos.y() * picture.height() / height() : 0;
    if (m_mirroredX)
        px = picture.width() - px;
    if (m_mirroredY)
        py = picture.height() - py;
    for (int i = 0; i < m_states.size(); ++i) {
        const QRect &region = m_states.at(i).region;
        if (region.isNull())
            break;
        if (region.contains(px, py))
            return i;
    }
    return (m_currentIndex + 1) % m_states.size();
}

void MySwitch::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (m_currentIndex < 0 || m_currentIndex >= m_states.size())
        return;
    QPixmap picture(m_states.at(m_currentIndex).image);
    if (picture.isNull())
        return;
    QTransform transform;
    transform.rotate(m_angle);
    transform.scale(m_mirroredX ? -1 : 1, m_mirroredY ? -1 : 1);
    if (!transform.isIdentity())
        picture = picture.transformed(transform, Qt::FastTransformation);
    QPainter painter(this);
    painter.drawPixmap(rect(), picture);
}

void MySwitch::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_readOnly)
        return;
    // A switch without states has nothing to select and reports no click.
    const int target = targetForClick(event->position().toPoint());
    if (target < 0)
        return;
    setCurrentState(target);
    emit signal_clicked();
}

} // namespace CustomControls
