#pragma once

// A calibration evaluated under a named method, every figure with its
// uncertainty budget (GUM, JJF 1059.1). Plain functions without widgets.
//
// The methods work on the readings of each point as numbers, per channel
// and scan (a scan is one stored sample), inside the evaluation window:
//   JJF 1101-2019   deviations of the extremes from the set value, the
//                   uniformity as the mean of the per-scan ranges, the
//                   fluctuation as ± half the range of the centre channel;
//   GB/T 5170.2     the same, with the fluctuation as ± half the largest
//                   range of any channel;
//   IEC 60068-3-5   the fluctuation as the largest range of any channel, the
//                   gradient as the largest difference of channel means, the
//                   achieved value (mean of the channel means) and its
//                   deviation from the set value;
//   DKD-R 5-7       the indication correction (centre mean − indicated
//                   value), the inhomogeneity (largest |mean_j − mean_o|)
//                   and the instability (largest |t_io − mean_o|);
//   按原记录         the figures the record prints, as they are.
// Both collectors' channels of a kind count as one set of locations.

#include "results/calibration.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <cmath>

namespace storage {
struct Collector;
}

namespace results {

enum class Method { Recorded, Jjf1101, Gbt5170, Iec60068, Dkd57 };

QList<Method> allMethods(); // the order the selector lists them
// "按原记录", "JJF 1101-2019", "GB/T 5170.2", "IEC 60068-3-5", "DKD-R 5-7".
QString methodName(Method method);
// "recorded", "jjf1101", "gbt5170", "iec60068", "dkd".
QString methodKey(Method method);
// A method by its name, its key or "as recorded"; false when none.
bool methodFromText(const QString &text, Method *method);

enum class Distribution { Normal, Rectangular };

// One input of a budget: the value it comes from (an expanded uncertainty,
// a half-width, a resolution, a standard deviation), divided by its divisor
// to a standard uncertainty, times its sensitivity coefficient.
struct Component
{
    QString name;
    QString note; // where the value comes from ("证书 U, k=2", "通道 1-103", ...)
    bool known = true;
    double value = 0;
    Distribution distribution = Distribution::Normal;
    double divisor = 1;
    double coefficient = 1;
    double dof = INFINITY; // degrees of freedom: n − 1 for a Type A evaluation

    double standard() const { return known ? value / divisor : NAN; }
    double contribution() const { return known ? std::fabs(coefficient) * value / divisor : NAN; }
};

struct Budget
{
    QList<Component> components;
    double k = 2;
    bool known() const;        // every component has its input
    double combined() const;   // root sum of squares; NaN when not known
    double expanded() const;   // k · combined
    // Welch–Satterthwaite: u_c⁴ / Σ (c_i·u_i)⁴ / ν_i; infinite when every
    // component is of Type B.
    double effectiveDof() const;
};

// The coverage factor for about 95 %: 2, or Student's t_95 for the
// effective degrees of freedom when they are few (below 30).
double coverageFactor(double effectiveDof);

// A figure and its uncertainty as a certificate prints them: U with two
// significant digits, the figure to the same decimal place.
struct CertificateFigure
{
    QString value;       // empty: no figure
    QString uncertainty; // empty: no U
};
CertificateFigure roundForCertificate(double value, double expanded);

// Why a kind measured at one location has no uniformity.
QString oneLocationText();

struct EvaluatedFigure
{
    QString id;   // "upper", "lower", "uniformity", "fluctuation", "spread", "gradient",
                  // "achieved", "deviation", "correction", "inhomogeneity", "instability"
    QString name; // as the results view heads it
    Figure figure;
    bool plusMinus = false; // printed after "±"
    bool hasBudget = true;  // false: the figure is itself printed as an uncertainty
    Budget budget;
    QString why; // why there is no figure or no U, when there is none

