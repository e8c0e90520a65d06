#include "office/customreport.h"

#include "office/conversion.h"
#include "office/zippackage.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace office {

namespace {

// The channel field each list placeholder takes.
using ChannelField = QString storage::ChannelRow::*;
const QList<QPair<QString, ChannelField>> kChannelLists{
    {QStringLiteral("#R0201#"), &storage::ChannelRow::headtype},
    {QStringLiteral("#R0301#"), &storage::ChannelRow::chantype},
    {QStringLiteral("#R0401#"), &storage::ChannelRow::wiring},
    {QStringLiteral("#R0501#"), &storage::ChannelRow::compmode},
    {QStringLiteral("#R0601#"), &storage::ChannelRow::cjtemp},
    {QStringLiteral("#R0701#"), &storage::ChannelRow::r0},
    {QStringLiteral("#R0801#"), &storage::ChannelRow::coefa},
    {QStringLiteral("#R0901#"), &storage::ChannelRow::coefb},
    {QStringLiteral("#R1001#"), &storage::ChannelRow::coefc},
    {QStringLiteral("#R1101#"), &storage::ChannelRow::coefa4},
    {QStringLiteral("#R1201#"), &storage::ChannelRow::coefb4}};

int columnNumber(const QString &ref)
{
    int n = 0;
    for (const QChar ch : ref) {
        if (ch < QLatin1Char('A') || ch > QLatin1Char('Z'))
            break;
        n = n * 26 + (ch.unicode() - 'A' + 1);
    }
    return n;
}

QString columnName(int n)
{
    QString s;
    while (n > 0) {
        const int rem = (n - 1) % 26;
        s.prepend(QChar('A' + rem));
        n = (n - 1) / 26;
    }
    return s;
}

QString escaped(const QString &text)
{
    QString out;
    QXmlStreamWriter w(&out);
    w.writeCharacters(text);
    return out;
}

} // namespace

Placeholders placeholderValues(const CustomReportJob &job)
{
    const storage::Equipment &e = job.equipment;
    const storage::Collector &c = job.collector;
    const storage::RunHeader &h = job.header;
    Placeholders p;
    p.scalars = {
        {QStringLiteral("#R001#"), e.name},
        {QStringLiteral("#R002#"), e.address},
        {QStringLiteral("#R003#"), e.companyname},
        {QStringLiteral("#R004#"), e.type},
        {QStringLiteral("#R005#"), e.model},
        {QStringLiteral("#R006#"), e.equipmodel},
        {QStringLiteral("#R007#"), e.temnum},
        {QStringLiteral("#R008#"), e.humnum},
        {QStringLiteral("#R009#"), h.envtem},
        {QStringLiteral("#R0010#"), h.envhum},
        {QStringLiteral("#R0011#"), e.madecompanyname},
        {QStringLiteral("#R0012#"), e.temdown + QLatin1Char('-') + e.temup},
        {QStringLiteral("#R0013#"), e.humdown + QLatin1Char('-') + e.humup},
        {QStringLiteral("#R0014#"), QString::number(results::pointCount(h))},
        {QStringLiteral("#R0015#"), h.temset},
        {QStringLiteral("#R0016#"), h.humset},
        {QStringLiteral("#R0017#"), c.num},
        {QStringLiteral("#R0018#"), c.name},
        {QStringLiteral("#R0019#"), c.type},
        {QStringLiteral("#R0020#"), c.serialnum},
        {QStringLiteral("#R0021#"), c.zqtem},
        {QStringLiteral("#R0022#"), c.zqhum},
        {QStringLiteral("#R0023#"), c.cltem},
        {QStringLiteral("#R0024#"), c.clhum},
        {QStringLiteral("#R0025#"), c.zhengshu},
        {QStringLiteral("#R0026#"), c.temnosure},
        {QStringLiteral("#R0027#"), c.temnosurek},
        {QStringLiteral("#R0028#"), c.todata},
    };
    // The calibration's own channels, the empty entry after the last ";"
    // included; each channel's row looked up in its own collector's table.
    const QStringList numbers = h.chanlist.split(QLatin1Char(';'));
    p.lists.insert(QStringLiteral("#R0101#"), numbers);
    const results::ChannelLayout layout = results::ChannelLayout::fromHeader(h);
    QList<storage::ChannelRow> rows;
    for (int j = 0; j < numbers.size(); ++j) {
        storage::ChannelRow found;
        const QString number = numbers[j].trimmed();
        if (!number.isEmpty()) {
            const bool two = j < layout.collectors.size() && layout.collectors[j] == 2;
            for (const storage::ChannelRow &r : two ? job.channelsB : job.channelsA)
                if (r.num.trimmed() == number) {
                    found = r;
                    break;
                }
        }
        rows << found;
    }
    for (const auto &list : kChannelLists) {
        QStringList entries;
        for (const storage::ChannelRow &r : rows)
            entries << r.*(list.second);
        p.lists.insert(list.first, entries);
    }
    return p;
}

