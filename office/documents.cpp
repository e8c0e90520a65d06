#include "office/documents.h"

#include <QDate>

#include <QDateTime>

namespace office {

namespace {

const QString S2 = QStringLiteral("  ");
const QString S3 = QStringLiteral("   ");
const QString S5 = QStringLiteral("     ");
const QString S8 = QStringLiteral("        ");

QString shown(const QString &figure)
{
    return figure.isEmpty() ? QStringLiteral("无数据") : figure;
}

QString shown(const results::Figure &figure)
{
    return shown(figure.text());
}

QString setPointList(const QString &list, int count)
{
    const QStringList items = storage::splitList(list);
    QString text;
    for (int i = 0; i < count; ++i)
        text += items.value(i) + S2;
    return text;
}

} // namespace

QString templateName(DocumentKind kind)
{
    return kind == DocumentKind::Record ? QStringLiteral("M702.docx")
                                        : QStringLiteral("databook.docx");
}

QString missingRecords(DocumentKind kind, const storage::RunHeader &header,
                       const DocumentSources &sources)
{
    QStringList missing;
    if (sources.equipment.isEmpty())
        missing << QStringLiteral("试验设备“%1”").arg(header.equipname);
    if (sources.collector.isEmpty())
        missing << QStringLiteral("采集器“%1”").arg(header.collector);
    if (kind == DocumentKind::Certificate && sources.company.isEmpty())
        missing << QStringLiteral("检定单位信息");
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("找不到这次校准的%1记录，未生成文件。\n请先在对应页面补录后再导出。")
        .arg(missing.join(QStringLiteral("、")));
}

QStringList figureGaps(const storage::RunHeader &header,
                       const QVector<results::PointResult> &points)
{
    const bool wantT = results::typeWantsTemperature(header.equiptype);
    const bool wantH = results::typeWantsHumidity(header.equiptype);
    QStringList gaps;
    for (const results::PointResult &p : points) {
        if (p.samples == 0) {
            gaps << QStringLiteral("检点%1：没有样本").arg(p.point);
            continue;
        }
        if (wantT && p.t.channels == 0)
            gaps << QStringLiteral("检点%1：没有温度通道").arg(p.point);
        else if (wantT && !p.t.fluctuation.ok)
            gaps << QStringLiteral("检点%1：温度没有读数").arg(p.point);
        if (wantH && p.h.channels == 0)
            gaps << QStringLiteral("检点%1：没有湿度通道").arg(p.point);
        else if (wantH && !p.h.fluctuation.ok)
            gaps << QStringLiteral("检点%1：湿度没有读数").arg(p.point);
    }
    return gaps;
}

QString nextCalibrationDate(const QString &dtbegin)
{
    const QDateTime start = QDateTime::fromString(dtbegin, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!start.isValid())
        return QString();
    return start.addDays(365).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).left(10);
}

static QString resultLines(const QString &label, const results::KindFigures &f)
{
    return label + QStringLiteral("设定值:") + shown(f.set) + S8 + QStringLiteral("上偏差:") +
           shown(f.upper) + S8 + QStringLiteral("下偏差:") + shown(f.lower) + QLatin1Char('\n') +
           QStringLiteral("                均匀度:") + shown(f.uniformity) + S5 +
           QStringLiteral("波动度:±") + shown(f.fluctuation) + S8 +
           QStringLiteral("校准不确定度（k=2）:") + shown(f.spread) + QLatin1Char('\n');
}

