#pragma once

#include <QLabel>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace CustomControls {

struct SwitchState
{
    int value = 0;
    QString name;
    QString image;
    QRect region; // picture pixel coordinates; null when the state has none
};

// One image set of the process-wide switch table: image i and value i for
// state i, and optionally a hot region for each state.
struct SwitchImageSet
{
    QString typeName;
    QStringList images;
    QList<QRect> regions;
};

// Picture widget with a list of states. A click selects the state whose hot
// region was hit or, without a hit, the next state.
class MySwitch : public QLabel
{
    Q_OBJECT

public:
    explicit MySwitch(QWidget *parent = nullptr);

    static const QList<SwitchImageSet> &imageTable();

    void addState(const QString &name, const QString &image, int value = -1);
    void setStateRegion(int index, const QRect &region);
    // Positions in imageTable(); the numbers are what forms and stored
    // "model" properties carry.
    enum ImageSet
    {
        Toggle,
        TwoWay,
        ThreeWay,
        FourWay,
        Signal,
        Buffer,
        Button,
        RedButton,
        RedLamp,
        GreenLamp,
        ThreeLamp
    };
    void setType(int type);

    void selectValue(int v);
    int stateValue() const;
    int currentIndex() const { return m_currentIndex; }
    int count() const { return m_states.size(); }
    const SwitchState &state(int index) const { return m_states.at(index); }

    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);

    double angle() const { return m_angle; }
    void setAngle(double angle) { m_angle = angle; }
    bool mirroredX() const { return m_mirroredX; }
    void setMirroredX(bool on) { m_mirroredX = on; }
    bool mirroredY() const { return m_mirroredY; }
    void setMirroredY(bool on) { m_mirroredY = on; }

    // The state index a left click at pos selects (picture mapping and hot
    // regions), or -1 when there are no states.
    int targetForClick(const QPoint &pos) const;

    // Where the current picture is painted: its aspect kept, as large as the
    // widget allows, centred. Empty without a picture.
    QRectF pictureRect() const;

    // The natural size of the current picture, turned by the angle.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    bool setCurrentState(qint32 index);

signals:
    void signal_StateChanged(qint32 value);
    void signal_clicked();

protected:
    // Only the picture: the label text is the switch's option text.
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QList<SwitchState> m_states;
    int m_currentIndex = 0;
    bool m_readOnly = false;
    double m_angle = 0;
    bool m_mirroredX = false;
    bool m_mirroredY = false;
};

} // namespace CustomControls