QStringList readSharedStrings(const QByteArray &xml)
{
    QStringList out;
    QXmlStreamReader r(xml);
    QString current;
    int depth = 0; // inside <si>
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            if (r.name() == QLatin1String("si")) {
                depth = 1;
                current.clear();
            } else if (depth > 0 && r.name() == QLatin1String("rPh")) {
                r.skipCurrentElement(); // phonetic hints are not the text
            } else if (depth > 0 && r.name() == QLatin1String("t")) {
                current += r.readElementText();
            }
        } else if (r.isEndElement() && r.name() == QLatin1String("si")) {
            out << current;
            depth = 0;
        }
    }
    return out;
}

base::Result<QByteArray> fillSheetXml(const QByteArray &sheetXml,
                                         const QStringList &sharedStrings,
                                         const Placeholders &values)
{
    using R = base::Result<QByteArray>;
    struct Cell
    {
        QString raw;   // as in the file; empty for a cell written anew
        QString style; // the s attribute
        QString text;  // what the cell shows, as text
        bool changed = false;
    };
    struct Row
    {
        qint64 start = 0, end = 0;
        QString prefix;
        QXmlStreamAttributes attributes;
        QMap<int, Cell> cells;
        bool changed = false;
    };
    const QString doc = QString::fromUtf8(sheetXml);
    QXmlStreamReader r(doc);
    QMap<int, Row> rows; // rows 1..30
    int rowNumber = 0;
    Row *row = nullptr;
    int column = 0;
    qint64 before = 0;
    qint64 cellStart = 0;
    Cell cell;
    int cellColumn = 0;
    QString cellType;
    bool inCell = false;
    while (!r.atEnd()) {
        before = r.characterOffset();
        r.readNext();
        if (r.hasError())
            break;
        if (r.isStartElement()) {
            const auto name = r.name();
            if (name == QLatin1String("row")) {
                const QString n = r.attributes().value(QStringLiteral("r")).toString();
                rowNumber = n.isEmpty() ? rowNumber + 1 : n.toInt();
                column = 0;
                row = nullptr;
                if (rowNumber >= 1 && rowNumber <= 30) {
                    row = &rows[rowNumber];
                    row->start = before;
                    row->prefix = r.prefix().toString();
                    row->attributes = r.attributes();
                }
            } else if (name == QLatin1String("c") && row) {
                const QString ref = r.attributes().value(QStringLiteral("r")).toString();
                cellColumn = ref.isEmpty() ? column + 1 : columnNumber(ref);
                column = cellColumn;
                cell = Cell();
                cell.style = r.attributes().value(QStringLiteral("s")).toString();
                cellType = r.attributes().value(QStringLiteral("t")).toString();
                cellStart = before;
                inCell = true;
            } else if (inCell && name == QLatin1String("v")) {
                const QString v = r.readElementText();
                cell.text = cellType == QLatin1String("s") ? sharedStrings.value(v.toInt()) : v;
            } else if (inCell && name == QLatin1String("t")) {
                cell.text += r.readElementText();
            }
        } else if (r.isEndElement()) {
            if (inCell && r.name() == QLatin1String("c")) {
                inCell = false;
                cell.raw = doc.mid(int(cellStart), int(r.characterOffset() - cellStart));
                row->cells.insert(cellColumn, cell);
            } else if (row && r.name() == QLatin1String("row")) {
                row->end = r.characterOffset();
                row = nullptr;
            }
        }
    }
    if (r.hasError())
        return R::failure(QStringLiteral("模板第一张工作表的内容有错误（第 %1 行）：%2")
                              .arg(r.lineNumber())
                              .arg(r.errorString()));

    auto write = [&](Row &target, int col, const QString &text) {
        Cell &c = target.cells[col]; // a missing cell is made, unformatted
        c.text = text;
        c.changed = true;
        target.changed = true;
    };
    // Row by row, column by column: an entry written to the right may cover
    // a later placeholder of the same row, which is then not replaced.
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        Row &rw = it.value();
        for (int col = 1; col <= 30; ++col) {
            const auto found = rw.cells.constFind(col);
            if (found == rw.cells.constEnd() || !found->text.startsWith(QLatin1Char('#')))
                continue;
            const QString key = found->text;
            if (values.lists.contains(key)) {
                const QStringList entries = values.lists.value(key);
                for (int k = 0; k < entries.size(); ++k)
                    write(rw, col + k, entries[k]);
            } else {
                write(rw, col, values.scalars.value(key));
            }
        }
    }

    static const QRegularExpression number(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?$"));
    QString out;
    out.reserve(doc.size() + 4096);
    qint64 at = 0;
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        const Row &rw = it.value();
        if (!rw.changed)
            continue;
        const QString p = rw.prefix.isEmpty() ? QString() : rw.prefix + QLatin1Char(':');
        out.append(doc.constData() + at, int(rw.start - at));
        out += QLatin1Char('<') + p + QStringLiteral("row");
        for (const QXmlStreamAttribute &a : rw.attributes) {
            // The spans hint may no longer hold.
            if (a.qualifiedName() == QLatin1String("spans"))
                continue;
            out +=
                QLatin1Char(' ') + a.qualifiedName().toString() + QStringLiteral("=\"") +
                escaped(a.value().toString()).replace(QLatin1Char('"'), QStringLiteral("&quot;")) +
                QLatin1Char('"');
        }
        out += QLatin1Char('>');
        for (auto c = rw.cells.constBegin(); c != rw.cells.constEnd(); ++c) {
            if (!c->changed) {
                out += c->raw;
                continue;
            }
            const QString ref = columnName(c.key()) + QString::number(it.key());
            QString open = QLatin1Char('<') + p + QStringLiteral("c r=\"") + ref + QLatin1Char('"');
            if (!c->style.isEmpty())
                open += QStringLiteral(" s=\"") + c->style + QLatin1Char('"');
            if (c->text.isEmpty())
                out += open + QStringLiteral("/>");
            else if (number.match(c->text).hasMatch())
                out += open + QStringLiteral("><") + p + QStringLiteral("v>") + c->text +
                       QStringLiteral("</") + p + QStringLiteral("v></") + p + QStringLiteral("c>");
            else
                out += open + QStringLiteral(" t=\"inlineStr\"><") + p + QStringLiteral("is><") +
                       p + QStringLiteral("t xml:space=\"preserve\">") + escaped(c->text) +
                       QStringLiteral("</") + p + QStringLiteral("t></") + p +
                       QStringLiteral("is></") + p + QStringLiteral("c>");
        }
        out += QStringLiteral("</") + p + QStringLiteral("row>");
        at = rw.end;
    }
    out.append(doc.constData() + at, int(doc.size() - at));
    R result;
    result.value = out.toUtf8();
    return result;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// The first sheet's part in the package, from the workbook and its relations.
