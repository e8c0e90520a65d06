#include "office/standardcertificate.h"

#include "office/chamberdrawing.h"
#include "office/export.h"
#include "office/wordpdf.h"

#include <QDate>
#include <QMap>
#include <QSettings>
#include <QXmlStreamWriter>
#include <cmath>

namespace office {

namespace {

const QString W = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString R =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// Page: A4, 2 cm margins; the text width in twentieths of a point.
constexpr int kPageW = 11906, kPageH = 16838, kMargin = 1134;
constexpr int kTextW = kPageW - 2 * kMargin;

struct Run
{
    QString text;
    bool bold = false;
    int halfPoints = 0; // 0: the style's size
};

struct Para
{
    QString align;         // "center", "right", empty: left
    bool keepNext = false; // stays on the page of the next paragraph
    int spaceBefore = 0;   // twentieths of a point
    int spaceAfter = 60;
    bool pageBreakBefore = false;
};

// WordprocessingML written element by element.
class Doc
{
public:
    using Run = office::Run;
    using Para = office::Para;
    explicit Doc(QByteArray *out) : x(out)
    {
        x.setAutoFormatting(false);
        x.writeStartDocument(QStringLiteral("1.0"), true);
    }
    QXmlStreamWriter x;

    void start(const QString &name) { x.writeStartElement(W, name); }
    void end() { x.writeEndElement(); }
    void empty(const QString &name, const QList<QPair<QString, QString>> &attrs = {})
    {
        x.writeEmptyElement(W, name);
        for (const auto &a : attrs)
            x.writeAttribute(W, a.first, a.second);
    }
    void val(const QString &name, const QString &value)
    {
        empty(name, {{QStringLiteral("val"), value}});
    }

    void run(const Run &r)
    {
        start(QStringLiteral("r"));
        if (r.bold || r.halfPoints) {
            start(QStringLiteral("rPr"));
            if (r.bold)
                empty(QStringLiteral("b"));
            if (r.halfPoints) {
                val(QStringLiteral("sz"), QString::number(r.halfPoints));
                val(QStringLiteral("szCs"), QString::number(r.halfPoints));
            }
            end();
        }
        const QStringList lines = r.text.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                empty(QStringLiteral("br"));
            start(QStringLiteral("t"));
            x.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
            x.writeCharacters(lines[i]);
            end();
        }
        end();
    }

    void paraProperties(const Para &p)
    {
        start(QStringLiteral("pPr"));
        if (p.keepNext)
            empty(QStringLiteral("keepNext"));
        if (p.pageBreakBefore)
            empty(QStringLiteral("pageBreakBefore"));
        empty(QStringLiteral("spacing"),
              {{QStringLiteral("before"), QString::number(p.spaceBefore)},
               {QStringLiteral("after"), QString::number(p.spaceAfter)}});
        if (!p.align.isEmpty())
            val(QStringLiteral("jc"), p.align);
        end();
    }
    void paragraph(const QList<Run> &runs, const Para &p = Para())
    {
        start(QStringLiteral("p"));
        paraProperties(p);
        for (const Run &r : runs)
            run(r);
        end();
    }
    void text(const QString &t, const Para &p = Para(), bool bold = false, int halfPoints = 0)
    {
        paragraph({Run{t, bold, halfPoints}}, p);
    }
    // A picture of the package (relationship `id`) on a paragraph of its own.
    void picture(const QString &id, qint64 cx, qint64 cy, const Para &p)
    {
        const QString WP = QStringLiteral(
            "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");
        const QString A = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
        const QString PIC =
            QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");
        start(QStringLiteral("p"));
        paraProperties(p);
        start(QStringLiteral("r"));
        start(QStringLiteral("drawing"));
        x.writeStartElement(WP, QStringLiteral("inline"));
        x.writeEmptyElement(WP, QStringLiteral("extent"));
        x.writeAttribute(QStringLiteral("cx"), QString::number(cx));
        x.writeAttribute(QStringLiteral("cy"), QString::number(cy));
        x.writeEmptyElement(WP, QStringLiteral("docPr"));
        x.writeAttribute(QStringLiteral("id"), QStringLiteral("1"));
        x.writeAttribute(QStringLiteral("name"), QStringLiteral("layout"));
        x.writeStartElement(A, QStringLiteral("graphic"));
        x.writeStartElement(A, QStringLiteral("graphicData"));
        x.writeAttribute(QStringLiteral("uri"), PIC);
        x.writeStartElement(PIC, QStringLiteral("pic"));
        x.writeStartElement(PIC, QStringLiteral("nvPicPr"));
        x.writeEmptyElement(PIC, QStringLiteral("cNvPr"));
        x.writeAttribute(QStringLiteral("id"), QStringLiteral("1"));
        x.writeAttribute(QStringLiteral("name"), QStringLiteral("layout.png"));
        x.writeEmptyElement(PIC, QStringLiteral("cNvPicPr"));
        x.writeEndElement(); // nvPicPr
        x.writeStartElement(PIC, QStringLiteral("blipFill"));
        x.writeEmptyElement(A, QStringLiteral("blip"));
        x.writeAttribute(R, QStringLiteral("embed"), id);
        x.writeStartElement(A, QStringLiteral("stretch"));
        x.writeEmptyElement(A, QStringLiteral("fillRect"));
        x.writeEndElement(); // stretch
        x.writeEndElement(); // blipFill
        x.writeStartElement(PIC, QStringLiteral("spPr"));
        x.writeStartElement(A, QStringLiteral("xfrm"));
        x.writeEmptyElement(A, QStringLiteral("off"));
        x.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
        x.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
        x.writeEmptyElement(A, QStringLiteral("ext"));
        x.writeAttribute(QStringLiteral("cx"), QString::number(cx));
        x.writeAttribute(QStringLiteral("cy"), QString::number(cy));
        x.writeEndElement(); // xfrm
        x.writeStartElement(A, QStringLiteral("prstGeom"));
        x.writeAttribute(QStringLiteral("prst"), QStringLiteral("rect"));
        x.writeEmptyElement(A, QStringLiteral("avLst"));
        x.writeEndElement(); // prstGeom
        x.writeEndElement(); // spPr
        x.writeEndElement(); // pic
        x.writeEndElement(); // graphicData
        x.writeEndElement(); // graphic
        x.writeEndElement(); // inline
        end();               // drawing
        end();               // r
        end();               // p
    }

