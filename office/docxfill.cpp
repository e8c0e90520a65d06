#include "office/docxfill.h"

#include "office/zippackage.h"

#include <QHash>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace office {

static const QString kW =
    QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");

namespace {

bool isBlockContainer(const QString &ns, const QString &name)
{
    static const QStringList blocks{"body", "tc",      "sdtContent", "txbxContent", "hdr",
                                    "ftr",  "comment", "footnote",   "endnote"};
    return ns == kW && blocks.contains(name);
}

// Fragments in the document's own prefix for the WordprocessingML namespace;
// the writer takes care of escaping the texts.
class Fragment
{
public:
    explicit Fragment(const QString &prefix)
        : m_w(&m_text), m_p(prefix.isEmpty() ? prefix : prefix + QLatin1Char(':'))
    {
    }
    void raw(const QString &xml) { m_text += xml; }
    void run(const QString &rPr, const QString &text, bool breakAfter)
    {
        raw(QLatin1Char('<') + m_p + QStringLiteral("r>") + rPr);
        if (!text.isEmpty()) {
            raw(QLatin1Char('<') + m_p + QStringLiteral("t xml:space=\"preserve\">"));
            m_w.writeCharacters(printable(text));
            raw(QStringLiteral("</") + m_p + QStringLiteral("t>"));
        }
        if (breakAfter)
            raw(QLatin1Char('<') + m_p + QStringLiteral("br/>"));
        raw(QStringLiteral("</") + m_p + QStringLiteral("r>"));
    }
    void openParagraph(const QString &pPr)
    {
        raw(QLatin1Char('<') + m_p + QStringLiteral("p>") + pPr);
    }
    void closeParagraph() { raw(QStringLiteral("</") + m_p + QStringLiteral("p>")); }
    QString text() const { return m_text; }

private:
    // Characters XML 1.0 cannot carry are dropped (tabs and line ends stay).
    static QString printable(const QString &text)
    {
        QString out;
        out.reserve(text.size());
        for (const QChar c : text)
            if (c.unicode() >= 0x20 || c == QLatin1Char('\t'))
                out += c;
        return out;
    }

