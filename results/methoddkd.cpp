// DKD-R 5-7: the indication correction with its budget, inhomogeneity,
// instability.

#include "results/methodkit.h"

namespace results {

using namespace detail;

EvaluatedFigure dkdCorrection(const DkdCorrectionInputs &in)
{
    // An input nobody entered is unknown, never 0: the figure then has no U.
    auto given = [](double v) {
        return std::isfinite(v) ? QStringLiteral("半宽，操作者给出")
                                : QStringLiteral("未给出（可忽略时输入 0）");
    };
    Budget b;
    Component reference;
    reference.name = QStringLiteral("参考位置读数");
    reference.note = QStringLiteral("参考位置的平均值，n=%1").arg(in.referenceCount);
    reference.known = std::isfinite(in.referenceSd) && in.referenceCount > 0;
    reference.value = reference.known ? in.referenceSd : 0;
    reference.divisor = in.referenceCount > 0 ? std::sqrt(double(in.referenceCount)) : 1;
    reference.dof = in.referenceCount > 1 ? in.referenceCount - 1 : INFINITY;
    b.components << reference;

    Component calibration;
    calibration.name = QStringLiteral("标准器校准");
    calibration.known = std::isfinite(in.standardU) && std::isfinite(in.standardK) &&
                        in.standardU >= 0 && in.standardK > 0;
    calibration.value = calibration.known ? in.standardU : 0;
    calibration.divisor = calibration.known ? in.standardK : 1;
    calibration.note = calibration.known
                           ? QStringLiteral("证书 U=%1, k=%2").arg(in.standardU).arg(in.standardK)
                           : QStringLiteral("采集器记录中没有扩展不确定度或 k");
    b.components << calibration;
    b.components << halfWidth(QStringLiteral("标准器漂移"), in.extra.drift,
                              given(in.extra.drift));
    b.components << resolutionTerm(in.standardResolution, std::isfinite(in.standardResolution),
                                   QStringLiteral("标准器分辨力"),
                                   QStringLiteral("分辨力，半宽取其一半"), 1);
    b.components << halfWidth(QStringLiteral("自热"), in.extra.selfHeating,
                              given(in.extra.selfHeating));
    Component indication;
    indication.name = QStringLiteral("示值");
    indication.known = std::isfinite(in.indicated) && std::isfinite(in.extra.indication);
    indication.value = indication.known ? in.extra.indication : 0;
    indication.note = !std::isfinite(in.indicated)
                          ? QStringLiteral("没有输入示值")
                          : indication.known
                                ? QStringLiteral("示值 %1 的标准不确定度，操作者给出")
                                      .arg(QString::number(in.indicated, 'f', 3))
                                : QStringLiteral("示值的标准不确定度未给出");
    b.components << indication;
    b.components << halfWidth(QStringLiteral("不均匀性"), in.inhomogeneity,
                              QStringLiteral("各位置平均值与参考位置之差的最大值"));
    b.components << halfWidth(QStringLiteral("不稳定性"), in.instability,
                              QStringLiteral("参考位置读数与其平均值之差的最大值"));
    b.components << halfWidth(QStringLiteral("辐射"), in.extra.radiation,
                              given(in.extra.radiation));
    b.components << halfWidth(QStringLiteral("负载"), in.extra.load,
                              given(in.extra.load));
    b.components << resolutionTerm(in.extra.displayResolution, true, QStringLiteral("示值分辨力"),
                                   std::isfinite(in.extra.displayResolution)
                                       ? QStringLiteral("设备显示的末位，操作者给出")
                                       : QStringLiteral("未给出"),
                                   1);
    EvaluatedFigure f = makeFigure(QStringLiteral("correction"), QStringLiteral("示值修正值"),
                                   in.referenceMean - in.indicated, std::move(b));
    if (!std::isfinite(in.indicated))
        f.why = QStringLiteral("没有输入示值");
    return f;
}

namespace detail {

QVector<EvaluatedFigure> dkdFigures(const KindContext &k)
{
    const ChannelStats &o = k.at(k.centre);
    double inhomogeneity = NAN;
    if (k.any()) {
        inhomogeneity = 0;
        for (const ChannelStats &c : k.stats->each)
            if (c.n > 0)
                inhomogeneity = qMax(inhomogeneity, std::fabs(c.average() - o.average()));
    }
    const double instability = o.n > 0 ? qMax(o.max - o.average(), o.average() - o.min) : NAN;
    DkdCorrectionInputs in;
    in.referenceMean = o.average();
    in.referenceSd = o.sd();
    in.referenceCount = o.n;
    in.indicated = k.indicated;
    double u = 0, kk = 0, r = 0;
    const bool t = k.kind == Kind::Temperature;
    const StandardData &centre = k.own(k.centre);
    if (numberOf(t ? centre.uncertaintyT : centre.uncertaintyH, &u) &&
        numberOf(t ? centre.kT : centre.kH, &kk)) {
        in.standardU = u;
        in.standardK = kk;
    }
    if (numberOf(t ? centre.resolutionT : centre.resolutionH, &r))
        in.standardResolution = r;
    in.inhomogeneity = inhomogeneity;
    in.instability = instability;
    in.extra = k.extra;
    // The standard's drift, when not entered here, is its recorded stability.
    double stability = NAN;
    if (std::isnan(in.extra.drift) &&
        numberOf(t ? centre.stabilityT : centre.stabilityH, &stability) && stability >= 0)
        in.extra.drift = stability;
    EvaluatedFigure correction = dkdCorrection(in);
    if (!k.any()) {
        correction.figure = Figure();
        correction.why = QStringLiteral("无数据");
    }
    correction.budget.components[0].note =
        QStringLiteral("参考位置（通道 %1）的平均值，n=%2").arg(k.name(k.centre)).arg(o.n);
    QVector<EvaluatedFigure> out{correction};
    out << makeFigure(QStringLiteral("inhomogeneity"), QStringLiteral("不均匀性"), inhomogeneity,
                      readingBudget(*k.standard, k.kind, kSqrt2, o, k.name(k.centre), 1));
    out << makeFigure(QStringLiteral("instability"), QStringLiteral("不稳定性"), instability,
                      readingBudget(k.own(k.centre), k.kind, kSqrt2, o, k.name(k.centre), 1));
    return out;
}

} // namespace detail

} // namespace results