QString recordBlock(const results::Calibration &calibration, const results::PointResult &point,
                    const QVector<int> &samples)
{
    const storage::RunHeader &h = calibration.header;
    QString text = QString(6, QLatin1Char('\n'));
    text += QStringLiteral("校准点") + QString::number(point.point) + QLatin1Char('\n');
    text += QLatin1Char('\n');
    text += QStringLiteral("时间              ");
    const QStringList numbers = storage::splitList(h.chanlist);
    for (int i = 0; i < calibration.layout.channelCount; ++i)
        text += numbers.value(i) + S5;
    text += QLatin1Char('\n');
    for (int index : samples) {
        const results::StoredSample &s = calibration.samples[index];
        text += QString::fromUtf8(s.coltime).mid(5) + S3;
        // Every entry, the empty one after the last ";" included.
        for (const QString &entry : QString::fromUtf8(s.coldata).split(QLatin1Char(';')))
            text += entry + S2;
        text += QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    text += QStringLiteral("最大值           ");
    for (const results::ChannelExtremes &c : point.channels)
        text += shown(c.max) + S2;
    text += QLatin1Char('\n');
    text += QStringLiteral("最小值           ");
    for (const results::ChannelExtremes &c : point.channels)
        text += shown(c.min) + S2;
    text += QLatin1Char('\n');
    text += QLatin1Char('\n');
    if (results::typeWantsTemperature(h.equiptype))
        text += resultLines(QStringLiteral("温度            "), point.t);
    if (results::typeWantsHumidity(h.equiptype))
        text += resultLines(QStringLiteral("湿度            "), point.h);
    return text;
}

static QString certificatePart(const QString &title, const results::KindFigures &f)
{
    return QStringLiteral("\n") + title + QLatin1Char('\n') + QStringLiteral("设定值:") +
           shown(f.set) + QLatin1Char('\n') + QStringLiteral("上偏差:") + shown(f.upper) +
           QLatin1Char('\n') + QStringLiteral("下偏差:") + shown(f.lower) + QLatin1Char('\n') +
           QStringLiteral("均匀度:") + shown(f.uniformity) + QLatin1Char('\n') +
           QStringLiteral("波动度:±") + shown(f.fluctuation) + QLatin1Char('\n') +
           QStringLiteral("校准不确定度（k=2）:") + shown(f.spread) + QLatin1Char('\n');
}

QString certificateBlock(const storage::RunHeader &header, const results::PointResult &point)
{
    QString text = QString(6, QLatin1Char('\n'));
    text += QStringLiteral("校准点") + QString::number(point.point) + QLatin1Char('\n');
    if (results::typeWantsTemperature(header.equiptype))
        text += certificatePart(QStringLiteral("校准参数  温度/℃"), point.t);
    if (results::typeWantsHumidity(header.equiptype))
        text += certificatePart(QStringLiteral("校准参数  湿度/%RH"), point.h);
    return text;
}

QList<Insertion> recordInsertions(const results::Calibration &calibration,
                                  const QVector<results::PointResult> &points,
                                  const DocumentSources &sources)
{
    const storage::RunHeader &h = calibration.header;
    const storage::Equipment &e = sources.equipment;
    const storage::Collector &c = sources.collector;
    // The count and set points are the calibration's own, not the
    // equipment's as it may have been edited since.
    const int count = results::pointCount(h);
    const QString uncertainty = c.temnosure + QStringLiteral("℃") + QStringLiteral("(k=") +
                                c.humnosure + QStringLiteral(")/") + c.temnosurek +
                                QStringLiteral("%") + QStringLiteral("RH(k=") + c.humnosurek +
                                QStringLiteral(")");
    QList<Insertion> out{{QStringLiteral("mark1"), e.companyname},
                         {QStringLiteral("mark2"), e.name},
                         {QStringLiteral("mark3"), e.address},
                         {QStringLiteral("mark4"), e.madecompanyname},
                         {QStringLiteral("mark5"), e.model},
                         {QStringLiteral("mark6"), e.temnum},
                         {QStringLiteral("mark7"), e.humnum},
                         {QStringLiteral("mark8"), QString::number(count)},
                         {QStringLiteral("mark9"), setPointList(h.temset, count)},
                         {QStringLiteral("mark10"), setPointList(h.humset, count)},
                         {QStringLiteral("mark11"), h.dtbegin},
                         {QStringLiteral("mark12"), c.name},
                         {QStringLiteral("mark13"), c.type},
                         {QStringLiteral("mark14"), uncertainty},
                         {QStringLiteral("mark15"), c.zhengshu},
                         {QStringLiteral("mark16"), c.todata}};
    const QVector<QVector<int>> byPoint = results::samplesByPoint(calibration);
    QString blocks;
    for (const results::PointResult &p : points)
        blocks += recordBlock(calibration, p, byPoint.value(p.point - 1));
    out << Insertion{QStringLiteral("mark17"), blocks};
    return out;
}

// The standard's validity as the certificate states it: an operator who
// issues a certificate with a standard out of date has it said there.
static QString validityText(const storage::Collector &c, const QString &dtbegin)
{
    const QDate valid = QDate::fromString(c.todata.trimmed(), QStringLiteral("yyyy-MM-dd"));
    const QDate run = QDate::fromString(dtbegin.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!valid.isValid())
        return c.todata.trimmed().isEmpty() ? QStringLiteral("（无有效期）")
                                            : c.todata + QStringLiteral("（有效期无法识别）");
    if (run.isValid() && valid < run)
        return c.todata + QStringLiteral("（校准时已过期）");
    return c.todata;
}

QList<Insertion> certificateInsertions(const storage::RunHeader &h,
                                       const QVector<results::PointResult> &points,
                                       const DocumentSources &sources)
{
    const storage::Equipment &e = sources.equipment;
    const storage::Collector &c = sources.collector;
    const storage::Company &l = sources.company;
    const QString accuracy = QStringLiteral("±") + c.zqtem + QStringLiteral("℃") +
                             QLatin1Char('\n') + QStringLiteral("±") + c.zqhum +
                             QStringLiteral("%RH");
    QList<Insertion> out{{QStringLiteral("mark1"), e.companyname},
                         {QStringLiteral("mark2"), e.name},
                         {QStringLiteral("mark3"), e.model},
                         {QStringLiteral("mark4"), e.equipmodel},
                         {QStringLiteral("mark5"), e.madecompanyname},
                         {QStringLiteral("mark6"), h.dtbegin.left(10)},
                         {QStringLiteral("mark7"), l.booknum},
                         {QStringLiteral("mark8"), l.tel},
                         {QStringLiteral("mark9"), l.address},
                         {QStringLiteral("mark10"), l.yzbm},
                         {QStringLiteral("mark11"), c.name},
                         {QStringLiteral("mark12"), c.type},
                         {QStringLiteral("mark13"), c.num},
                         {QStringLiteral("mark14"), validityText(c, h.dtbegin)},
                         {QStringLiteral("mark15"), c.zhengshu},
                         {QStringLiteral("mark16"), accuracy},
                         {QStringLiteral("mark17"), h.envtem},
                         {QStringLiteral("mark18"), h.envhum},
                         {QStringLiteral("mark20"), nextCalibrationDate(h.dtbegin)}};
    QString blocks;
    for (const results::PointResult &p : points)
        blocks += certificateBlock(h, p);
    out << Insertion{QStringLiteral("mark19"), blocks};
    return out;
}

} // namespace office
