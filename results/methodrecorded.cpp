// 按原记录: the record's own figures, each with the budget its kind of figure
// takes.

#include "results/methodkit.h"

namespace results::detail {

QVector<EvaluatedFigure> recordedFigures(const KindContext &k, const KindFigures &f)
{
    QVector<EvaluatedFigure> out;
    const int up = k.extreme(true), down = k.extreme(false);
    auto from = [&](const QString &id, const QString &name, const Figure &figure, Budget b,
                    bool pm = false) {
        EvaluatedFigure e = makeFigure(id, name, figure.ok ? figure.value : NAN, std::move(b), pm);
        out << e;
    };
    from(QStringLiteral("upper"), QStringLiteral("上偏差"), f.upper,
         readingBudget(k.own(up), k.kind, 1, k.at(up), k.name(up), 1, true));
    from(QStringLiteral("lower"), QStringLiteral("下偏差"), f.lower,
         readingBudget(k.own(down), k.kind, 1, k.at(down), k.name(down), 1, true));
    from(QStringLiteral("uniformity"), QStringLiteral("均匀度"), f.uniformity,
         readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    from(QStringLiteral("fluctuation"), QStringLiteral("波动度(±)"), f.fluctuation,
         readingBudget(k.own(k.centre), k.kind, kSqrt2 / 2, k.at(k.centre), k.name(k.centre),
                       0.5),
         true);
    EvaluatedFigure spread = makeFigure(QStringLiteral("spread"), QStringLiteral("不确定度(k=2)"),
                                        f.spread.ok ? f.spread.value : NAN, Budget());
    spread.hasBudget = false;
    if (spread.figure.ok)
        spread.why = QStringLiteral("记录中按此值打印，不另作评定");
    out << spread;
    return out;
}

} // namespace results::detail