    void heading(const QString &t)
    {
        Para p;
        p.keepNext = true;
        p.spaceBefore = 160;
        p.spaceAfter = 80;
        text(t, p, true, 24);
    }

    // ---- tables ----
    void tableStart(const QVector<int> &widths, bool borders = true)
    {
        start(QStringLiteral("tbl"));
        start(QStringLiteral("tblPr"));
        empty(QStringLiteral("tblW"), {{QStringLiteral("w"), QString::number(kTextW)},
                                       {QStringLiteral("type"), QStringLiteral("dxa")}});
        val(QStringLiteral("jc"), QStringLiteral("center"));
        if (borders) {
            start(QStringLiteral("tblBorders"));
            for (const char *side : {"top", "left", "bottom", "right", "insideH", "insideV"})
                empty(QLatin1String(side), {{QStringLiteral("val"), QStringLiteral("single")},
                                            {QStringLiteral("sz"), QStringLiteral("4")},
                                            {QStringLiteral("space"), QStringLiteral("0")},
                                            {QStringLiteral("color"), QStringLiteral("000000")}});
            end();
        }
        empty(QStringLiteral("tblLayout"), {{QStringLiteral("type"), QStringLiteral("fixed")}});
        start(QStringLiteral("tblCellMar"));
        for (const char *side : {"left", "right"})
            empty(QLatin1String(side), {{QStringLiteral("w"), QStringLiteral("60")},
                                        {QStringLiteral("type"), QStringLiteral("dxa")}});
        end();
        end();
        start(QStringLiteral("tblGrid"));
        for (int w : widths)
            empty(QStringLiteral("gridCol"), {{QStringLiteral("w"), QString::number(w)}});
        end();
        m_widths = widths;
    }
    // A row that never splits across pages; `heading` rows repeat on every page.
    void row(const QStringList &cells, bool heading = false, bool bold = false,
             const QString &align = QStringLiteral("center"))
    {
        start(QStringLiteral("tr"));
        start(QStringLiteral("trPr"));
        empty(QStringLiteral("cantSplit"));
        if (heading)
            empty(QStringLiteral("tblHeader"));
        end();
        for (int c = 0; c < cells.size(); ++c) {
            start(QStringLiteral("tc"));
            start(QStringLiteral("tcPr"));
            empty(QStringLiteral("tcW"), {{QStringLiteral("w"), QString::number(m_widths.value(c))},
                                          {QStringLiteral("type"), QStringLiteral("dxa")}});
            val(QStringLiteral("vAlign"), QStringLiteral("center"));
            end();
            Para p;
            p.align = c == 0 && align != QLatin1String("center") ? QString() : align;
            p.spaceAfter = 0;
            p.spaceBefore = 0;
            text(cells[c], p, heading || (bold && c == 0), 18);
            end();
        }
        end();
    }
    void tableEnd() { end(); }

private:
    QVector<int> m_widths;
};

QByteArray rootStart(Doc &d, const QString &root)
{
    d.x.writeNamespace(W, QStringLiteral("w"));
    d.x.writeNamespace(R, QStringLiteral("r"));
    d.start(root);
    return QByteArray();
}

QString orNone(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("—") : text.trimmed();
}

QString dateOf(const QString &dtbegin)
{
    return dtbegin.left(10);
}

QString range(const QString &low, const QString &high, const QString &unit)
{
    if (low.trimmed().isEmpty() && high.trimmed().isEmpty())
        return QString();
    return QStringLiteral("%1 ～ %2 %3").arg(low.trimmed(), high.trimmed(), unit);
}

// A figure's name as a column heading: a name wider than the column breaks
// between its words, never inside one ("实现值偏/差").
QString headingName(const QString &name)
{
    static const QMap<QString, QString> words{
        {QStringLiteral("实现值偏差"), QStringLiteral("实现值\n偏差")},
        {QStringLiteral("示值修正值"), QStringLiteral("示值\n修正值")},
        {QStringLiteral("波动度(±)"), QStringLiteral("波动度\n(±)")},
    };
    return words.value(name, name);
}

QString standardU(const storage::Collector &c)
{
    QStringList parts;
    if (!c.temnosure.trimmed().isEmpty())
        parts
            << QStringLiteral("温度 U=%1 ℃ (k=%2)").arg(c.temnosure.trimmed(), orNone(c.humnosure));
    if (!c.temnosurek.trimmed().isEmpty())
        parts << QStringLiteral("湿度 U=%1 %RH (k=%2)")
                     .arg(c.temnosurek.trimmed(), orNone(c.humnosurek));
    return parts.isEmpty() ? QStringLiteral("—") : parts.join(QLatin1Char('\n'));
}

// The drawing's size on the page (EMU: 360000 per cm) and in pixels.
constexpr qint64 kLayoutCx = 12 * 360000, kLayoutCy = 9 * 360000;
const QSize kLayoutPixels(1200, 900);

// The location of each channel of the run: "A" for "1-101".
QMap<QString, QString> channelLocations(const StandardCertificateJob &job)
{
    return results::locationsByName(job.calibration.layout.names, job.records.locationsA,
                                    job.records.locationsB);
}

// "（位置 O）" after the centre channel, when it has a location.
QString centreLocationText(const StandardCertificateJob &job)
{
    const QMap<QString, QString> at = channelLocations(job);
    QStringList located;
    for (const results::PointEvaluation &p : job.evaluation.points) {
        for (const QString &c : {p.t.centre, p.h.centre})
            if (!c.isEmpty() && at.contains(c))
                located << QStringLiteral("%1 在位置 %2").arg(c, at.value(c));
        if (!located.isEmpty())
            break;
    }
    return located.isEmpty() ? QString()
                             : QStringLiteral("（%1）").arg(located.join(QStringLiteral("，")));
}

// Under the drawing: the centre, then each location's channels.
QString layoutText(const StandardCertificateJob &job, const results::ChamberLayout &layout)
{
    const QMap<QString, QString> at = channelLocations(job);
    QStringList parts;
    for (const storage::Location &l : layout.locations) {
        const QStringList channels = at.keys(l.name);
        parts << QStringLiteral("%1：%2").arg(
            l.name, channels.isEmpty() ? QStringLiteral("—") : channels.join(QStringLiteral("、")));
    }
    const double v = results::workingVolume(job.records.equipmentExtra);
    return QStringLiteral("中心位置 %1%2。各位置的通道：%3。")
        .arg(layout.centre,
             std::isfinite(v) ? QStringLiteral("；工作空间 %1 m³").arg(v, 0, 'f', 2) : QString(),
             parts.join(QStringLiteral("；")));
}

void writeBody(Doc &d, const StandardCertificateJob &job)
{
    const storage::RunHeader &h = job.calibration.header;
    const storage::Equipment &e = job.records.sources.equipment;
    const storage::Company &lab = job.records.sources.company;

    Doc::Para centre;
    centre.align = QStringLiteral("center");
    d.text(orNone(lab.unitname), centre, true, 28);
    centre.spaceBefore = 120;
    d.text(QStringLiteral("校 准 证 书"), centre, true, 44);
    centre.spaceBefore = 0;
    d.text(QStringLiteral("CALIBRATION CERTIFICATE"), centre, false, 20);
    d.text(QStringLiteral("证书编号：%1").arg(job.certificate.number), centre, true, 22);
    // An amendment says which certificate it replaces.
    if (!job.certificate.replaces.isEmpty())
        d.text(replacesText(job.certificate.replaces), centre, true, 20);

    // Who and what.
    d.heading(QStringLiteral("委托方与被校器具"));
    const int label = 2600;
    d.tableStart({label, kTextW - label});
    QList<QPair<QString, QString>> item{
        {QStringLiteral("委托单位"), e.companyname},
        {QStringLiteral("委托单位地址"), e.address},
        {QStringLiteral("器具名称"), e.name},
        {QStringLiteral("型号规格"), e.model},
        {QStringLiteral("出厂编号"), e.equipmodel},
        {QStringLiteral("制造单位"), e.madecompanyname},
        {QStringLiteral("出厂日期"), e.madedate},
        {QStringLiteral("温度范围"), range(e.temdown, e.temup, QStringLiteral("℃"))},
        {QStringLiteral("湿度范围"), range(e.humdown, e.humup, QStringLiteral("%RH"))},
        {QStringLiteral("校准日期"), dateOf(h.dtbegin)},
        {QStringLiteral("签发日期"), job.issueDate},
        {QStringLiteral("校准地点"), lab.place},
    };
    // A recommended date of the next calibration only when the customer
    // asked for one (an interval set with the equipment), after the issue.
    if (const QString next = nextCalibrationDate(job); !next.isEmpty())
        item.insert(item.size() - 1, {QStringLiteral("建议下次校准日期"),
                                      next + QStringLiteral("（按委托方要求）")});
    for (const auto &kv : item)
        d.row({kv.first, orNone(kv.second)}, false, true, QString());
    d.tableEnd();

    d.heading(QStringLiteral("校准机构"));
    d.tableStart({label, kTextW - label});
    const QList<QPair<QString, QString>> who{
        {QStringLiteral("名称"), lab.unitname}, {QStringLiteral("地址"), lab.address},
        {QStringLiteral("邮政编码"), lab.yzbm}, {QStringLiteral("电话"), lab.tel},
        {QStringLiteral("传真"), lab.fax},      {QStringLiteral("授权证书号"), lab.booknum}};
    for (const auto &kv : who)
        d.row({kv.first, orNone(kv.second)}, false, true, QString());
    d.tableEnd();

    // How.
    d.heading(QStringLiteral("校准依据与条件"));
    d.tableStart({label, kTextW - label});
    d.row({QStringLiteral("校准依据"), methodTitle(job.evaluation.method)}, false, true, QString());
    d.row({QStringLiteral("环境条件"),
           QStringLiteral("温度 %1 ℃，相对湿度 %2 %RH").arg(orNone(h.envtem), orNone(h.envhum))},
          false, true, QString());
    d.row({QStringLiteral("评定时段"),
           job.evaluation.windowMinutes > 0
               ? QStringLiteral("每个校准点最后 %1 分钟").arg(job.evaluation.windowMinutes)
               : QStringLiteral("每个校准点的全部采样")},
          false, true, QString());
    for (const auto &row : conditionRows(job.evaluation))
        d.row({row.first, row.first == QStringLiteral("中心位置")
                              ? row.second + centreLocationText(job)
                              : row.second},
              false, true, QString());
    d.tableEnd();
    for (const QString &deviation : methodDeviations(job.evaluation))
        d.text(QStringLiteral("注：与校准方法的偏离：") + deviation, Doc::Para(), false, 18);
    // Where the probes were: the drawing, and the channel at each location.
    const results::ChamberLayout layout = results::chamberLayout(job.records.equipmentExtra);
    if (!layout.isEmpty()) {
        d.heading(QStringLiteral("布点示意图"));
        Doc::Para centred;
        centred.align = QStringLiteral("center");
        centred.keepNext = true;
        d.picture(QStringLiteral("rIdLayout"), kLayoutCx, kLayoutCy, centred);
        d.text(layoutText(job, layout), Doc::Para(), false, 18);
    }

    d.heading(QStringLiteral("本次校准所用的计量标准器"));
    const QVector<int> sw{2200, 1900, 1900, 1500, kTextW - 7500};
    d.tableStart(sw);
    d.row({QStringLiteral("名称 / 型号"), QStringLiteral("序列号"), QStringLiteral("证书编号"),
           QStringLiteral("有效期至"), QStringLiteral("扩展不确定度")},
          true);
    for (const storage::Collector &c : job.records.collectors)
        d.row({orNone(c.name) + QStringLiteral(" / ") + orNone(c.type), orNone(c.serialnum),
               orNone(c.zhengshu), orNone(c.todata), standardU(c)});
    d.tableEnd();
    for (const QString &remark : job.standardRemarks)
        d.text(QStringLiteral("注：") + remark, Doc::Para(), true, 18);
    d.text(QStringLiteral(
               "溯源性：本证书所用计量标准器经有资质的计量技术机构校准，其量值溯源至国家计量基准，"
               "即国际单位制（SI）单位。"),
           Doc::Para(), false, 18);

    // The results, one table per kind.
    bool wantT = results::typeWantsTemperature(h.equiptype);
    bool wantH = results::typeWantsHumidity(h.equiptype);
    if (!wantT && !wantH)
        wantT = wantH = true;
    for (bool humidity : {false, true}) {
        if ((!humidity && !wantT) || (humidity && !wantH))
            continue;
        const QString unit = humidity ? QStringLiteral("%RH") : QStringLiteral("℃");
        // The method's figures, as its first point with figures has them.
        QVector<results::EvaluatedFigure> columns;
        QStringList leftOut;
        for (const results::PointEvaluation &p : job.evaluation.points) {
            const results::KindEvaluation &k = humidity ? p.h : p.t;
            if (columns.isEmpty() && !k.figures.isEmpty() && k.scans > 0)
                columns = k.figures;
        }
        if (columns.isEmpty())
            continue; // no channel or no reading of this kind
        d.heading(QStringLiteral("校准结果：%1")
                      .arg(humidity ? QStringLiteral("湿度") : QStringLiteral("温度")));
        // The unit on a line of its own under each name, so that no
        // heading breaks inside a word or a unit.
        const QString below = QStringLiteral("\n(") + unit + QLatin1Char(')');
        QStringList head{QStringLiteral("校准点"), QStringLiteral("设定值") + below};
        for (const results::EvaluatedFigure &f : columns) {
            head << headingName(f.name) + below;
            head << QStringLiteral("U(k=2)") + below;
        }
        const int first = 900, set = 1100;
        const int each = (kTextW - first - set) / (2 * int(columns.size()));
        QVector<int> widths{first, set};
        for (int i = 0; i < 2 * columns.size(); ++i)
            widths << each;
        d.tableStart(widths);
        d.row(head, true);
        for (const results::PointEvaluation &p : job.evaluation.points) {
            const results::KindEvaluation &k = humidity ? p.h : p.t;
            if (k.scans == 0 || k.figures.isEmpty()) {
                leftOut << QStringLiteral("检点%1").arg(p.point);
                continue;
            }
            QStringList cells{QStringLiteral("检点%1").arg(p.point), orNone(k.set)};
            for (int i = 0; i < columns.size(); ++i) {
                const results::EvaluatedFigure *f = i < k.figures.size() ? &k.figures[i] : nullptr;
                if (!f || !f->figure.ok) {
                    cells << QStringLiteral("—") << QStringLiteral("—");
                    continue;
                }
                const double U = f->hasUncertainty() ? f->budget.expanded() : NAN;
                const results::CertificateFigure c =
                    results::roundForCertificate(f->figure.value, U);
                // A k other than 2 (few scans, ν_eff) is printed with its U.
                const QString k = f->budget.k == 2
                                      ? QString()
                                      : QStringLiteral("\n(k=%1)").arg(f->budget.k, 0, 'f', 2);
                cells << (f->plusMinus ? QStringLiteral("±") : QString()) + c.value
                      << (c.uncertainty.isEmpty() ? QStringLiteral("—") : c.uncertainty + k);
            }
            d.row(cells);
        }
        d.tableEnd();
        // A kind at one location has no uniformity: said, not printed as 0.
        bool oneLocation = false;
        for (const results::PointEvaluation &p : job.evaluation.points)
            for (const results::EvaluatedFigure &f : (humidity ? p.h : p.t).figures)
                oneLocation = oneLocation || f.why == results::oneLocationText();
        if (oneLocation)
            d.text(QStringLiteral("注：%1只有一个测量位置，均匀度至少需要两个测量位置，不给出。")
                       .arg(humidity ? QStringLiteral("湿度") : QStringLiteral("温度")),
                   Doc::Para(), false, 18);
        if (!leftOut.isEmpty())
            d.text(QStringLiteral("注：%1 没有%2读数，未列出。")
                       .arg(leftOut.join(QStringLiteral("、")),
                            humidity ? QStringLiteral("湿度") : QStringLiteral("温度")),
                   Doc::Para(), false, 18);
    }
    d.text(
        QStringLiteral(
            "U 为扩展不确定度，包含因子 k=2，包含概率约为 95 %（注明 k 的，按有效自由度取包含概率 "
            "95 % 的 k），由标准器的校准与分辨力、测量重复性等分量合成；"
            "“—”表示缺少其输入而不给出。"),
        Doc::Para(), false, 18);

    // Closing.
    Doc::Para keep;
    keep.keepNext = true;
    keep.spaceBefore = 200;
    d.text(QStringLiteral("1. 本证书的校准结果仅对所校准的器具有效。"), keep, false, 20);
    keep.spaceBefore = 0;
    d.text(QStringLiteral("2. 未经本实验室书面批准，不得部分复制本证书。"), keep, false, 20);
    if (const QString adopted = adoptedRecordsText(job.records); !adopted.isEmpty())
        d.text(QStringLiteral("3. ") + adopted, keep, false, 20);
    d.tableStart({1400, 2600, 1000, kTextW - 5000}, false);
    const QList<QPair<QString, QString>> signers{{QStringLiteral("校准员"), job.signers.calibrator},
                                                 {QStringLiteral("核验员"), job.signers.checker},
                                                 {QStringLiteral("批准人"), job.signers.approver}};
    for (const auto &s : signers)
        d.row({s.first + QStringLiteral("："),
               s.second.isEmpty() ? QStringLiteral("________") : s.second, QStringLiteral("日期："),
               job.issueDate},
              false, false, QString());
    d.tableEnd();
    if (const QString signed_ = signaturesText(job.signatures); !signed_.isEmpty())
        d.text(signed_, Doc::Para(), false, 16);
    // The end mark follows the last content.
    Doc::Para blank = centre;
    blank.spaceBefore = 120;
    d.text(QStringLiteral("（以下空白）"), blank, false, 20);
}

QByteArray documentXml(const StandardCertificateJob &job)
{
    QByteArray out;
    Doc d(&out);
    rootStart(d, QStringLiteral("document"));
    d.start(QStringLiteral("body"));
    writeBody(d, job);
    d.start(QStringLiteral("sectPr"));
    d.x.writeEmptyElement(W, QStringLiteral("headerReference"));
    d.x.writeAttribute(W, QStringLiteral("type"), QStringLiteral("default"));
    d.x.writeAttribute(R, QStringLiteral("id"), QStringLiteral("rIdHeader"));
    d.x.writeEmptyElement(W, QStringLiteral("footerReference"));
    d.x.writeAttribute(W, QStringLiteral("type"), QStringLiteral("default"));
    d.x.writeAttribute(R, QStringLiteral("id"), QStringLiteral("rIdFooter"));
    d.empty(QStringLiteral("pgSz"), {{QStringLiteral("w"), QString::number(kPageW)},
                                     {QStringLiteral("h"), QString::number(kPageH)}});
    d.empty(QStringLiteral("pgMar"), {{QStringLiteral("top"), QString::number(kMargin + 300)},
                                      {QStringLiteral("right"), QString::number(kMargin)},
                                      {QStringLiteral("bottom"), QString::number(kMargin)},
                                      {QStringLiteral("left"), QString::number(kMargin)},
                                      {QStringLiteral("header"), QStringLiteral("567")},
                                      {QStringLiteral("footer"), QStringLiteral("567")},
                                      {QStringLiteral("gutter"), QStringLiteral("0")}});
    d.end(); // sectPr
    d.end(); // body
    d.end(); // document
    d.x.writeEndDocument();
    return out;
}

// A field (PAGE, NUMPAGES) with its current text as shown before updating.
void field(Doc &d, const QString &instruction)
{
    d.start(QStringLiteral("fldSimple"));
    d.x.writeAttribute(W, QStringLiteral("instr"),
                       QLatin1Char(' ') + instruction + QLatin1Char(' '));
    d.run(Doc::Run{QStringLiteral("1"), false, 18});
    d.end();
}

QByteArray headerXml(const StandardCertificateJob &job)
{
    QByteArray out;
    Doc d(&out);
    rootStart(d, QStringLiteral("hdr"));
    Doc::Para p;
    p.spaceAfter = 0;
    d.start(QStringLiteral("p"));
    d.start(QStringLiteral("pPr"));
    d.start(QStringLiteral("pBdr"));
    d.empty(QStringLiteral("bottom"), {{QStringLiteral("val"), QStringLiteral("single")},
                                       {QStringLiteral("sz"), QStringLiteral("4")},
                                       {QStringLiteral("space"), QStringLiteral("1")},
                                       {QStringLiteral("color"), QStringLiteral("000000")}});
    d.end();
    d.start(QStringLiteral("tabs"));
    d.empty(QStringLiteral("tab"), {{QStringLiteral("val"), QStringLiteral("right")},
                                    {QStringLiteral("pos"), QString::number(kTextW)}});
    d.end();
    d.end();
    d.run(Doc::Run{orNone(job.records.sources.company.unitname), false, 18});
    d.start(QStringLiteral("r"));
    d.empty(QStringLiteral("tab"));
    d.end();
    d.run(Doc::Run{QStringLiteral("证书编号：%1").arg(job.certificate.number), false, 18});
    d.end();
    d.end();
    d.x.writeEndDocument();
    return out;
}

QByteArray footerXml()
{
    QByteArray out;
    Doc d(&out);
    rootStart(d, QStringLiteral("ftr"));
    d.start(QStringLiteral("p"));
    d.start(QStringLiteral("pPr"));
    d.val(QStringLiteral("jc"), QStringLiteral("center"));
    d.end();
    d.run(Doc::Run{QStringLiteral("第 "), false, 18});
    field(d, QStringLiteral("PAGE"));
    d.run(Doc::Run{QStringLiteral(" 页 共 "), false, 18});
    field(d, QStringLiteral("NUMPAGES"));
    d.run(Doc::Run{QStringLiteral(" 页"), false, 18});
    d.end();
    d.end();
    d.x.writeEndDocument();
    return out;
}

QByteArray stylesXml()
{
    QByteArray out;
    Doc d(&out);
    rootStart(d, QStringLiteral("styles"));
    d.start(QStringLiteral("docDefaults"));
    d.start(QStringLiteral("rPrDefault"));
    d.start(QStringLiteral("rPr"));
    // The fonts a Chinese Word has; the PDF conversion maps them to Noto CJK SC.
    d.empty(QStringLiteral("rFonts"), {{QStringLiteral("ascii"), QStringLiteral("Times New Roman")},
                                       {QStringLiteral("hAnsi"), QStringLiteral("Times New Roman")},
                                       {QStringLiteral("eastAsia"), QStringLiteral("宋体")},
                                       {QStringLiteral("cs"), QStringLiteral("Times New Roman")}});
    d.val(QStringLiteral("sz"), QStringLiteral("21"));
    d.val(QStringLiteral("szCs"), QStringLiteral("21"));
    d.empty(QStringLiteral("lang"), {{QStringLiteral("val"), QStringLiteral("zh-CN")},
                                     {QStringLiteral("eastAsia"), QStringLiteral("zh-CN")}});
    d.end();
    d.end();
    d.start(QStringLiteral("pPrDefault"));
    d.start(QStringLiteral("pPr"));
    d.empty(QStringLiteral("spacing"), {{QStringLiteral("after"), QStringLiteral("60")},
                                        {QStringLiteral("line"), QStringLiteral("264")},
                                        {QStringLiteral("lineRule"), QStringLiteral("auto")}});
    d.end();
    d.end();
    d.end();
    d.start(QStringLiteral("style"));
    d.x.writeAttribute(W, QStringLiteral("type"), QStringLiteral("paragraph"));
    d.x.writeAttribute(W, QStringLiteral("default"), QStringLiteral("1"));
    d.x.writeAttribute(W, QStringLiteral("styleId"), QStringLiteral("Normal"));
    d.val(QStringLiteral("name"), QStringLiteral("Normal"));
    d.end();
    d.end();
    d.x.writeEndDocument();
    return out;
}

QByteArray plain(const char *text)
{
    return QByteArray(text);
}

} // namespace

