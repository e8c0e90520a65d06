// Evaluation under the named methods, checked against figures worked out by
// hand, and the budgets against the DKD-R 5-7 worked example.

#include "results/chamber.h"
#include "results/evaluation.h"
#include "storage/database.h"
#include "tests/calibkit.h"
#include "tests/testkit.h"

#include <QtTest>
#include <cmath>

using namespace results;
using namespace testkit;

Q_DECLARE_METATYPE(results::Method)

namespace {

// A calibration in memory: one collector (or two) of temperature channels,
// samples one second apart at the points given.
struct Build
{
    QStringList channels{"101", "102"};
    QString typesA = "00", typesB;
    int countA = -1; // channels of collector one; -1: all
    QStringList tem{"25", "30"}, hum{"50", "60"};
    QList<QPair<int, QString>> samples;

    Calibration make() const
    {
        Calibration c;
        storage::RunHeader &h = c.header;
        h.dtbegin = "2024-05-01 10:00:00";
        h.pointnum = QString::number(tem.size());
        h.temset = storage::listText(tem);
        h.humset = storage::listText(hum);
        h.channum = QString::number(channels.size());
        const int a = countA < 0 ? channels.size() : countA;
        h.kindsA = QStringLiteral("%1;0;0;").arg(a);
        h.kindsB = QStringLiteral("%1;0;0;").arg(channels.size() - a);
        h.typesA = typesA;
        h.typesB = typesB;
        h.chanlist = storage::listText(channels);
        c.layout = ChannelLayout::fromHeader(h);
        for (int i = 0; i < samples.size(); ++i)
            c.samples << StoredSample{QStringLiteral("检点%1").arg(samples[i].first).toUtf8(),
                                      timeAfter(h.dtbegin, i).toUtf8(),
                                      samples[i].second.toUtf8()};
        return c;
    }
};

StandardData standard(const QString &u = "0.05", const QString &k = "2", const QString &r = "0.01")
{
    StandardData s;
    s.uncertaintyT = u;
    s.kT = k;
    s.resolutionT = r;
    s.uncertaintyH = "1.5";
    s.kH = "2";
    s.resolutionH = "0.1";
    // Entered as negligible (0), so the figures below are those of the rest.
    s.stabilityT = s.stabilityH = s.settingT = s.settingH = "0";
    return s;
}

Evaluation run(const Calibration &c, const EvaluationSettings &s,
               const StandardData &std = standard())
{
    return evaluate(c, computeResults(c), std, s);
}

// "id=value" for every figure of a kind, three decimals.
QStringList figures(const KindEvaluation &k)
{
    QStringList out;
    for (const EvaluatedFigure &f : k.figures)
        out << f.id + "=" + (f.figure.ok ? f.figure.text() : QString("none"));
    return out;
}

const EvaluatedFigure *figure(const KindEvaluation &k, const QString &id)
{
    for (const EvaluatedFigure &f : k.figures)
        if (f.id == id)
            return &f;
    return nullptr;
}

} // namespace

class EvaluationTest : public QObject
{
    Q_OBJECT

private slots:
    void dkdWorkedExample();
    void chamberLayoutsAndTheirPicture();
    void coverageFollowsEffectiveDegreesOfFreedom_data();
    void coverageFollowsEffectiveDegreesOfFreedom();
    void certificateRounding_data();
    void certificateRounding();
    void partEightTwoCaseUnderEveryMethod_data();
    void partEightTwoCaseUnderEveryMethod();
    void threeChannelsWithACentreThatIsNotTheFirst_data();
    void threeChannelsWithACentreThatIsNotTheFirst();
    void windowLeavesTheFirstSamplesOut();
    void missingStandardUncertaintyGivesNoU();
    void uniformityNeedsTwoLocations();
    void twoCollectorsAreOneSetOfLocations();
    void budgetsFollowTheStatedRules();
    void settingsSurviveARestartAndGoWithTheCalibration();
};