    QString m_text;
    QXmlStreamWriter m_w;
    QString m_p;
};

// `pPr` without a section break: a new paragraph must not start a section.
QString withoutSection(QString pPr, const QString &prefix)
{
    const QString open = QLatin1Char('<') +
                         (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')) +
                         QStringLiteral("sectPr");
    const QString close = QStringLiteral("</") +
                          (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')) +
                          QStringLiteral("sectPr>");
    const int from = pPr.indexOf(open);
    if (from < 0)
        return pPr;
    const int to = pPr.indexOf(close, from);
    if (to < 0)
        return pPr;
    return pPr.remove(from, to + close.size() - from);
}

// `pPr` with keep-with-next added (after the style, where the schema
// wants it).
QString keepingWithNext(const QString &pPr, const QString &prefix)
{
    const QString p = prefix.isEmpty() ? QString() : prefix + QLatin1Char(':');
    const QString keep = QLatin1Char('<') + p + QStringLiteral("keepNext/>");
    if (pPr.isEmpty())
        return QLatin1Char('<') + p + QStringLiteral("pPr>") + keep + QStringLiteral("</") + p +
               QStringLiteral("pPr>");
    if (pPr.contains(keep))
        return pPr;
    const QString styleOpen = QLatin1Char('<') + p + QStringLiteral("pStyle");
    int at = pPr.indexOf(styleOpen);
    if (at >= 0) {
        at = pPr.indexOf(QLatin1Char('>'), at) + 1;
    } else {
        at = pPr.indexOf(QLatin1Char('>')) + 1;
        if (pPr.endsWith(QStringLiteral("/>")) && at == pPr.size()) // an empty <w:pPr/>
            return QLatin1Char('<') + p + QStringLiteral("pPr>") + keep + QStringLiteral("</") + p +
                   QStringLiteral("pPr>");
    }
    return pPr.left(at) + keep + pPr.mid(at);
}

} // namespace

base::Result<QByteArray>
fillDocumentXml(const QByteArray &xml, const QList<Insertion> &insertions, QStringList *missing)
{
    using R = base::Result<QByteArray>;
    // Texts per bookmark in document order: the last inserted comes first.
    QHash<QString, QStringList> texts;
    QStringList order;
    for (const Insertion &i : insertions) {
        if (!texts.contains(i.bookmark))
            order << i.bookmark;
        texts[i.bookmark].prepend(i.text);
    }
    QStringList found;

    // The document is read as a stream; everything it holds is copied as it
    // is, and the texts are spliced in where their bookmarks start.
    const QString doc = QString::fromUtf8(xml);
    QXmlStreamReader r(doc);
    struct Element
    {
        QString ns, name, prefix;
        qint64 start;     // offset of its start tag
        QString bookmark; // w:name of a bookmarkStart
    };
    QVector<Element> stack;
    QString pPr, rPr; // raw properties of the current paragraph
    QList<QPair<qint64, QString>> splices;
    qint64 before = 0; // offset where the current token begins
    while (!r.atEnd()) {
        before = r.characterOffset();
        r.readNext();
        if (r.hasError())
            break;
        if (r.isStartElement()) {
            const QString ns = r.namespaceUri().toString();
            const QString name = r.name().toString();
            if (ns == kW && name == QLatin1String("p")) {
                pPr.clear();
                rPr.clear();
            }
            QString bookmark;
            if (ns == kW && name == QLatin1String("bookmarkStart"))
                bookmark = r.attributes().value(kW, QStringLiteral("name")).toString();
            stack.append(Element{ns, name, r.prefix().toString(), before, bookmark});
            continue;
        }
        if (!r.isEndElement())
            continue;
        const Element closed = stack.takeLast();
        const qint64 after = r.characterOffset();
        const Element parent = stack.isEmpty() ? Element() : stack.last();
        if (closed.ns == kW && closed.name == QLatin1String("pPr") && parent.ns == kW &&
            parent.name == QLatin1String("p")) {
            pPr = doc.mid(int(closed.start), int(after - closed.start));
        } else if (closed.ns == kW && closed.name == QLatin1String("rPr") && parent.ns == kW &&
                   parent.name == QLatin1String("pPr")) {
            rPr = doc.mid(int(closed.start), int(after - closed.start));
        }
        if (closed.ns != kW || closed.name != QLatin1String("bookmarkStart"))
            continue;
        const QString name = closed.bookmark;
        if (!texts.contains(name) || found.contains(name))
            continue;
        found << name;
        const QStringList lines = texts.value(name).join(QString()).split(QLatin1Char('\n'));
        Fragment f(closed.prefix);
        if (parent.ns == kW && parent.name == QLatin1String("p")) {
            // Each further line starts a paragraph of its own. Lines up to a
            // gap of two or more empty lines are one block (a point's lines,
            // with single empty lines inside): each keeps with the next, so
            // a block is never split across two pages.
            const QString props = withoutSection(pPr, closed.prefix);
            const QString kept = keepingWithNext(props, closed.prefix);
            for (int i = 0; i < lines.size(); ++i) {
                if (i > 0) {
                    f.closeParagraph();
                    const bool gapFollows =
                        i + 1 >= lines.size() ||
                        (lines[i + 1].isEmpty() && (i + 2 >= lines.size() || lines[i + 2].isEmpty()));
                    const bool block = !gapFollows && !(lines[i].isEmpty() && lines[i + 1].isEmpty());
                    f.openParagraph(block ? kept : props);
                }
                if (!lines[i].isEmpty())
                    f.run(rPr, lines[i], false);
            }
        } else if (isBlockContainer(parent.ns, parent.name)) {
            for (const QString &line : lines) {
                f.openParagraph(QString());
                if (!line.isEmpty())
                    f.run(QString(), line, false);
                f.closeParagraph();
            }
        } else {
            // Inside a hyperlink, a field or a tracked change: runs with line breaks.
            for (int i = 0; i < lines.size(); ++i)
                f.run(rPr, lines[i], i + 1 < lines.size());
        }
        splices << qMakePair(after, f.text());
    }
    if (r.hasError())
        return R::failure(QStringLiteral("模板的 word/document.xml 有错误（第 %1 行）：%2")
                              .arg(r.lineNumber())
                              .arg(r.errorString()));
    QString out;
    out.reserve(doc.size() + 1024);
    qint64 at = 0;
    for (const auto &s : splices) {
        out.append(doc.constData() + at, int(s.first - at));
        out += s.second;
        at = s.first;
    }
    out.append(doc.constData() + at, int(doc.size() - at));
    if (missing) {
        missing->clear();
        for (const QString &b : order)
            if (!found.contains(b))
                *missing << b;
    }
    R result;
    result.value = out.toUtf8();
    return result;
}

base::Status fillDocx(const QString &templatePath, const QString &outPath,
                         const QList<Insertion> &insertions, QStringList *missing)
{
    base::Result<QList<ZipEntry>> package = readZip(templatePath);
    if (!package)
        return package.status();
    const base::Result<bool> filled =
        fillEntry(package.value, QStringLiteral("word/document.xml"), [&](const QByteArray &xml) {
            return fillDocumentXml(xml, insertions, missing);
        });
    if (!filled)
        return filled.status();
    if (!filled.value)
        return base::Status::failure(
            QStringLiteral("%1 不是 Word 文档：缺少 word/document.xml").arg(templatePath));
    // libzip writes a temporary file beside the target and renames it when
    // everything is written, so a failure leaves no half file.
    return writeZip(outPath, package.value);
}

} // namespace office