Signers rememberedSigners()
{
    QSettings s;
    return Signers{s.value(QStringLiteral("certificate/calibrator")).toString(),
                   s.value(QStringLiteral("certificate/checker")).toString(),
                   s.value(QStringLiteral("certificate/approver")).toString()};
}

void rememberSigners(const Signers &signers)
{
    QSettings s;
    s.setValue(QStringLiteral("certificate/calibrator"), signers.calibrator);
    s.setValue(QStringLiteral("certificate/checker"), signers.checker);
    s.setValue(QStringLiteral("certificate/approver"), signers.approver);
}

QStringList certificateRefusals(const StandardCertificateJob &job)
{
    QStringList out;
    const int kMost = 8; // the first few name the rest
    int more = 0;
    auto refuse = [&](const QString &why) {
        if (out.size() < kMost)
            out << why;
        else
            ++more;
    };
    for (const results::PointEvaluation &p : job.evaluation.points) {
        for (bool humidity : {false, true}) {
            const results::KindEvaluation &k = humidity ? p.h : p.t;
            if (k.scans == 0)
                continue;
            const QString what =
                QStringLiteral("检点%1 %2")
                    .arg(p.point)
                    .arg(humidity ? QStringLiteral("湿度") : QStringLiteral("温度"));
            bool setOk = false;
            const double set = k.set.trimmed().toDouble(&setOk);
            for (const results::EvaluatedFigure &f : k.figures) {
                if (!f.figure.ok)
                    continue;
                if (f.hasBudget && !f.hasUncertainty())
                    refuse(
                        QStringLiteral("%1 %2 没有不确定度（%3）")
                            .arg(what, f.name, f.why.isEmpty() ? QStringLiteral("未知") : f.why));
                // The extreme readings behind the deviations.
                if (setOk && (f.id == QLatin1String("upper") || f.id == QLatin1String("lower"))) {
                    const double reading = set + f.figure.value;
                    const bool plausible = humidity ? reading >= 0 && reading <= 100
                                                    : reading >= -200 && reading <= 1372;
                    if (!plausible)
                        refuse(
                            QStringLiteral("%1 有读数 %2 %3，不是%4可能的读数")
                                .arg(what, QString::number(reading, 'f', 3),
                                     humidity ? QStringLiteral("%RH") : QStringLiteral("℃"),
                                     humidity ? QStringLiteral("湿度") : QStringLiteral("温度")));
                }
            }
        }
    }
    if (more > 0)
        out << QStringLiteral("……另有 %1 项").arg(more);
    return out;
}