void EvaluationTest::dkdWorkedExample()
{
    // The inputs as the example states them, as standard uncertainties with
    // coefficient 1: half-widths are u·√3, resolutions u·2√3.
    const double r3 = std::sqrt(3.0);
    DkdCorrectionInputs in;
    in.referenceMean = 252.22;
    in.referenceSd = 0.024;
    in.referenceCount = 1;
    in.standardU = 0.050;
    in.standardK = 2; // 25 mK
    in.extra.drift = 0.029 * r3;
    in.standardResolution = 0.003 * 2 * r3;
    in.extra.selfHeating = 0.029 * r3;
    in.indicated = 250.4;
    in.extra.indication = 0.130;
    in.inhomogeneity = 0.462 * r3;
    in.instability = 0.346 * r3;
    in.extra.radiation = 0.577 * r3;
    in.extra.load = 0.092 * r3;
    in.extra.displayResolution = 0.029 * 2 * r3;
    const EvaluatedFigure f = dkdCorrection(in);
    QCOMPARE(f.budget.components.size(), 11);
    QVERIFY(f.hasUncertainty());
    QVERIFY2(std::fabs(f.budget.combined() - 0.834) <= 0.001,
             qPrintable(QString::number(f.budget.combined(), 'f', 6)));
    const CertificateFigure c = roundForCertificate(f.figure.value, f.budget.expanded());
    QCOMPARE(c.uncertainty, QString("1.7"));
    QCOMPARE(c.value, QString("1.8"));
}

// The method's layouts, the diverging scale, and a point's picture: each
// located channel a dot colored by its mean deviation, the hottest and
// coldest marked, the centre ringed, a channel without a location named.
void EvaluationTest::chamberLayoutsAndTheirPicture()
{
    storage::EquipmentExtra e;
    struct Case
    {
        QString layout;
        int count;
        QString centre;
    };
    for (const Case &c : {Case{"9", 9, "O"}, Case{"15", 15, "O"}, Case{"", 0, ""}}) {
        e.layout = c.layout;
        const ChamberLayout l = chamberLayout(e);
        QCOMPARE(l.locations.size(), c.count);
        QCOMPARE(l.centre, c.centre);
        for (const storage::Location &at : l.locations)
            if (at.name == "O")
                QVERIFY(at.x == 0.5 && at.y == 0.5 && at.z == 0.5);
    }
    e.layout = "own";
    e.own = {{"P1", 0.2, 0.2, 0.2}, {"P2", 0.8, 0.8, 0.8}};
    QCOMPARE(chamberLayout(e).centre, QString("P1")); // no "O": the first
    e.width = "1";
    e.depth = "1.2";
    e.height = "2";
    QCOMPARE(methodLayoutFor(workingVolume(e)), QString("15")); // 2.4 m³
    e.height = "1";
    QCOMPARE(methodLayoutFor(workingVolume(e)), QString("9"));
    e.height.clear();
    QVERIFY(methodLayoutFor(workingVolume(e)).isEmpty());

    for (const auto &[value, color] :
         {std::pair<double, Rgb>{0, {255, 255, 255}}, {1, {255, 0, 0}}, {-1, {0, 0, 255}},
          {0.5, {255, 128, 128}}, {-0.25, {191, 191, 255}}, {3, {255, 0, 0}},
          {double(NAN), {170, 170, 170}}})
        QCOMPARE(divergingColor(value, 1), color);

    Build b;
    b.channels = QStringList{"101", "102", "103", "104"};
    b.typesA = "0000";
    b.samples = {{1, "25.400;24.800;25.000;25.100"}, {1, "25.400;24.800;25.000;25.100"}};
    e.layout = "9";
    const Calibration c = b.make();
    const ChamberPicture p =
        chamberPicture(c, chamberLayout(e), {{"101", "A"}, {"102", "H"}, {"103", "O"}}, {}, 1,
                       Kind::Temperature);
    QCOMPARE(p.unplaced, QStringList{"1-104"});
    QCOMPARE(p.dots.size(), 3);
    QVERIFY(std::fabs(p.scale - 0.4) < 1e-9);
    QCOMPARE(p.dots[0].location, QString("A"));
    QVERIFY(p.dots[0].hottest && !p.dots[0].coldest && p.dots[0].color == (Rgb{255, 0, 0}));
    QVERIFY(p.dots[1].coldest && p.dots[1].color == (Rgb{128, 128, 255}));
    QVERIFY(p.dots[2].centre && std::fabs(p.dots[2].deviation) < 1e-9);
    QCOMPARE(p.dots[2].color, (Rgb{255, 255, 255}));

    // The channel at the centre location is the reference unless one was chosen.
    struct Centre
    {
        QString chosen, expected;
        QMap<QString, QString> where;
    };
    for (const Centre &k : {Centre{"", "1-103", {{"101", "A"}, {"103", "O"}}},
                            Centre{"1-102", "1-102", {{"103", "O"}}},
                            Centre{"", "", {{"101", "A"}}}}) {
        EvaluationSettings s;
        s.centreT = k.chosen;
        centresFromLayout(&s, c.layout, chamberLayout(e), k.where, {});
        QCOMPARE(s.centreT, k.expected);
        QVERIFY(s.centreH.isEmpty()); // no humidity channel
    }
}

