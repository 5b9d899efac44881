#include "tools/measurementlog.h"

#include "util/safefile.h"

#include <QDateTime>

#include <algorithm>

MeasurementLog::MeasurementLog(int capacity) : m_capacity(qMax(1, capacity)) {}

void MeasurementLog::append(const MeasurementSample &sample)
{
    const int size = capacity();
    if (m_count < size) {
        // Until the ring is full the oldest sample sits at 0.
        if (m_count < m_ring.size())
            m_ring[m_count] = sample;
        else
            m_ring.append(sample);
        ++m_count;
        return;
    }
    // Full: the newest takes the place of the oldest.
    m_ring[m_first] = sample;
    m_first = (m_first + 1) % size;
}

void MeasurementLog::clear()
{
    m_first = 0;
    m_count = 0;
    m_ring = QVector<MeasurementSample>();
}

const MeasurementSample &MeasurementLog::at(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_ring.at((m_first + index) % capacity());
}

namespace {

using Series = QList<QPointF>;

// Keeps the lowest and the highest point of each stretch, in time order,
// and the newest point, so the line reaches the right edge.
Series thinned(const Series &points, int maxPoints)
{
    if (points.size() <= maxPoints)
        return points;
    const int buckets = qMax(1, (maxPoints - 1) / 2);
    Series out;
    out.reserve(buckets * 2);
    const qsizetype n = points.size();
    for (int b = 0; b < buckets; ++b) {
        const qsizetype begin = n * b / buckets;
        const qsizetype end = n * (b + 1) / buckets;
        if (begin >= end)
            continue;
        qsizetype low = begin;
        qsizetype high = begin;
        for (qsizetype i = begin + 1; i < end; ++i) {
            if (points.at(i).y() < points.at(low).y())
                low = i;
            if (points.at(i).y() > points.at(high).y())
                high = i;
        }
        out.append(points.at(qMin(low, high)));
        if (low != high)
            out.append(points.at(qMax(low, high)));
    }
    if (out.last() != points.last())
        out.append(points.last());
    return out;
}

} // namespace

MeasurementLog::Points MeasurementLog::window(qint64 from, int maxPoints) const
{
    // The newest samples are at the end: walk back only over the window.
    int begin = m_count;
    while (begin > 0 && at(begin - 1).msecs >= from)
        --begin;
    Points points;
    const int n = m_count - begin;
    points.isen1.reserve(n);
    points.isen2.reserve(n);
    points.supply.reserve(n);
    for (int i = begin; i < m_count; ++i) {
        const MeasurementSample &s = at(i);
        const qreal x = qreal(s.msecs);
        points.isen1.append(QPointF(x, s.isen1));
        points.isen2.append(QPointF(x, s.isen2));
        points.supply.append(QPointF(x, s.supply));
    }
    if (maxPoints > 0 && n > maxPoints) {
        points.isen1 = thinned(points.isen1, maxPoints);
        points.isen2 = thinned(points.isen2, maxPoints);
        points.supply = thinned(points.supply, maxPoints);
    }
    return points;
}

QByteArray MeasurementLog::csvHeader()
{
    return QByteArrayLiteral("time,Isen1 [A],Isen2 [A],Supply [V]\n");
}

QByteArray MeasurementLog::csvLine(const MeasurementSample &sample)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(sample.msecs);
    // With its offset the stamp names one instant, also across a change
    // of daylight saving time.
    const QDateTime stamped = local.toOffsetFromUtc(local.offsetFromUtc());
    QByteArray line = stamped.toString(Qt::ISODateWithMs).toLatin1();
    for (double value : {sample.isen1, sample.isen2, sample.supply}) {
        line += ',';
        line += QByteArray::number(value, 'f', 6);
    }
    line += '\n';
    return line;
}

bool MeasurementLog::writeCsv(const QString &path, QString *error) const
{
    SafeFile file(path);
    QByteArray chunk = csvHeader();
    bool ok = file.open();
    for (int i = 0; i < m_count && ok; ++i) {
        chunk += csvLine(at(i));
        if (chunk.size() >= (1 << 16)) {
            ok = file.write(chunk);
            chunk.clear();
        }
    }
    if (ok && !chunk.isEmpty())
        ok = file.write(chunk);
    if (!ok || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