static QString firstSheetPart(const QList<ZipEntry> &entries)
{
    QByteArray workbook, rels;
    for (const ZipEntry &e : entries) {
        if (e.name == QLatin1String("xl/workbook.xml"))
            workbook = e.data;
        else if (e.name == QLatin1String("xl/_rels/workbook.xml.rels"))
            rels = e.data;
    }
    QString id;
    QXmlStreamReader w(workbook);
    while (!w.atEnd() && id.isEmpty()) {
        w.readNext();
        if (w.isStartElement() && w.name() == QLatin1String("sheet"))
            for (const QXmlStreamAttribute &a : w.attributes())
                if (a.name() == QLatin1String("id"))
                    id = a.value().toString();
    }
    QXmlStreamReader r(rels);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("Relationship") &&
            r.attributes().value(QStringLiteral("Id")) == id) {
            QString target = r.attributes().value(QStringLiteral("Target")).toString();
            if (target.startsWith(QLatin1Char('/')))
                return target.mid(1);
            return QStringLiteral("xl/") + target;
        }
    }
    return QString();
}

base::Status writeCustomReport(const CustomReportJob &job, const Progress &progress)
{
    using base::Status;
    const Status cancelled = Status::failure(QStringLiteral("已取消"));
    if (job.templatePath.isEmpty() || !QFileInfo(job.templatePath).isFile())
        return Status::failure(
            QStringLiteral("找不到模板文件 %1").arg(QDir::toNativeSeparators(job.templatePath)));
    if (sameFile(job.templatePath, job.target))
        return Status::failure(QStringLiteral("不能把报表保存到模板文件本身。"));
    if (const Status st = checkTarget(job.target); !st)
        return st;
    if (findSoffice().isEmpty())
        return Status::failure(sofficeMissingText(false));
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-report-XXXXXX"));
    if (!dir.isValid())
        return Status::failure(QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QString copy = dir.path() + QStringLiteral("/template.xls");
    if (!QFile::copy(job.templatePath, copy))
        return Status::failure(QStringLiteral("不能读取模板 %1").arg(job.templatePath));

    if (progress.stage)
        progress.stage(QStringLiteral("正在读取模板…"));
    Conversion toXlsx(copy, QStringLiteral("xlsx"), job.timeoutMs);
    QString error;
    if (!toXlsx.run(&error, progress.cancel))
        return Status::failure(error);
    if (progress.cancelled())
        return cancelled;
    base::Result<QList<ZipEntry>> package = readZip(toXlsx.output());
    if (!package)
        return package.status();
    const QString sheet = firstSheetPart(package.value);
    QStringList shared;
    for (const ZipEntry &e : package.value)
        if (e.name == QLatin1String("xl/sharedStrings.xml"))
            shared = readSharedStrings(e.data);
    const Placeholders values = placeholderValues(job);
    const base::Result<bool> patched = fillEntry(
        package.value, sheet, [&](const QByteArray &xml) { return fillSheetXml(xml, shared, values); });
    if (!patched)
        return patched.status();
    if (!patched.value)
        return Status::failure(QStringLiteral("模板里找不到第一张工作表"));
    const QString filled = dir.path() + QStringLiteral("/report.xlsx");
    if (const Status st = writeZip(filled, package.value); !st)
        return st;

    if (progress.stage)
        progress.stage(QStringLiteral("正在保存为 .xls…"));
    Conversion toXls(filled, QStringLiteral("xls:MS Excel 97"), job.timeoutMs);
    if (!toXls.run(&error, progress.cancel))
        return Status::failure(error);
    if (progress.cancelled())
        return cancelled;
    return replaceFile(toXls.output(), job.target);
}

} // namespace office
