#include "controls/myswitch.h"

#include <QHash>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
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

// The size a picture is drawn for; click regions are given in its pixels.
QSize naturalSize(const QString &image)
{
    static QHash<QString, QSize> sizes;
    const auto found = sizes.constFind(image);
    if (found != sizes.constEnd())
        return *found;
    const QSize size = QImageReader(image).size();
    sizes.insert(image, size);
    return size;
}

QTransform pictureTransform(double angle, bool mirroredX, bool mirroredY)
{
    QTransform transform;
    transform.rotate(angle);
    transform.scale(mirroredX ? -1 : 1, mirroredY ? -1 : 1);
    return transform;
}

// The picture rendered at the device's own pixel size, so that an SVG source
// stays sharp at any scale instead of being stretched from its natural size.
QPixmap renderedPicture(const QString &image, const QSize &pixels, const QTransform &transform)
{
    const QString key = QStringLiteral("hql-switch:%1:%2x%3:%4,%5,%6,%7")
                            .arg(image)
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(transform.m11())
                            .arg(transform.m12())
                            .arg(transform.m21())
                            .arg(transform.m22());
    QPixmap picture;
    if (QPixmapCache::find(key, &picture))
        return picture;
    QImageReader reader(image);
    reader.setScaledSize(pixels);
    QImage rendered = reader.read();
    if (rendered.isNull())
        return picture;
    if (!transform.isIdentity())
        rendered = rendered.transformed(transform, Qt::FastTransformation);
    picture = QPixmap::fromImage(rendered);
    QPixmapCache::insert(key, picture);
    return picture;
}

} // namespace

const QList<SwitchImageSet> &MySwitch::imageTable()
{
    static const QList<SwitchImageSet> table = buildImageTable();
    return table;
}

MySwitch::MySwitch(QWidget *parent) : QLabel(parent)
{
    // No fill of its own: a round picture sits on whatever it is placed on,
    // not on a square of another shade.
    setAutoFillBackground(false);
    setCursor(Qt::PointingHandCursor);
}

void MySwitch::addState(const QString &name, const QString &image, int value)
{
    if (value == -1)
        value = m_states.size();
    m_states.append({value, name, image, QRect()});
    updateGeometry();
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
    updateGeometry();
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
    // Widget positions map through the painted picture, not the whole widget.
    const QSize picture = naturalSize(m_states.value(m_currentIndex).image);
    const QRectF shown = pictureRect();
    int px = 0;
    int py = 0;
    if (!shown.isEmpty()) {
        px = int((pos.x() - shown.left()) * picture.width() / shown.width());
        py = int((pos.y() - shown.top()) * picture.height() / shown.height());
    }
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

QRectF MySwitch::pictureRect() const
{
    if (m_currentIndex < 0 || m_currentIndex >= m_states.size())
        return QRectF();
    const QSize natural = naturalSize(m_states.at(m_currentIndex).image);
    if (natural.isEmpty() || width() <= 0 || height() <= 0)
        return QRectF();
    // A turned picture must fit with its corners, so the scale comes from its
    // turned bounding box.
    const QSizeF box = QTransform().rotate(m_angle).mapRect(QRectF(QPointF(0, 0), QSizeF(natural))).size();
    const double scale = qMin(width() / box.width(), height() / box.height());
    const QSizeF size = QSizeF(natural) * scale;
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QSize MySwitch::sizeHint() const
{
    if (m_currentIndex < 0 || m_currentIndex >= m_states.size())
        return QLabel::sizeHint();
    const QSize natural = naturalSize(m_states.at(m_currentIndex).image);
    if (natural.isEmpty())
        return QLabel::sizeHint();
    return QTransform().rotate(m_angle).mapRect(QRect(QPoint(0, 0), natural)).size();
}

QSize MySwitch::minimumSizeHint() const
{
    return m_states.isEmpty() ? QLabel::minimumSizeHint() : sizeHint();
}

void MySwitch::paintEvent(QPaintEvent *)
{
    const QRectF target = pictureRect();
    if (target.isEmpty())
        return;
    QPainter painter(this);
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QSize pixels = (target.size() * ratio).toSize();
    if (pixels.isEmpty())
        return;
    QPixmap picture = renderedPicture(m_states.at(m_currentIndex).image, pixels,
                                      pictureTransform(m_angle, m_mirroredX, m_mirroredY));
    if (picture.isNull())
        return;
    picture.setDevicePixelRatio(ratio);
    const QSizeF shown = QSizeF(picture.size()) / ratio;
    painter.drawPixmap(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), picture);
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
