#include "tools/evaluationjson.h"

#include "tools/json.h"

namespace report {

namespace {

// A number for the JSON, null when there is none.
QString number(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 12) : QStringLiteral("null");
}

QString componentJson(const results::Component &c)
{
    return json::Object()
        .text(QStringLiteral("name"), c.name)
        .text(QStringLiteral("source"), c.note)
        .raw(QStringLiteral("known"), c.known ? QStringLiteral("true") : QStringLiteral("false"))
        .raw(QStringLiteral("value"), c.known ? number(c.value) : QStringLiteral("null"))
        .text(QStringLiteral("distribution"), c.distribution == results::Distribution::Normal
                                                  ? QStringLiteral("normal")
                                                  : QStringLiteral("rectangular"))
        .raw(QStringLiteral("divisor"), number(c.divisor))
        .raw(QStringLiteral("coefficient"), number(c.coefficient))
        .raw(QStringLiteral("standardUncertainty"), number(c.standard()))
        .raw(QStringLiteral("contribution"), number(c.contribution()))
        .str();
}

QString figureJson(const results::EvaluatedFigure &f)
{
    json::Object o;
    o.text(QStringLiteral("id"), f.id)
        .text(QStringLiteral("name"), f.name)
        .raw(QStringLiteral("value"), json::textOrNull(f.figure.text()))
        .raw(QStringLiteral("plusMinus"), f.plusMinus ? QStringLiteral("true") : QStringLiteral("false"));
    if (!f.hasBudget) {
        o.raw(QStringLiteral("certificate"), QStringLiteral("null"))
            .raw(QStringLiteral("budget"), QStringLiteral("null"))
            .raw(QStringLiteral("why"), json::textOrNull(f.why));
        return o.str();
    }
    const double U = f.hasUncertainty() ? f.budget.expanded() : NAN;
    const results::CertificateFigure c =
        results::roundForCertificate(f.figure.ok ? f.figure.value : NAN, U);
    QStringList components;
    for (const results::Component &comp : f.budget.components)
        components << componentJson(comp);
    o.raw(QStringLiteral("certificate"),
          json::Object()
              .raw(QStringLiteral("value"), json::textOrNull(c.value))
              .raw(QStringLiteral("U"), json::textOrNull(c.uncertainty))
              .str())
        .raw(QStringLiteral("budget"),
             json::Object()
                 .raw(QStringLiteral("combined"), number(f.budget.combined()))
                 .raw(QStringLiteral("k"), number(f.budget.k))
                 .raw(QStringLiteral("effectiveDof"), number(f.budget.effectiveDof()))
                 .raw(QStringLiteral("expanded"), number(U))
                 .raw(QStringLiteral("components"), json::array(components))
                 .str())
        .raw(QStringLiteral("why"), json::textOrNull(f.why));
    return o.str();
}

QString kindJson(const results::KindEvaluation &k)
{
    if (k.channels == 0)
        return QStringLiteral("null");
    QStringList figures;
    for (const results::EvaluatedFigure &f : k.figures)
        figures << figureJson(f);
    return json::Object()
        .raw(QStringLiteral("set"), json::textOrNull(k.set))
        .number(QStringLiteral("channels"), k.channels)
        .number(QStringLiteral("scans"), k.scans)
        .text(QStringLiteral("centre"), k.centre)
        .raw(QStringLiteral("indicated"), number(k.indicated))
        .raw(QStringLiteral("figures"), json::array(figures))
        .str();
}

} // namespace

QString evaluationJson(const storage::RunHeader &header, const results::Evaluation &e)
{
    QStringList points;
    for (const results::PointEvaluation &p : e.points)
        points << json::Object()
                      .number(QStringLiteral("point"), p.point)
                      .number(QStringLiteral("samples"), p.samples)
                      .raw(QStringLiteral("temperature"), kindJson(p.t))
                      .raw(QStringLiteral("humidity"), kindJson(p.h))
                      .str();
    return json::Object()
        .text(QStringLiteral("key"), header.dtbegin)
        .text(QStringLiteral("method"), results::methodName(e.method))
        .text(QStringLiteral("methodKey"), results::methodKey(e.method))
        .number(QStringLiteral("windowMinutes"), e.windowMinutes)
        .raw(QStringLiteral("points"), json::array(points))
        .str();
}

} // namespace report