results::Method certifiedMethod(results::Method chosen)
{
    return chosen == results::Method::Recorded ? results::Method::Jjf1101 : chosen;
}

QString methodTitle(results::Method method)
{
    switch (certifiedMethod(method)) {
    case results::Method::Jjf1101:
        return QStringLiteral("JJF 1101-2019《环境试验设备温度、湿度参数校准规范》");
    case results::Method::Gbt5170:
        return QStringLiteral(
            "GB/T 5170.2《电工电子产品环境试验设备检验方法 第2部分：温度试验设备》");
    case results::Method::Iec60068:
        return QStringLiteral(
            "IEC 60068-3-5 Environmental testing – Confirmation of the performance "
            "of temperature chambers");
    case results::Method::Dkd57:
        return QStringLiteral("DKD-R 5-7 Kalibrierung von Klimaschränken");
    case results::Method::Recorded:
        break;
    }
    return QString();
}

QList<QPair<QString, QString>> conditionRows(const results::Evaluation &evaluation)
{
    QStringList centres, perPoint;
    double intervalSum = 0;
    int intervals = 0;
    for (const results::PointEvaluation &p : evaluation.points) {
        if (centres.isEmpty()) {
            if (!p.t.centre.isEmpty())
                centres << QStringLiteral("温度 %1").arg(p.t.centre);
            if (!p.h.centre.isEmpty())
                centres << QStringLiteral("湿度 %1").arg(p.h.centre);
        }
        if (p.samples == 0)
            continue;
        perPoint << QStringLiteral("检点%1：%2 次，%3 min")
                        .arg(p.point)
                        .arg(p.samples)
                        .arg(QString::number(p.durationSeconds() / 60.0, 'f', 1));
        if (std::isfinite(p.intervalSeconds())) {
            intervalSum += p.intervalSeconds();
            ++intervals;
        }
    }
    return {
        {QStringLiteral("中心位置"),
         centres.isEmpty() ? QStringLiteral("—") : centres.join(QStringLiteral("；"))},
        {QStringLiteral("采样间隔"),
         intervals ? QStringLiteral("约 %1 s").arg(QString::number(intervalSum / intervals, 'f', 0))
                   : QStringLiteral("—")},
        {QStringLiteral("每点扫描次数与时长"),
         perPoint.isEmpty() ? QStringLiteral("—") : perPoint.join(QStringLiteral("；"))},
        {QStringLiteral("负载状态"), QStringLiteral("未记录")},
    };
}