void EvaluationTest::coverageFollowsEffectiveDegreesOfFreedom_data()
{
    QTest::addColumn<double>("typeA");  // its standard uncertainty
    QTest::addColumn<double>("dof");    // its degrees of freedom
    QTest::addColumn<double>("typeB");  // a Type B beside it
    QTest::addColumn<double>("nuEff");  // Welch–Satterthwaite, by hand
    QTest::addColumn<double>("k");
    QTest::newRow("Type B only") << 0.0 << 0.0 << 0.025 << double(INFINITY) << 2.0;
    // (0.05² + 0.025²)² / (0.05⁴ / 2) = 3.125
    QTest::newRow("A dominates, 3 scans") << 0.05 << 2.0 << 0.025 << 3.125 << 3.18;
    // (0.01² + 0.025²)² / (0.01⁴ / 2) = 105.1
    QTest::newRow("A small, 3 scans") << 0.01 << 2.0 << 0.025 << 105.125 << 2.0;
    QTest::newRow("A alone, 30 scans") << 0.05 << 29.0 << 0.0 << 29.0 << 2.05;
    QTest::newRow("A alone, 31 scans") << 0.05 << 30.0 << 0.0 << 30.0 << 2.0;
    QTest::newRow("A alone, 2 scans") << 0.05 << 1.0 << 0.0 << 1.0 << 12.71;
}

void EvaluationTest::coverageFollowsEffectiveDegreesOfFreedom()
{
    QFETCH(double, typeA);
    QFETCH(double, dof);
    QFETCH(double, typeB);
    QFETCH(double, nuEff);
    QFETCH(double, k);
    Budget b;
    if (typeA > 0) {
        Component a;
        a.value = typeA;
        a.dof = dof;
        b.components << a;
    }
    Component other;
    other.value = typeB;
    b.components << other;
    if (std::isinf(nuEff))
        QVERIFY(std::isinf(b.effectiveDof()));
    else
        QVERIFY2(std::fabs(b.effectiveDof() - nuEff) < 1e-9, qPrintable(QString::number(b.effectiveDof())));
    QCOMPARE(coverageFactor(b.effectiveDof()), k);
}

void EvaluationTest::certificateRounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("U");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("uncertainty");
    QTest::newRow("two digits") << 0.4 << 0.0834 << "0.400" << "0.083";
    QTest::newRow("to the tenth") << 1.82 << 1.667 << "1.8" << "1.7";
    QTest::newRow("up to the next power") << 0.5 << 0.0996 << "0.50" << "0.10";
    QTest::newRow("whole numbers") << 12.345 << 12.3 << "12" << "12";
    QTest::newRow("negative figure") << -0.3456 << 0.051 << "-0.346" << "0.051";
    QTest::newRow("no U") << 0.4 << double(NAN) << "0.400" << "";
    // On the decimal value, by GB/T 8170: half to the even digit, never the
    // binary double's 40.04149999...
    QTest::newRow("half, odd digit up") << 40.0415 << double(NAN) << "40.042" << "";
    QTest::newRow("half, even digit stays") << 40.0425 << double(NAN) << "40.042" << "";
    QTest::newRow("beyond half") << 40.04251 << double(NAN) << "40.043" << "";
    QTest::newRow("U half, odd digit up") << 2.0 << 0.1455 << "2.00" << "0.15";
    QTest::newRow("figure half at U's place") << 0.14555 << 0.0021 << "0.1456" << "0.0021";
    QTest::newRow("figure to U's place") << 0.1455 << 0.011 << "0.146" << "0.011";
    QTest::newRow("carry through nines") << 9.9995 << 0.012 << "10.000" << "0.012";
    QTest::newRow("negative half") << -0.0125 << 0.011 << "-0.012" << "0.011";
    QTest::newRow("rounds to zero") << -0.0004 << 0.011 << "0.000" << "0.011";
    // Two significant digits of U at any size.
    QTest::newRow("U in the hundreds") << 12345.6 << 481.0 << "12350" << "480";
    QTest::newRow("U in the thousands") << 25000.0 << 1250.0 << "25000" << "1200";
}

