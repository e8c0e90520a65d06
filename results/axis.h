#pragma once

// Axis ticks at round values, for the curve window and the workbook's
// charts: values in steps of 1, 2 or 5 times a power of ten; times at whole
// seconds, minutes or hours.

#include <QVector>

namespace results {

struct ValueTicks
{
    double step = 1;
    double first = 0, last = 0; // round bounds that hold the range
    int decimals = 0;           // enough to tell the ticks apart
    QVector<double> values;     // first, first + step, ..., last
};
// Round bounds around [low, high] and at most about `most` steps between
// them. An empty range is widened around its value.
ValueTicks valueTicks(double low, double high, int most = 5);

// Tick times (milliseconds since the epoch) inside [from, to] at a whole
// number of seconds, minutes or hours of local time, at most about `most`
// of them; `step` receives the spacing in milliseconds.
QVector<qint64> timeTicks(qint64 from, qint64 to, int most = 5, qint64 *step = nullptr);

} // namespace results