QStringList methodDeviations(const results::Evaluation &evaluation)
{
    const results::Method m = evaluation.method;
    const bool jjf = m == results::Method::Jjf1101 || m == results::Method::Gbt5170;
    const bool thirtyMinutes = m == results::Method::Jjf1101 || m == results::Method::Dkd57;
    // JJF 1101-2019: at least 9 locations (15 above 2 m³), 30 minutes of
    // data per point; DKD-R 5-7: instability over 30 minutes.
    constexpr int kLocations = 9, kMinutes = 30;
    QStringList out;
    int locations = 0;
    for (const results::PointEvaluation &p : evaluation.points)
        locations = qMax(locations, p.t.channels);
    if (jjf && locations > 0 && locations < kLocations)
        out << QStringLiteral("本次布点 %1 个，少于规范要求的 %2 个")
                   .arg(locations)
                   .arg(kLocations);
    if (thirtyMinutes) {
        QStringList shortPoints;
        for (const results::PointEvaluation &p : evaluation.points)
            if (p.samples > 0 && p.durationSeconds() < kMinutes * 60)
                shortPoints << QStringLiteral("检点%1（%2 min）")
                                   .arg(p.point)
                                   .arg(QString::number(p.durationSeconds() / 60.0, 'f', 1));
        if (!shortPoints.isEmpty())
            out << QStringLiteral("%1的数据时长少于规范要求的 %2 min")
                       .arg(shortPoints.join(QStringLiteral("、")))
                       .arg(kMinutes);
    }
    return out;
}