void EvaluationTest::certificateRounding()
{
    QFETCH(double, value);
    QFETCH(double, U);
    const CertificateFigure c = roundForCertificate(value, U);
    QTEST(c.value, "shown");
    QTEST(c.uncertainty, "uncertainty");
}

void EvaluationTest::partEightTwoCaseUnderEveryMethod_data()
{
    QTest::addColumn<Method>("method");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("as recorded") << Method::Recorded
                                 << QStringList{"upper=0.400", "lower=0.000", "uniformity=0.400",
                                                "fluctuation=0.200", "spread=0.200"};
    QTest::newRow("JJF 1101") << Method::Jjf1101
                              << QStringList{"upper=0.400", "lower=0.000", "uniformity=0.400",
                                             "fluctuation=0.000"};
    QTest::newRow("GB/T 5170.2") << Method::Gbt5170
                                 << QStringList{"upper=0.400", "lower=0.000", "uniformity=0.400",
                                                "fluctuation=0.000"};
    QTest::newRow("IEC 60068-3-5")
        << Method::Iec60068
        << QStringList{"fluctuation=0.000", "gradient=0.400", "achieved=25.200", "deviation=0.200"};
    QTest::newRow("DKD-R 5-7") << Method::Dkd57
                               << QStringList{"correction=-0.100", "inhomogeneity=0.400",
                                              "instability=0.000"};
}

void EvaluationTest::partEightTwoCaseUnderEveryMethod()
{
    QFETCH(Method, method);
    QFETCH(QStringList, expected);
    Build b;
    for (int i = 0; i < 10; ++i)
        b.samples << qMakePair(1, QString("25.000;25.400;"));
    EvaluationSettings s;
    s.method = method;
    s.indicatedT.insert(1, 25.1);
    const Evaluation e = run(b.make(), s);
    QCOMPARE(e.points.size(), 2);
    QCOMPARE(e.points[0].samples, 10);
    QCOMPARE(figures(e.points[0].t), expected);
    QCOMPARE(e.points[0].t.centre, QString("1-101"));
    QVERIFY(e.points[0].h.figures.isEmpty()); // no humidity channel
    for (const EvaluatedFigure &f : e.points[1].t.figures)
        QVERIFY2(!f.figure.ok, qPrintable(f.id)); // point 2 has no samples
}

void EvaluationTest::threeChannelsWithACentreThatIsNotTheFirst_data()
{
    QTest::addColumn<Method>("method");
    QTest::addColumn<QStringList>("expected");
    // Channel means 20.15, 20.5 (the centre), 19.8; ranges 0.3, 0.2, 0.2;
    // per-scan ranges 0.7, 0.5, 0.9, 0.7.
    QTest::newRow("JJF 1101") << Method::Jjf1101
                              << QStringList{"upper=0.600", "lower=-0.300", "uniformity=0.700",
                                             "fluctuation=0.100"};
    QTest::newRow("GB/T 5170.2") << Method::Gbt5170
                                 << QStringList{"upper=0.600", "lower=-0.300", "uniformity=0.700",
                                                "fluctuation=0.150"};
    QTest::newRow("IEC 60068-3-5")
        << Method::Iec60068
        << QStringList{"fluctuation=0.300", "gradient=0.700", "achieved=20.150", "deviation=0.150"};
    QTest::newRow("DKD-R 5-7") << Method::Dkd57
                               << QStringList{"correction=0.200", "inhomogeneity=0.700",
                                              "instability=0.100"};
    QTest::newRow("as recorded") << Method::Recorded
                                 << QStringList{"upper=0.600", "lower=-0.300", "uniformity=0.700",
                                                "fluctuation=0.450", "spread=0.299"};
}

