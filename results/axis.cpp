#include "results/axis.h"

#include <QDateTime>
#include <cmath>

namespace results {

ValueTicks valueTicks(double low, double high, int most)
{
    ValueTicks t;
    if (!std::isfinite(low) || !std::isfinite(high))
        return t;
    if (high < low)
        std::swap(low, high);
    double span = high - low;
    if (span <= 0) {
        // One value: a range of about one percent of it around it.
        span = std::max(0.1, std::abs(high) * 0.01);
        low -= span / 2;
        high += span / 2;
    }
    const double raw = span / std::max(1, most);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    t.step = 10 * magnitude;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * magnitude >= raw * (1 - 1e-9)) {
            t.step = m * magnitude;
            break;
        }
    // A little tolerance so 25.0000001 does not open a new step.
    const double eps = t.step * 1e-9;
    t.first = std::floor((low + eps) / t.step) * t.step;
    t.last = std::ceil((high - eps) / t.step) * t.step;
    if (t.last <= t.first)
        t.last = t.first + t.step;
    t.decimals = std::max(0, int(-std::floor(std::log10(t.step) + 1e-9)));
    const int n = int(std::llround((t.last - t.first) / t.step));
    for (int i = 0; i <= n; ++i)
        t.values << t.first + i * t.step;
    return t;
}

QVector<qint64> timeTicks(qint64 from, qint64 to, int most, qint64 *step)
{
    static const qint64 steps[] = {1000,    2000,    5000,     10000,    15000,    30000,
                                   60000,   120000,  300000,   600000,   900000,   1800000,
                                   3600000, 7200000, 10800000, 21600000, 43200000, 86400000};
    QVector<qint64> out;
    if (to < from)
        return out;
    qint64 chosen = steps[sizeof steps / sizeof *steps - 1];
    for (qint64 s : steps)
        if ((to - from) / s <= most) {
            chosen = s;
            break;
        }
    if (step)
        *step = chosen;
    // Whole minutes and hours of the local clock, not of UTC.
    const qint64 offset =
        qint64(QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc()) * 1000;
    qint64 t = ((from + offset + chosen - 1) / chosen) * chosen - offset;
    if (from + offset < 0)
        t = from; // before 1970: not worth aligning
    for (; t <= to; t += chosen)
        out << t;
    return out;
}

} // namespace results