QString nextCalibrationDate(const StandardCertificateJob &job)
{
    bool ok = false;
    const int months = job.records.equipmentExtra.intervalMonths.trimmed().toInt(&ok);
    const QDate issued = QDate::fromString(job.issueDate, QStringLiteral("yyyy-MM-dd"));
    if (!ok || months <= 0 || !issued.isValid())
        return QString();
    return issued.addMonths(months).toString(QStringLiteral("yyyy-MM-dd"));
}

QString signersRefusal(const Signers &signers)
{
    const QStringList who{signers.calibrator.trimmed(), signers.checker.trimmed(),
                          signers.approver.trimmed()};
    if (who.contains(QString()) || who[0] == who[1] || who[0] == who[2] || who[1] == who[2])
        return QStringLiteral("校准员、核验员、批准人须是三位不同的操作员");
    return QString();
}

QString signaturesText(const QList<storage::Signature> &signatures)
{
    if (signatures.isEmpty())
        return QString();
    QStringList parts;
    for (const storage::Signature &s : signatures)
        parts << QStringLiteral("%1 %2 %3").arg(s.meaning, s.name, s.at);
    return QStringLiteral("电子签名（各人以本人密码确认）：%1。所签内容 SHA-256：%2")
        .arg(parts.join(QStringLiteral("；")), signatures.first().hash);
}

