#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVector>

// One reading of the board: the two motor currents in A and the supply
// voltage in V, stamped in milliseconds since the epoch.
struct MeasurementSample
{
    qint64 msecs = 0;
    double isen1 = 0;
    double isen2 = 0;
    double supply = 0;
};

// The recorded readings: a ring that keeps the newest samples up to its
// capacity, the points of a time window for plotting and the CSV export.
// QtCore only, so it is tested and measured without a window.
class MeasurementLog
{
public:
    static constexpr int DefaultCapacity = 100000;

    explicit MeasurementLog(int capacity = DefaultCapacity);

    void append(const MeasurementSample &sample);
    void clear();
    int size() const { return m_count; }
    int capacity() const { return m_capacity; }
    bool isEmpty() const { return m_count == 0; }
    // 0 is the oldest sample kept.
    const MeasurementSample &at(int index) const;
    const MeasurementSample &last() const { return at(m_count - 1); }

    // One list of points per quantity (x: milliseconds since the epoch).
    struct Points
    {
        QList<QPointF> isen1;
        QList<QPointF> isen2;
        QList<QPointF> supply;
    };
    // The samples stamped from `from` on, newest last. More than maxPoints
    // samples are thinned to the lowest and highest of each stretch, so a
    // short peak still shows.
    Points window(qint64 from, int maxPoints) const;

    static QByteArray csvHeader();
    // The time stamp in local time with its offset (ISO 8601, milliseconds).
    static QByteArray csvLine(const MeasurementSample &sample);
    // Every sample kept, oldest first, after the header. Written whole or
    // not at all: on failure an earlier file of that name stays as it was.
    bool writeCsv(const QString &path, QString *error) const;

private:
    // Grows to the capacity as samples come: most sessions never fill it,
    // and a full one would hold megabytes from the start.
    QVector<MeasurementSample> m_ring;
    int m_capacity;
    int m_first = 0;
    int m_count = 0;
};