    bool hasUncertainty() const { return hasBudget && budget.known() && figure.ok; }
};

struct KindEvaluation
{
    Kind kind = Kind::Temperature;
    QString set;    // the set point as stored
    int channels = 0;
    int scans = 0;  // scans in the window with a reading of this kind
    QString centre; // the centre channel's name
    double indicated = NAN; // the chamber's indicated value, when entered
    QVector<EvaluatedFigure> figures;
};

struct PointEvaluation
{
    int point = 0;   // 1-based
    int samples = 0; // samples of the point in the window
    QByteArray first, last; // their first and last times, "yyyy-MM-dd HH:mm:ss"
    KindEvaluation t, h;
    // From the first to the last sample evaluated, in seconds (0 with fewer
    // than two), and the mean interval between them (NaN then).
    qint64 durationSeconds() const;
    double intervalSeconds() const;
};

// What the standard (the collector and its probes) brings: as stored in
// its record (temnosure with its k in humnosure, temnosurek with its k in
// humnosurek, the resolutions cltem and clhum).
struct StandardData
{
    QString uncertaintyT, kT, uncertaintyH, kH;
    QString resolutionT, resolutionH;
    QString stabilityT, stabilityH; // the standard's stability, half-widths
    // The chamber's set-value resolution (from the equipment record).
    QString settingT, settingH;
    // With several collectors: each one's own (collector i at i - 1), for a
    // figure that comes from one channel; the fields above hold the worst,
    // for figures over channels of several.
    QVector<StandardData> perCollector;
    static StandardData fromCollector(const storage::Collector &collector,
                                      const storage::CollectorExtra &extra = {},
                                      const storage::EquipmentExtra &equipment = {});
    // The run's collectors: per kind the one with the largest standard
    // uncertainty (U/k) and the largest resolution, so the budget of a
    // figure over several channels holds for every one; unknown when any
    // collector lacks the input. With a layout, only the collectors that
    // have channels of the kind count. Each one's own in perCollector.
    static StandardData fromCollectors(const QList<storage::Collector> &collectors,
                                       const ChannelLayout &layout = ChannelLayout(),
                                       const QList<storage::CollectorExtra> &extras = {},
                                       const storage::EquipmentExtra &equipment = {});
};

// Inputs the operator gives for a kind, each unknown (NaN) until given: an
// input not entered is not zero, and a figure it enters has no U. 0 is
// kept when entered. Half-widths of rectangular distributions, but the
// display's resolution (its digit) and the indication's standard
// uncertainty.
struct ExtraInputs
{
    double drift = NAN;             // the standard's drift, half-width
    double selfHeating = NAN;       // the probes' self-heating, half-width
    double radiation = NAN;         // radiation, half-width
    double load = NAN;              // load, half-width
    double displayResolution = NAN; // the chamber's display digit
    double indication = NAN;        // the indicated value's standard uncertainty
    bool operator==(const ExtraInputs &o) const;
};

struct EvaluationSettings
{
    Method method = Method::Recorded;
    QString centreT, centreH; // channel names ("1-101"); empty: the kind's first channel
    int windowMinutes = 0;    // 0: the whole point; else its last minutes
    QMap<int, double> indicatedT, indicatedH; // per point, when entered
    ExtraInputs inputsT, inputsH;

    QString toJson() const;
    // Settings from their stored text; the defaults for anything missing.
    static EvaluationSettings fromJson(const QString &json);
    bool operator==(const EvaluationSettings &o) const;
};

struct Evaluation
{
    Method method = Method::Recorded;
    int windowMinutes = 0;
    QVector<PointEvaluation> points;
    bool cancelled = false;
};

// `recorded`: the record's figures of the same calibration (computeResults),
// used by "按原记录". The window does not apply to it: the record's figures
// are those of the whole point.
Evaluation evaluate(const Calibration &calibration, const QVector<PointResult> &recorded,
                    const StandardData &standard, const EvaluationSettings &settings,
                    const std::atomic<bool> *cancel = nullptr);
// Every method at once over one reading of the samples.
QVector<Evaluation> evaluateAll(const Calibration &calibration,
                                const QVector<PointResult> &recorded,
                                const StandardData &standard,
                                const EvaluationSettings &settings);

// The DKD-R 5-7 indication correction and its budget from its inputs.
struct DkdCorrectionInputs
{
    double referenceMean = NAN; // centre channel's mean
    double referenceSd = NAN;   // its experimental standard deviation
    int referenceCount = 0;     // and its number of readings
    double indicated = NAN;     // the chamber's indicated value
    double standardU = NAN, standardK = NAN, standardResolution = NAN;
    double inhomogeneity = NAN, instability = NAN; // half-widths
    ExtraInputs extra;
};
EvaluatedFigure dkdCorrection(const DkdCorrectionInputs &in);

// The channel names of a kind in channel order ("1-101", ...).
QStringList channelsOfKind(const ChannelLayout &layout, Kind kind);

} // namespace results
