#pragma once

// Every channel's readings of a run, kept for drawing: one float per
// reading, one time and point number per sample. Decimation to min/max per
// pixel column keeps a repaint independent of how long the run is.

#include "results/statistics.h"

#include <QStringList>
#include <QVector>
#include <cmath>
#include <vector>

namespace acquisition {

class CurveStore
{
public:
    void reset(const QStringList &names, const QVector<results::Kind> &kinds);
    // `values` in channel order; NaN for a reading that is missing.
    void append(qint64 msSinceEpoch, int point, const QVector<float> &values);

    int samples() const { return int(m_times.size()); }
    int channels() const { return m_names.size(); }
    const QStringList &names() const { return m_names; }
    results::Kind kind(int channel) const { return m_kinds.value(channel); }
    qint64 time(int sample) const { return m_times[size_t(sample)]; }
    int point(int sample) const { return m_points[size_t(sample)]; }
    float value(int channel, int sample) const { return m_values[size_t(channel)][size_t(sample)]; }

    // The first sample at or after `t`, and the first after `t`.
    int lowerBound(qint64 t) const;
    int upperBound(qint64 t) const;

    struct Column
    {
        float min = NAN, max = NAN;
        int first = -1; // first sample in the column
        bool any() const { return !std::isnan(min); }
    };
    // `width` columns covering [t0, t1]; each holds the min and max of the
    // channel's readings that fall into it.
    QVector<Column> decimate(int channel, qint64 t0, qint64 t1, int width) const;

    // Memory held by the readings, times and points.
    qint64 bytes() const;

private:
    QStringList m_names;
    QVector<results::Kind> m_kinds;
    std::vector<qint64> m_times;
    std::vector<qint16> m_points;
    std::vector<std::vector<float>> m_values;
};

} // namespace acquisition
