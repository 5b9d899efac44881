#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

// The text of the window-state file: the main window's geometry record in
// hexadecimal, then one line per device window: name,x,y,width,height,visible.
class WindowStateFile
{
public:
    struct Window
    {
        QString name;
        QRect geometry;
        bool visible = false;
        bool operator==(const Window &other) const
        {
            return name == other.name && geometry == other.geometry && visible == other.visible;
        }
    };

    static constexpr qint64 MaxFileSize = 1 << 20;
    // Positions and sizes beyond what any screen holds are no window's; the
    // bound also keeps a rectangle's far edge within an int.
    static constexpr int MaxCoordinate = 65535;

    QByteArray mainGeometry;
    QList<Window> windows;

    QByteArray compose() const;
    // Lines that are not six fields of a name and five decimal numbers, or
    // whose position or size is out of bounds, are left out.
    static WindowStateFile parse(const QByteArray &text);
};