void EvaluationTest::threeChannelsWithACentreThatIsNotTheFirst()
{
    QFETCH(Method, method);
    QFETCH(QStringList, expected);
    Build b;
    b.channels = QStringList{"101", "102", "103"};
    b.typesA = "000";
    b.tem = QStringList{"20"};
    b.hum = QStringList{"50"};
    for (const char *row : {"20.000;20.500;19.800", "20.200;20.400;19.900",
                            "20.100;20.600;19.700", "20.300;20.500;19.800"})
        b.samples << qMakePair(1, QString(row));
    EvaluationSettings s;
    s.method = method;
    s.centreT = "1-102";
    s.indicatedT.insert(1, 20.3);
    const Evaluation e = run(b.make(), s);
    QCOMPARE(figures(e.points[0].t), expected);
    QCOMPARE(e.points[0].t.centre, QString("1-102"));
}

void EvaluationTest::windowLeavesTheFirstSamplesOut()
{
    Build b;
    b.tem = QStringList{"25"};
    for (int i = 0; i < 120; ++i)
        b.samples << qMakePair(1, i < 59 ? QString("30.000;25.000") : QString("25.100;25.000"));
    EvaluationSettings s;
    s.method = Method::Jjf1101;
    s.windowMinutes = 1; // from 10:00:59 to the last sample at 10:01:59
    Evaluation e = run(b.make(), s);
    QCOMPARE(e.windowMinutes, 1);
    QCOMPARE(e.points[0].samples, 61);
    QCOMPARE(figure(e.points[0].t, "upper")->figure.text(), QString("0.100"));
    s.windowMinutes = 0;
    e = run(b.make(), s);
    QCOMPARE(e.points[0].samples, 120);
    QCOMPARE(figure(e.points[0].t, "upper")->figure.text(), QString("5.000"));
    // The record's figures are those of the whole point whatever the window.
    s.method = Method::Recorded;
    s.windowMinutes = 1;
    e = run(b.make(), s);
    QCOMPARE(e.windowMinutes, 0);
    QCOMPARE(figure(e.points[0].t, "upper")->figure.text(), QString("5.000"));
}

// Two temperature locations and one humidity location: the temperature
// uniformity is a figure, the humidity one is none, with the reason.
void EvaluationTest::uniformityNeedsTwoLocations()
{
    Build b;
    b.channels = QStringList{"101", "102", "103"};
    b.typesA = "001";
    for (int i = 0; i < 5; ++i)
        b.samples << qMakePair(1, QString("25.000;25.400;50.000"));
    for (Method m : {Method::Jjf1101, Method::Gbt5170}) {
        EvaluationSettings s;
        s.method = m;
        const Evaluation e = run(b.make(), s);
        QCOMPARE(figure(e.points[0].t, "uniformity")->figure.text(), QString("0.400"));
        const EvaluatedFigure *h = figure(e.points[0].h, "uniformity");
        QVERIFY(!h->figure.ok);
        QCOMPARE(h->why, QString("至少需要两个测量位置"));
    }
}

void EvaluationTest::missingStandardUncertaintyGivesNoU()
{
    Build b;
    for (int i = 0; i < 5; ++i)
        b.samples << qMakePair(1, QString("25.000;25.400"));
    for (Method m : allMethods()) {
        EvaluationSettings s;
        s.method = m;
        s.indicatedT.insert(1, 25.0);
        const Evaluation e = run(b.make(), s, standard(""));
        for (const EvaluatedFigure &f : e.points[0].t.figures) {
            if (!f.hasBudget)
                continue;
            QVERIFY2(!f.hasUncertainty(), qPrintable(f.id));
            QVERIFY2(f.why.contains("未知") && f.why.contains("标准器校准"), qPrintable(f.why));
            QVERIFY(std::isnan(f.budget.combined()));
            QCOMPARE(roundForCertificate(f.figure.value, NAN).uncertainty, QString());
            bool listed = false;
            for (const Component &c : f.budget.components)
                listed = listed || (c.name == "标准器校准" && !c.known);
            QVERIFY(listed);
        }
    }
}

