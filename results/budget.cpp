// The budget arithmetic shared by every method: components, the combined
// and expanded uncertainty, the coverage factor, and the rounding a
// certificate prints.

#include "results/methodkit.h"
#include "results/rounding.h"

namespace results {

// ---- budgets ----

bool Budget::known() const
{
    for (const Component &c : components)
        if (!c.known)
            return false;
    return true;
}

double Budget::combined() const
{
    if (!known())
        return NAN;
    double squares = 0;
    for (const Component &c : components) {
        const double x = c.contribution();
        squares += x * x;
    }
    return std::sqrt(squares);
}

double Budget::expanded() const
{
    return k * combined();
}

double Budget::effectiveDof() const
{
    const double uc = combined();
    if (!std::isfinite(uc) || uc <= 0)
        return INFINITY;
    double sum = 0;
    for (const Component &c : components)
        if (std::isfinite(c.dof) && c.dof > 0)
            sum += std::pow(c.contribution(), 4) / c.dof;
    return sum > 0 ? std::pow(uc, 4) / sum : INFINITY;
}

double coverageFactor(double effectiveDof)
{
    // Two-sided Student's t for 95 %, ν = 1 … 29.
    static const double t95[] = {12.71, 4.30, 3.18, 2.78, 2.57, 2.45, 2.36, 2.31, 2.26, 2.23,
                                 2.20,  2.18, 2.16, 2.14, 2.13, 2.12, 2.11, 2.10, 2.09, 2.09,
                                 2.08,  2.07, 2.07, 2.06, 2.06, 2.06, 2.05, 2.05, 2.05};
    if (!(effectiveDof < 30))
        return 2;
    const int nu = qBound(1, int(std::floor(effectiveDof)), 29);
    return t95[nu - 1];
}

CertificateFigure roundForCertificate(double value, double expanded)
{
    CertificateFigure out;
    if (!std::isfinite(expanded) || expanded <= 0) {
        if (std::isfinite(value))
            out.value = roundDecimal(value, 3);
        return out;
    }
    // Two significant digits of U at any size; the figure to the same place.
    const int decimals = uncertaintyPlace(expanded);
    out.uncertainty = roundDecimal(expanded, decimals);
    if (std::isfinite(value))
        out.value = roundDecimal(value, decimals);
    return out;
}

QString oneLocationText()
{
    return QStringLiteral("至少需要两个测量位置");
}

namespace detail {

bool numberOf(const QString &text, double *out)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

Component calibrationTerm(const StandardData &s, Kind kind, double coefficient)
{
    const bool t = kind == Kind::Temperature;
    const QString uText = t ? s.uncertaintyT : s.uncertaintyH;
    const QString kText = t ? s.kT : s.kH;
    Component c;
    c.name = QStringLiteral("标准器校准");
    c.distribution = Distribution::Normal;
    c.coefficient = coefficient;
    double u = 0, k = 0;
    c.known = numberOf(uText, &u) && numberOf(kText, &k) && u >= 0 && k > 0;
    if (c.known) {
        c.value = u;
        c.divisor = k;
        c.note = QStringLiteral("证书 U=%1, k=%2").arg(uText.trimmed(), kText.trimmed());
    } else {
        c.note = QStringLiteral("采集器记录中没有%1的扩展不确定度或 k")
                     .arg(t ? QStringLiteral("温度") : QStringLiteral("湿度"));
    }
    return c;
}

Component resolutionTerm(double r, bool known, const QString &name, const QString &note,
                         double coefficient)
{
    Component c;
    c.name = name;
    c.note = note;
    c.known = known && std::isfinite(r) && r >= 0;
    c.value = c.known ? r : 0;
    c.distribution = Distribution::Rectangular;
    c.divisor = 2 * std::sqrt(3.0); // half-width r/2
    c.coefficient = coefficient;
    return c;
}

Component standardResolution(const StandardData &s, Kind kind, double coefficient)
{
    const QString text = kind == Kind::Temperature ? s.resolutionT : s.resolutionH;
    double r = 0;
    const bool known = numberOf(text, &r);
    return resolutionTerm(r, known, QStringLiteral("标准器分辨力"),
                          known ? QStringLiteral("分辨力 %1，半宽取其一半").arg(text.trimmed())
                                : QStringLiteral("采集器记录中没有分辨力"),
                          coefficient);
}

// `single`: the figure is one reading (an extreme), whose repeatability is
// s itself; otherwise a mean of n readings, s/√n.
Component repeatability(const ChannelStats &st, const QString &channel, double coefficient,
                        bool single)
{
    Component c;
    c.name = QStringLiteral("测量重复性");
    c.note = single ? QStringLiteral("通道 %1 的单次读数，s 由 n=%2 个读数得出").arg(channel).arg(st.n)
                    : QStringLiteral("通道 %1 的平均值，n=%2").arg(channel).arg(st.n);
    c.known = st.n > 1;
    c.value = c.known ? st.sd() : 0;
    c.distribution = Distribution::Normal;
    c.divisor = single || st.n <= 0 ? 1 : std::sqrt(double(st.n));
    c.dof = st.n > 1 ? st.n - 1 : INFINITY;
    c.coefficient = coefficient;
    if (!c.known)
        c.note = QStringLiteral("通道 %1 的读数少于两个").arg(channel);
    return c;
}

Component halfWidth(const QString &name, double a, const QString &note)
{
    Component c;
    c.name = name;
    c.note = note;
    c.known = std::isfinite(a);
    c.value = c.known ? std::fabs(a) : 0;
    c.distribution = Distribution::Rectangular;
    c.divisor = std::sqrt(3.0);
    return c;
}

// What a figure built from readings of the standard takes: its calibration
// and resolution `factor` times (√2 for a difference of two readings, half
// that for half a difference), and the repeatability of one channel.
Budget readingBudget(const StandardData &s, Kind kind, double factor, const ChannelStats &st,
                     const QString &channel, double repeatabilityFactor, bool single)
{
    Budget b;
    b.components << calibrationTerm(s, kind, factor) << standardResolution(s, kind, factor)
                 << repeatability(st, channel, repeatabilityFactor, single);
    return b;
}

// The standard's stability between its calibrations, for a figure that is
// a value, not a difference of simultaneous readings.
Component stabilityTerm(const StandardData &s, Kind kind)
{
    const QString text = kind == Kind::Temperature ? s.stabilityT : s.stabilityH;
    double a = NAN;
    const bool known = numberOf(text, &a) && a >= 0;
    return halfWidth(QStringLiteral("标准器稳定性"), known ? a : NAN,
                     known ? QStringLiteral("半宽 %1，采集器记录").arg(text.trimmed())
                           : QStringLiteral("采集器记录中没有稳定性（可忽略时填 0）"));
}

// The chamber's set-value resolution, for a deviation from the set value.
Component settingTerm(const StandardData &s, Kind kind)
{
    const QString text = kind == Kind::Temperature ? s.settingT : s.settingH;
    double r = NAN;
    const bool known = numberOf(text, &r);
    return resolutionTerm(r, known, QStringLiteral("设定值分辨力"),
                          known ? QStringLiteral("设备设定值的分辨力 %1，半宽取其一半").arg(text.trimmed())
                                : QStringLiteral("设备记录中没有设定值分辨力（可忽略时填 0）"),
                          1);
}

EvaluatedFigure makeFigure(const QString &id, const QString &name, double value, Budget budget,
                           bool plusMinus)
{
    EvaluatedFigure f;
    f.id = id;
    f.name = name;
    f.plusMinus = plusMinus;
    if (std::isfinite(value))
        f.figure = Figure(value);
    f.budget = std::move(budget);
    // Few scans behind a dominant Type A component: k from ν_eff.
    if (f.budget.known())
        f.budget.k = coverageFactor(f.budget.effectiveDof());
    if (!f.figure.ok) {
        f.why = QStringLiteral("无数据");
    } else if (!f.budget.known()) {
        QStringList missing;
        for (const Component &c : f.budget.components)
            if (!c.known)
                missing << c.name;
        f.why = QStringLiteral("未知：") + missing.join(QStringLiteral("、"));
    }
    return f;
}

} // namespace detail

} // namespace results