QString replacesText(const QString &number)
{
    return QStringLiteral("本证书代替证书 %1（作废）").arg(number);
}

QStringList standardProblems(const QList<storage::Collector> &collectors, const QString &dtbegin)
{
    QStringList out;
    const QDate run = QDate::fromString(dtbegin.left(10), QStringLiteral("yyyy-MM-dd"));
    for (const storage::Collector &c : collectors) {
        const QString name =
            QStringLiteral("%1（序列号 %2）").arg(orNone(c.name), orNone(c.serialnum));
        const QDate valid = QDate::fromString(c.todata.trimmed(), QStringLiteral("yyyy-MM-dd"));
        if (!valid.isValid())
            out << QStringLiteral("标准器 %1 的校准证书没有有效期。").arg(name);
        else if (run.isValid() && valid < run)
            out << QStringLiteral("标准器 %1 的校准证书有效期至 %2，早于本次校准日期 %3。")
                       .arg(name, c.todata.trimmed(), run.toString(QStringLiteral("yyyy-MM-dd")));
    }
    return out;
}

QList<ZipEntry> standardCertificatePackage(const StandardCertificateJob &job)
{
    QList<ZipEntry> package{
        {QStringLiteral("[Content_Types].xml"),
         plain("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
               "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" "
               "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
               "<Default Extension=\"png\" ContentType=\"image/png\"/>"
               "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
               "<Override PartName=\"/word/styles.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
               "<Override PartName=\"/word/header1.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.wordprocessingml.header+xml\"/>"
               "<Override PartName=\"/word/footer1.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.wordprocessingml.footer+xml\"/>"
               "</Types>")},
        {QStringLiteral("_rels/.rels"),
         plain("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
               "<Relationships "
               "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
               "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
               "2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
               "</Relationships>")},
        {QStringLiteral("word/_rels/document.xml.rels"),
         plain("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
               "<Relationships "
               "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
               "<Relationship Id=\"rIdStyles\" Type=\"http://schemas.openxmlformats.org/"
               "officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
               "<Relationship Id=\"rIdHeader\" Type=\"http://schemas.openxmlformats.org/"
               "officeDocument/2006/relationships/header\" Target=\"header1.xml\"/>"
               "<Relationship Id=\"rIdFooter\" Type=\"http://schemas.openxmlformats.org/"
               "officeDocument/2006/relationships/footer\" Target=\"footer1.xml\"/>"
               "%1</Relationships>")},
        {QStringLiteral("word/document.xml"), documentXml(job)},
        {QStringLiteral("word/styles.xml"), stylesXml()},
        {QStringLiteral("word/header1.xml"), headerXml(job)},
        {QStringLiteral("word/footer1.xml"), footerXml()},
    };
    // The layout drawing, with its relationship, when the run has a layout.
    const results::ChamberLayout layout = results::chamberLayout(job.records.equipmentExtra);
    for (ZipEntry &e : package)
        if (e.name == QLatin1String("word/_rels/document.xml.rels"))
            e.data.replace("%1", layout.isEmpty()
                                     ? QByteArray()
                                     : QByteArray("<Relationship Id=\"rIdLayout\" "
                                                  "Type=\"http://schemas.openxmlformats.org/"
                                                  "officeDocument/2006/relationships/image\" "
                                                  "Target=\"media/layout.png\"/>"));
    if (!layout.isEmpty())
        package << ZipEntry{QStringLiteral("word/media/layout.png"),
                            layoutDrawingPng(layout, kLayoutPixels)};
    return package;
}

base::Status writeStandardCertificate(const StandardCertificateJob &job,
                                      const base::Progress &progress)
{
    if (const base::Status st = checkTarget(job.target); !st)
        return st;
    if (progress.stage)
        progress.stage(QStringLiteral("正在生成证书…"));
    const QList<ZipEntry> package = standardCertificatePackage(job);
    if (!isWordFile(job.target))
        return writeWordPdf(package, job.target, progress);
    return writeZip(job.target, package);
}

} // namespace office