void EvaluationTest::twoCollectorsAreOneSetOfLocations()
{
    Build b;
    b.channels = QStringList{"101", "102", "101", "102"};
    b.countA = 2;
    b.typesA = "00";
    b.typesB = "00";
    b.samples << qMakePair(1, QString("20.000;20.200;21.000;21.400"));
    EvaluationSettings s;
    s.method = Method::Jjf1101;
    s.centreT = "2-102";
    Evaluation e = run(b.make(), s);
    QCOMPARE(e.points[0].t.channels, 4);
    QCOMPARE(e.points[0].t.centre, QString("2-102"));
    // One range over all four locations, as the record's figures have it too.
    QCOMPARE(figure(e.points[0].t, "uniformity")->figure.text(), QString("1.400"));
    QCOMPARE(figure(e.points[0].t, "upper")->figure.text(), QString("-3.600"));
    QVERIFY(figure(e.points[0].t, "upper")->budget.components[2].note.contains("2-102"));
    s.method = Method::Recorded;
    e = run(b.make(), s);
    QCOMPARE(figure(e.points[0].t, "uniformity")->figure.text(), QString("1.400"));
}

void EvaluationTest::budgetsFollowTheStatedRules()
{
    Build b;
    b.channels = QStringList{"101", "102", "103"};
    b.typesA = "000";
    for (const char *row : {"20.000;20.500;19.800", "20.200;20.400;19.900"})
        b.samples << qMakePair(1, QString(row));
    EvaluationSettings s;
    s.method = Method::Jjf1101;
    const Evaluation e = run(b.make(), s);
    const KindEvaluation &t = e.points[0].t;
    // A deviation: the standard once, the repeatability of the channel that
    // gave the extreme (20.5 on 1-102: s = 0.0707, n = 2), s itself: the
    // extreme is a single reading.
    const Budget &upper = figure(t, "upper")->budget;
    QCOMPARE(upper.components.size(), 5);
    QCOMPARE(upper.components[0].contribution(), 0.025);
    QVERIFY(std::fabs(upper.components[1].contribution() - 0.01 / (2 * std::sqrt(3.0))) < 1e-12);
    QVERIFY(upper.components[2].note.contains("1-102"));
    QVERIFY(std::fabs(upper.components[2].contribution() - 0.1 / std::sqrt(2.0)) < 1e-9);
    // Then the standard's stability (a half-width) and the set value's
    // resolution, as entered; one not entered leaves the deviation without
    // U, named, while a figure of simultaneous readings does not list them.
    struct Entered
    {
        QString stability, setting;
        double stabilityPart, settingPart; // NaN: unknown
    };
    for (const Entered &in : {Entered{"0.03", "0.1", 0.03 / std::sqrt(3.0), 0.1 / (2 * std::sqrt(3.0))},
                              Entered{"", "0.1", NAN, 0.1 / (2 * std::sqrt(3.0))},
                              Entered{"0.03", "", 0.03 / std::sqrt(3.0), NAN}}) {
        StandardData d = standard();
        d.stabilityT = in.stability;
        d.settingT = in.setting;
        const Evaluation entered = run(b.make(), s, d);
        const EvaluatedFigure *dev = figure(entered.points[0].t, "upper");
        const Component &stability = dev->budget.components[3];
        const Component &setting = dev->budget.components[4];
        QCOMPARE(stability.name, QString("标准器稳定性"));
        QCOMPARE(setting.name, QString("设定值分辨力"));
        for (const auto &[c, part] : {std::pair<const Component &, double>{stability, in.stabilityPart},
                                      {setting, in.settingPart}}) {
            QCOMPARE(c.known, std::isfinite(part));
            if (c.known)
                QVERIFY(std::fabs(c.contribution() - part) < 1e-12);
            else
                QVERIFY(dev->why.contains(c.name));
        }
        QVERIFY(figure(entered.points[0].t, "uniformity")->hasUncertainty());
    }
    // The uniformity is a difference of two readings: √2 times the standard.
    const Budget &uniformity = figure(t, "uniformity")->budget;
    QVERIFY(std::fabs(uniformity.components[0].contribution() - 0.025 * std::sqrt(2.0)) < 1e-12);
    QVERIFY(std::fabs(uniformity.expanded() - uniformity.k * uniformity.combined()) < 1e-15);
    // The DKD correction lists every optional input; unknown until given
    // (the drift: unless the standard's stability is on record).
    s.method = Method::Dkd57;
    s.indicatedT.insert(1, 20.0);
    StandardData unrecorded = standard();
    unrecorded.stabilityT.clear();
    const Evaluation dkd = run(b.make(), s, unrecorded);
    const EvaluatedFigure *correction = figure(dkd.points[0].t, "correction");
    QStringList names;
    for (const Component &c : correction->budget.components)
        names << c.name;
    QCOMPARE(names, (QStringList{"参考位置读数", "标准器校准", "标准器漂移", "标准器分辨力", "自热",
                                 "示值", "不均匀性", "不稳定性", "辐射", "负载", "示值分辨力"}));
    QVERIFY(!correction->hasUncertainty());
    for (const char *missing : {"标准器漂移", "自热", "示值", "辐射", "负载", "示值分辨力"})
        QVERIFY2(correction->why.contains(missing), qPrintable(correction->why));
    // Each input entered, 0 among them, makes it known; one left out does not.
    const QList<double ExtraInputs::*> inputs{
        &ExtraInputs::drift, &ExtraInputs::selfHeating, &ExtraInputs::radiation,
        &ExtraInputs::load, &ExtraInputs::displayResolution, &ExtraInputs::indication};
    for (int left = -1; left < inputs.size(); ++left) {
        EvaluationSettings g = s;
        for (int i = 0; i < inputs.size(); ++i)
            if (i != left)
                g.inputsT.*inputs[i] = i == 2 ? 0.0 : 0.01; // radiation: an explicit 0
        // Kept as entered: the explicit 0 is not taken for "not given".
        QVERIFY(EvaluationSettings::fromJson(g.toJson()) == g);
        const Evaluation given = run(b.make(), g, unrecorded);
        const EvaluatedFigure *c = figure(given.points[0].t, "correction");
        QCOMPARE(c->hasUncertainty(), left < 0);
        if (left == 0) { // the drift not entered: the recorded stability serves
            const Evaluation recorded = run(b.make(), g);
            QVERIFY(figure(recorded.points[0].t, "correction")->hasUncertainty());
        }
    }
    // Settings stored before inputs could be unknown wrote 0 for each:
    // only what differs from 0 was given.
    const EvaluationSettings old = EvaluationSettings::fromJson(
        R"({"method":"dkd","inputsT":{"drift":0,"selfHeating":0,"radiation":0.2,"load":0,)"
        R"("displayResolution":0,"indication":0}})");
    QVERIFY(std::isnan(old.inputsT.drift) && old.inputsT.radiation == 0.2);
    // Without an indicated value there is no correction and no U.
    s.indicatedT.clear();
    const Evaluation bare = run(b.make(), s);
    const EvaluatedFigure *none = figure(bare.points[0].t, "correction");
    QVERIFY(!none->figure.ok && !none->hasUncertainty());
}

