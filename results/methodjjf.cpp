// JJF 1101-2019 and GB/T 5170.2: deviations from the set value, uniformity,
// fluctuation.

#include "results/methodkit.h"

namespace results::detail {

namespace {

// A deviation from the set value of one extreme reading of channel x: its
// own standard with its stability, the set value's resolution, s.
Budget deviationBudget(const KindContext &k, int x)
{
    Budget b = readingBudget(k.own(x), k.kind, 1, k.at(x), k.name(x), 1, true);
    b.components << stabilityTerm(k.own(x), k.kind) << settingTerm(k.own(x), k.kind);
    return b;
}

QVector<EvaluatedFigure> deviationFigures(const KindContext &k)
{
    QVector<EvaluatedFigure> out;
    for (bool upper : {true, false}) {
        const int x = k.extreme(upper);
        const double extreme = k.any() ? (upper ? k.at(x).max : k.at(x).min) : NAN;
        out << makeFigure(upper ? QStringLiteral("upper") : QStringLiteral("lower"),
                          upper ? QStringLiteral("上偏差") : QStringLiteral("下偏差"),
                          extreme - k.set,
                          deviationBudget(k, x));
        if (k.any() && std::isnan(k.set))
            out.last().why = QStringLiteral("设定值不是数字");
    }
    return out;
}

EvaluatedFigure uniformityFigure(const KindContext &k)
{
    // A spread over locations needs two of them at least: one location's
    // "0.0" is no uniformity.
    int located = 0;
    for (int x = 0; x < k.stats->each.size(); ++x)
        located += k.at(x).n > 0 ? 1 : 0;
    EvaluatedFigure f = makeFigure(
        QStringLiteral("uniformity"), QStringLiteral("均匀度"),
        k.any() && located >= 2 ? k.stats->rangeSum / k.stats->scans : NAN,
        readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    if (k.any() && located < 2)
        f.why = oneLocationText();
    return f;
}

} // namespace

QVector<EvaluatedFigure> jjfFigures(const KindContext &k, bool gbt)
{
    QVector<EvaluatedFigure> out = deviationFigures(k);
    out << uniformityFigure(k);
    const int x = gbt ? k.widest() : k.centre;
    out << makeFigure(QStringLiteral("fluctuation"), QStringLiteral("波动度(±)"),
                      k.any() ? k.at(x).range() / 2 : NAN,
                      readingBudget(k.own(x), k.kind, kSqrt2 / 2, k.at(x), k.name(x), 0.5),
                      true);
    return out;
}

} // namespace results::detail
