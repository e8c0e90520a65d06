#pragma once

// What the methods share: the readings of a point per kind, the context a
// method's figures are computed in, and the budget's components. Private
// to the evaluation.

#include "results/evaluation.h"

#include <QByteArray>
#include <QVector>
#include <cmath>
#include <limits>

namespace results::detail {

struct ChannelStats
{
    int n = 0;
    double sum = 0, mean = 0, m2 = 0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();

    void add(double x)
    {
        ++n;
        sum += x;
        const double d = x - mean;
        mean += d / n;
        m2 += d * (x - mean);
        min = qMin(min, x);
        max = qMax(max, x);
    }
    double average() const { return n ? sum / n : NAN; }
    double sd() const { return n > 1 ? std::sqrt(m2 / (n - 1)) : NAN; }
    double range() const { return n ? max - min : NAN; }
};

struct KindStats
{
    QVector<int> channels;      // indices into the layout
    QVector<ChannelStats> each; // parallel to `channels`
    int scans = 0;
    double rangeSum = 0;
};

struct PointStats
{
    int samples = 0;
    QByteArray first, last;
    KindStats t, h;
};

// The kind's figures under a method, from its statistics.
struct KindContext
{
    Kind kind;
    const KindStats *stats;
    const ChannelLayout *layout;
    const StandardData *standard;
    double set = NAN; // NaN: not a number
    int centre = 0;   // index into stats->channels
    double indicated = NAN;
    ExtraInputs extra;

    QString name(int x) const { return layout->names.value(stats->channels.value(x)); }
    // The standard of channel x's own collector (the run's worst when the
    // collector's record is not there).
    const StandardData &own(int x) const
    {
        if (standard->perCollector.isEmpty() || x < 0 || x >= stats->channels.size())
            return *standard;
        const int c = layout->collectors.value(stats->channels[x], 1) - 1;
        return c >= 0 && c < standard->perCollector.size() ? standard->perCollector[c] : *standard;
    }
    const ChannelStats &at(int x) const { return stats->each[x]; }
    bool any() const { return stats->scans > 0; }
    // The channel with the largest (or smallest) reading, the first of equals.
    int extreme(bool largest) const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x) {
            const ChannelStats &c = stats->each[x];
            if (c.n == 0)
                continue;
            if (best < 0 || (largest ? c.max > at(best).max : c.min < at(best).min))
                best = x;
        }
        return qMax(best, 0);
    }
    // The channel with the largest range, or largest / smallest mean.
    int widest() const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x)
            if (at(x).n > 0 && (best < 0 || at(x).range() > at(best).range()))
                best = x;
        return qMax(best, 0);
    }
    int byMean(bool largest) const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x)
            if (at(x).n > 0 && (best < 0 || (largest ? at(x).average() > at(best).average()
                                                     : at(x).average() < at(best).average())))
                best = x;
        return qMax(best, 0);
    }
};

const double kSqrt2 = std::sqrt(2.0);

// ---- the components (budget.cpp) ----

// A number typed in a record; false when the text is none.
bool numberOf(const QString &text, double *out);
// The standard's calibration U/k, `coefficient` times.
Component calibrationTerm(const StandardData &s, Kind kind, double coefficient);
// A resolution r: half-width r/2, rectangular.
Component resolutionTerm(double r, bool known, const QString &name, const QString &note,
                         double coefficient);
Component standardResolution(const StandardData &s, Kind kind, double coefficient);
// `single`: the figure is one reading (an extreme), whose repeatability is
// s itself; otherwise a mean of n readings, s/√n.
Component repeatability(const ChannelStats &st, const QString &channel, double coefficient,
                        bool single = false);
// A half-width a of a rectangular distribution; unknown when a is NaN.
Component halfWidth(const QString &name, double a, const QString &note);
// What a figure built from readings of the standard takes: its calibration
// and resolution `factor` times (√2 for a difference of two readings, half
// that for half a difference), and the repeatability of one channel.
Budget readingBudget(const StandardData &s, Kind kind, double factor, const ChannelStats &st,
                     const QString &channel, double repeatabilityFactor, bool single = false);
// The standard's stability between its calibrations, for a figure that is
// a value, not a difference of simultaneous readings.
Component stabilityTerm(const StandardData &s, Kind kind);
// The chamber's set-value resolution, for a deviation from the set value.
Component settingTerm(const StandardData &s, Kind kind);
// A figure with its budget; k from the effective degrees of freedom, and
// why there is no figure or no U.
EvaluatedFigure makeFigure(const QString &id, const QString &name, double value, Budget budget,
                           bool plusMinus = false);

// ---- the methods, one file each ----

// JJF 1101-2019 (GB/T 5170.2: `gbt`, fluctuation at the widest channel).
QVector<EvaluatedFigure> jjfFigures(const KindContext &k, bool gbt);
QVector<EvaluatedFigure> iecFigures(const KindContext &k);
QVector<EvaluatedFigure> dkdFigures(const KindContext &k);
// The record's own figures, each with its budget.
QVector<EvaluatedFigure> recordedFigures(const KindContext &k, const KindFigures &f);

} // namespace results::detail