void EvaluationTest::settingsSurviveARestartAndGoWithTheCalibration()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "25.000;25.400;", 3);
    insertCalibration(fixture);
    CalibrationFixture other = fixture;
    other.begin = "2024-06-01 10:00:00";
    insertCalibration(other);
    EvaluationSettings s;
    s.method = Method::Dkd57;
    s.centreT = "1-102";
    s.windowMinutes = 30;
    s.indicatedT.insert(1, 25.05);
    s.inputsT.radiation = 0.2;
    s.inputsH.load = 0.5;
    QVERIFY(storage::storeEvaluationSettings(fixture.begin, s.toJson()).ok);
    QVERIFY(storage::storeEvaluationSettings(other.begin, s.toJson()).ok);
    storage::closeDatabase();
    QVERIFY(storage::openDatabase(db.path()).ok);
    const base::Result<QString> kept = storage::evaluationSettings(fixture.begin);
    QVERIFY(kept.ok);
    QVERIFY(EvaluationSettings::fromJson(kept.value) == s);
    QVERIFY(storage::deleteCalibration(fixture.begin).ok);
    QCOMPARE(storage::evaluationSettings(fixture.begin).value, QString());
    QVERIFY(!storage::evaluationSettings(other.begin).value.isEmpty());
    QVERIFY(storage::clearCalibrations().ok);
    QCOMPARE(rows("select count(*) from evaluation").value(0).value(0), QString("0"));
    // Text that is not settings gives the defaults.
    QVERIFY(EvaluationSettings::fromJson("not json") == EvaluationSettings());
}

QTEST_GUILESS_MAIN(EvaluationTest)
#include "tst_evaluation.moc"
