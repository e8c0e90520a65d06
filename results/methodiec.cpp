// IEC 60068-3-5: fluctuation, gradient, the achieved value and its deviation.

#include "results/methodkit.h"

namespace results::detail {

QVector<EvaluatedFigure> iecFigures(const KindContext &k)
{
    QVector<EvaluatedFigure> out;
    const int wide = k.widest();
    out << makeFigure(QStringLiteral("fluctuation"), QStringLiteral("波动度"),
                      k.any() ? k.at(wide).range() : NAN,
                      readingBudget(k.own(wide), k.kind, kSqrt2, k.at(wide), k.name(wide), 1));
    const int hi = k.byMean(true), lo = k.byMean(false);
    out << makeFigure(
        QStringLiteral("gradient"), QStringLiteral("梯度"),
        k.any() ? k.at(hi).average() - k.at(lo).average() : NAN,
        readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    double sum = 0;
    int n = 0;
    for (const ChannelStats &c : k.stats->each)
        if (c.n > 0) {
            sum += c.average();
            ++n;
        }
    const double achieved = n ? sum / n : NAN;
    Budget b = readingBudget(*k.standard, k.kind, 1, k.at(k.centre), k.name(k.centre), 1);
    b.components << stabilityTerm(*k.standard, k.kind);
    out << makeFigure(QStringLiteral("achieved"), QStringLiteral("实现值"), achieved, b);
    b.components << settingTerm(*k.standard, k.kind);
    out << makeFigure(QStringLiteral("deviation"), QStringLiteral("实现值偏差"), achieved - k.set,
                      b);
    if (k.any() && std::isnan(k.set))
        out.last().why = QStringLiteral("设定值不是数字");
    return out;
}

} // namespace results::detail
