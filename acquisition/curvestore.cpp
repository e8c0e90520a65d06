#include "acquisition/curvestore.h"

#include <algorithm>

namespace acquisition {

void CurveStore::reset(const QStringList &names, const QVector<results::Kind> &kinds)
{
    m_names = names;
    m_kinds = kinds;
    m_times.clear();
    m_points.clear();
    m_values.assign(size_t(names.size()), {});
}

void CurveStore::append(qint64 msSinceEpoch, int point, const QVector<float> &values)
{
    m_times.push_back(msSinceEpoch);
    m_points.push_back(qint16(qBound(0, point, 32767)));
    for (size_t c = 0; c < m_values.size(); ++c)
        m_values[c].push_back(int(c) < values.size() ? values[int(c)] : NAN);
}

int CurveStore::lowerBound(qint64 t) const
{
    return int(std::lower_bound(m_times.begin(), m_times.end(), t) - m_times.begin());
}

int CurveStore::upperBound(qint64 t) const
{
    return int(std::upper_bound(m_times.begin(), m_times.end(), t) - m_times.begin());
}

QVector<CurveStore::Column> CurveStore::decimate(int channel, qint64 t0, qint64 t1, int width) const
{
    QVector<Column> out(qMax(0, width));
    if (width <= 0 || channel < 0 || channel >= channels() || t1 <= t0)
        return out;
    const float *v = m_values[size_t(channel)].data();
    const qint64 *t = m_times.data();
    int i = lowerBound(t0);
    const int to = upperBound(t1);
    const double span = double(t1 - t0);
    // Column by column: the samples of a column are a run of the times.
    for (int col = 0; col < width && i < to; ++col) {
        const qint64 boundary =
            col + 1 == width ? t1 + 1 : t0 + qint64(span * double(col + 1) / double(width));
        float lo = NAN, hi = NAN;
        int first = -1;
        for (; i < to && t[i] < boundary; ++i) {
            const float x = v[i];
            if (x != x) // a missing reading
                continue;
            if (first < 0) {
                lo = hi = x;
                first = i;
            } else {
                lo = x < lo ? x : lo;
                hi = x > hi ? x : hi;
            }
        }
        Column &c = out[col];
        c.min = lo;
        c.max = hi;
        c.first = first;
    }
    return out;
}

qint64 CurveStore::bytes() const
{
    qint64 n = qint64(m_times.capacity() * sizeof(qint64) + m_points.capacity() * sizeof(qint16));
    for (const std::vector<float> &v : m_values)
        n += qint64(v.capacity() * sizeof(float));
    return n;
}

} // namespace acquisition
