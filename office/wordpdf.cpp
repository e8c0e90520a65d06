#include "office/wordpdf.h"

#include "office/conversionfonts.h"
#include "office/templatesums.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <array>
#include <cmath>

namespace office {

namespace {

const QString kW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString kR =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// ---- a small tree of the property elements (pPr, rPr, tblPr, ...) ----

struct Node
{
    QString name;
    QHash<QString, QString> attrs; // by local name
    QVector<Node> kids;

    const Node *child(const char *n) const
    {
        for (const Node &k : kids)
            if (k.name == QLatin1String(n))
                return &k;
        return nullptr;
    }
    QString attr(const char *n) const { return attrs.value(QLatin1String(n)); }
    int number(const char *n, int otherwise = 0) const
    {
        bool ok = false;
        const int v = attr(n).toInt(&ok);
        return ok ? v : otherwise;
    }
    // An on/off property: present and not "0", "false" or "off".
    bool on() const
    {
        const QString v = attr("val");
        return v.isEmpty() || !(v == QLatin1String("0") || v == QLatin1String("false") ||
                                v == QLatin1String("off") || v == QLatin1String("none"));
    }
};

Node readNode(QXmlStreamReader &x)
{
    Node n;
    n.name = x.name().toString();
    for (const QXmlStreamAttribute &a : x.attributes())
        n.attrs.insert(a.name().toString(), a.value().toString());
    while (x.readNextStartElement())
        n.kids << readNode(x);
    return n;
}

// ---- properties ----

enum class Align { Left, Center, Right };
enum class LineRule { Auto, AtLeast, Exact };

FontFace faceNamed(const QString &name)
{
    static const QStringList sans{QStringLiteral("黑体"), QStringLiteral("SimHei"),
                                  QStringLiteral("Arial"), QStringLiteral("微软雅黑"),
                                  QStringLiteral("Helvetica")};
    static const QStringList mono{QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
                                  QStringLiteral("Courier New"), QStringLiteral("仿宋")};
    if (mono.contains(name) || name.contains(QLatin1String("Mono")))
        return FontFace::Mono;
    if (sans.contains(name) || name.contains(QLatin1String("Sans")))
        return FontFace::Sans;
    return FontFace::Serif;
}

struct RunStyle
{
    FontFace latin = FontFace::Serif, eastAsian = FontFace::Serif;
    bool bold = false, hidden = false;
    int halfPoints = 21;
    QRgb color = qRgb(0, 0, 0);
    int spacing = 0; // twips between characters
};

void applyRun(const Node &rPr, RunStyle &s)
{
    for (const Node &k : rPr.kids) {
        if (k.name == QLatin1String("rFonts")) {
            const QString latin = k.attr("ascii").isEmpty() ? k.attr("hAnsi") : k.attr("ascii");
            if (!latin.isEmpty())
                s.latin = faceNamed(latin);
            if (!k.attr("eastAsia").isEmpty())
                s.eastAsian = faceNamed(k.attr("eastAsia"));
        } else if (k.name == QLatin1String("b")) {
            s.bold = k.on();
        } else if (k.name == QLatin1String("vanish")) {
            s.hidden = k.on();
        } else if (k.name == QLatin1String("sz")) {
            s.halfPoints = qBound(2, k.number("val", s.halfPoints), 3276);
        } else if (k.name == QLatin1String("color")) {
            const QString v = k.attr("val");
            s.color = v.size() == 6 ? QColor(QLatin1Char('#') + v).rgb() : qRgb(0, 0, 0);
        } else if (k.name == QLatin1String("spacing")) {
            s.spacing = qBound(-200, k.number("val"), 2000);
        }
    }
}

struct ParaStyle
{
    Align align = Align::Left;
    int before = 0, after = 0, line = 240;
    LineRule rule = LineRule::Auto;
    bool keepNext = false, keepLines = false, breakBefore = false, widowControl = true;
    int borderBottom = 0; // its width in twips, 0: none
    QVector<int> rightTabs;
    int left = 0, right = 0, firstLine = 0;
    RunStyle run;
};

void applyPara(const Node &pPr, ParaStyle &p)
{
    for (const Node &k : pPr.kids) {
        if (k.name == QLatin1String("jc")) {
            const QString v = k.attr("val");
            p.align = v == QLatin1String("center")                               ? Align::Center
                      : v == QLatin1String("right") || v == QLatin1String("end") ? Align::Right
                                                                                 : Align::Left;
        } else if (k.name == QLatin1String("spacing")) {
            p.before = qMax(0, k.number("before", p.before));
            p.after = qMax(0, k.number("after", p.after));
            p.line = qBound(1, k.number("line", p.line), 20000);
            const QString rule = k.attr("lineRule");
            if (rule == QLatin1String("atLeast"))
                p.rule = LineRule::AtLeast;
            else if (rule == QLatin1String("exact"))
                p.rule = LineRule::Exact;
            else if (rule == QLatin1String("auto"))
                p.rule = LineRule::Auto;
        } else if (k.name == QLatin1String("keepNext")) {
            p.keepNext = k.on();
        } else if (k.name == QLatin1String("widowControl")) {
            p.widowControl = k.on();
        } else if (k.name == QLatin1String("keepLines")) {
            p.keepLines = k.on();
        } else if (k.name == QLatin1String("pageBreakBefore")) {
            p.breakBefore = k.on();
        } else if (k.name == QLatin1String("pBdr")) {
            if (const Node *b = k.child("bottom"))
                p.borderBottom = b->on() ? qMax(1, b->number("sz", 4) * 5 / 2) : 0;
        } else if (k.name == QLatin1String("tabs")) {
            for (const Node &t : k.kids)
                if (t.attr("val") == QLatin1String("right") ||
                    t.attr("val") == QLatin1String("end"))
                    p.rightTabs << t.number("pos");
        } else if (k.name == QLatin1String("ind")) {
            p.left = k.number("left", k.number("start", p.left));
            p.right = k.number("right", k.number("end", p.right));
            if (!k.attr("firstLine").isEmpty())
                p.firstLine = k.number("firstLine");
            if (!k.attr("hanging").isEmpty())
                p.firstLine = -k.number("hanging");
        }
    }
}

struct Border
{
    int width = 0; // twips; 0: none
};

struct TableLook
{
    std::array<Border, 6> borders; // top, left, bottom, right, insideH, insideV
    int marginTop = 0, marginBottom = 0, marginLeft = 108, marginRight = 108;
    Align align = Align::Left;
    int indent = 0;
};

void applyTable(const Node &tblPr, TableLook &t)
{
    static const char *const sides[] = {"top", "left", "bottom", "right", "insideH", "insideV"};
    static const char *const logical[] = {"top", "start", "bottom", "end", "insideH", "insideV"};
    for (const Node &k : tblPr.kids) {
        if (k.name == QLatin1String("tblBorders")) {
            for (int i = 0; i < 6; ++i) {
                const Node *b = k.child(sides[i]);
                if (!b)
                    b = k.child(logical[i]);
                if (b)
                    t.borders[size_t(i)].width = b->on() && b->attr("val") != QLatin1String("nil")
                                                     ? qMax(1, b->number("sz", 4) * 5 / 2)
                                                     : 0;
            }
        } else if (k.name == QLatin1String("tblCellMar")) {
            for (const Node &m : k.kids) {
                const int w = m.number("w");
                if (m.name == QLatin1String("top"))
                    t.marginTop = w;
                else if (m.name == QLatin1String("bottom"))
                    t.marginBottom = w;
                else if (m.name == QLatin1String("left") || m.name == QLatin1String("start"))
                    t.marginLeft = w;
                else if (m.name == QLatin1String("right") || m.name == QLatin1String("end"))
                    t.marginRight = w;
            }
        } else if (k.name == QLatin1String("jc")) {
            const QString v = k.attr("val");
            t.align = v == QLatin1String("center")                               ? Align::Center
                      : v == QLatin1String("right") || v == QLatin1String("end") ? Align::Right
                                                                                 : Align::Left;
        } else if (k.name == QLatin1String("tblInd")) {
            t.indent = k.number("w");
        }
    }
}

// ---- styles ----

struct StyleDef
{
    QString type, basedOn;
    Node pPr, rPr, tblPr;
};

class Styles
{
public:
    void read(const QByteArray &xml)
    {
        QXmlStreamReader x(xml);
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == QLatin1String("docDefaults")) {
                const Node d = readNode(x);
                if (const Node *r = d.child("rPrDefault"))
                    if (const Node *rPr = r->child("rPr"))
                        applyRun(*rPr, m_defaults.run);
                if (const Node *p = d.child("pPrDefault"))
                    if (const Node *pPr = p->child("pPr"))
                        applyPara(*pPr, m_defaults);
            } else if (x.name() == QLatin1String("style")) {
                const Node s = readNode(x);
                StyleDef def;
                def.type = s.attr("type");
                if (const Node *b = s.child("basedOn"))
                    def.basedOn = b->attr("val");
                for (const Node &k : s.kids) {
                    if (k.name == QLatin1String("pPr"))
                        def.pPr = k;
                    else if (k.name == QLatin1String("rPr"))
                        def.rPr = k;
                    else if (k.name == QLatin1String("tblPr"))
                        def.tblPr = k;
                }
                const QString id = s.attr("styleId");
                if (s.attr("default") == QLatin1String("1")) {
                    if (def.type == QLatin1String("paragraph"))
                        m_defaultParagraph = id;
                    else if (def.type == QLatin1String("table"))
                        m_defaultTable = id;
                }
                m_defs.insert(id, def);
            }
        }
    }

    ParaStyle paragraph(const QString &id) const
    {
        ParaStyle p = m_defaults;
        chain(id.isEmpty() ? m_defaultParagraph : id, [&](const StyleDef &d) {
            applyPara(d.pPr, p);
            applyRun(d.rPr, p.run);
        });
        return p;
    }
    void character(const QString &id, RunStyle &s) const
    {
        chain(id, [&](const StyleDef &d) { applyRun(d.rPr, s); });
    }
    TableLook table(const QString &id) const
    {
        TableLook t;
        chain(id.isEmpty() ? m_defaultTable : id,
              [&](const StyleDef &d) { applyTable(d.tblPr, t); });
        return t;
    }

private:
    // Applies the style's ancestors first, then the style.
    template <typename F> void chain(const QString &id, F apply) const
    {
        QVector<const StyleDef *> order;
        QString at = id;
        while (!at.isEmpty() && order.size() < 20) {
            const auto it = m_defs.constFind(at);
            if (it == m_defs.constEnd())
                break;
            order.prepend(&it.value());
            at = it->basedOn;
        }
        for (const StyleDef *d : order)
            apply(*d);
    }

    QHash<QString, StyleDef> m_defs;
    ParaStyle m_defaults;
    QString m_defaultParagraph, m_defaultTable;
};

// ---- the document ----

struct Piece
{
    enum Kind { Text, Tab, LineBreak, PageBreak, PageField, PagesField, Picture } kind = Text;
    RunStyle style;
    QString text;
    QImage picture;
    int width = 0, height = 0; // a picture's, twips
};

struct Paragraph
{
    ParaStyle style;
    QVector<Piece> pieces;
};

struct Cell
{
    int span = 1;
    bool continued = false; // merged with the cell above
    bool filled = false;
    QRgb fill = 0;
    int vAlign = 0; // 0 top, 1 centre, 2 bottom
    QVector<Paragraph> paragraphs;
};

struct Row
{
    bool heading = false;
    int height = 0;
    bool exact = false;
    QVector<Cell> cells;
};

struct Table
{
    TableLook look;
    QVector<int> grid;
    QVector<Row> rows;
};

struct Block
{
    bool isTable = false;
    Paragraph paragraph;
    Table table;
};

struct Section
{
    int pageW = 11906, pageH = 16838;
    int top = 1440, bottom = 1440, left = 1440, right = 1440, header = 720, footer = 720;
    QString headerId, footerId;
};

class Reader
{
public:
    Reader(const Styles &styles, const QHash<QString, QByteArray> &media)
        : m_styles(styles), m_media(media)
    {
    }

    QVector<Block> blocks(const QByteArray &xml, Section *section, QString *error)
    {
        QVector<Block> out;
        QXmlStreamReader x(xml);
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == QLatin1String("body") || x.name() == QLatin1String("hdr") ||
                x.name() == QLatin1String("ftr")) {
                readBlocks(x, out, section);
                break;
            }
        }
        if (x.hasError() && error)
            *error = QStringLiteral("第 %1 行：%2").arg(x.lineNumber()).arg(x.errorString());
        return out;
    }

private:
    void readBlocks(QXmlStreamReader &x, QVector<Block> &out, Section *section)
    {
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("p")) {
                Block b;
                b.paragraph = readParagraph(x);
                out << b;
            } else if (x.name() == QLatin1String("tbl")) {
                Block b;
                b.isTable = true;
                b.table = readTable(x);
                out << b;
            } else if (x.name() == QLatin1String("sectPr") && section) {
                readSection(readNode(x), section);
            } else if (x.name() == QLatin1String("sdt") ||
                       x.name() == QLatin1String("sdtContent") ||
                       x.name() == QLatin1String("customXml")) {
                readBlocks(x, out, section);
            } else {
                x.skipCurrentElement();
            }
        }
    }

    static void readSection(const Node &s, Section *section)
    {
        if (const Node *size = s.child("pgSz")) {
            section->pageW = qBound(1440, size->number("w", section->pageW), 31680);
            section->pageH = qBound(1440, size->number("h", section->pageH), 31680);
        }
        if (const Node *m = s.child("pgMar")) {
            section->top = qBound(0, m->number("top", section->top), section->pageH / 3);
            section->bottom = qBound(0, m->number("bottom", section->bottom), section->pageH / 3);
            section->left = qBound(0, m->number("left", section->left), section->pageW / 3);
            section->right = qBound(0, m->number("right", section->right), section->pageW / 3);
            section->header = qBound(0, m->number("header", section->header), section->pageH / 3);
            section->footer = qBound(0, m->number("footer", section->footer), section->pageH / 3);
        }
        for (const Node &k : s.kids) {
            const bool isDefault =
                k.attr("type").isEmpty() || k.attr("type") == QLatin1String("default");
            if (k.name == QLatin1String("headerReference") && isDefault)
                section->headerId = k.attr("id");
            else if (k.name == QLatin1String("footerReference") && isDefault)
                section->footerId = k.attr("id");
        }
    }

    Paragraph readParagraph(QXmlStreamReader &x)
    {
        Paragraph p;
        p.style = m_styles.paragraph(QString());
        m_field = Field();
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("pPr")) {
                const Node pPr = readNode(x);
                if (const Node *id = pPr.child("pStyle")) {
                    p.style = m_styles.paragraph(id->attr("val"));
                }
                applyPara(pPr, p.style);
            } else {
                readInline(x, p);
            }
        }
        return p;
    }

    // Runs and what holds runs (hyperlinks, fields, insertions).
    void readInline(QXmlStreamReader &x, Paragraph &p)
    {
        const QStringRefOrView name = x.name();
        if (name == QLatin1String("r")) {
            readRun(x, p);
        } else if (name == QLatin1String("fldSimple")) {
            const QString instr = x.attributes().value(kW, QStringLiteral("instr")).toString();
            const Piece::Kind kind = fieldKind(instr);
            if (kind == Piece::Text) {
                while (x.readNextStartElement())
                    readInline(x, p);
                return;
            }
            Paragraph inner;
            inner.style = p.style;
            while (x.readNextStartElement())
                readInline(x, inner);
            Piece f;
            f.kind = kind;
            f.style = inner.pieces.isEmpty() ? p.style.run : inner.pieces.first().style;
            p.pieces << f;
        } else if (name == QLatin1String("hyperlink") || name == QLatin1String("ins") ||
                   name == QLatin1String("smartTag") || name == QLatin1String("sdt") ||
                   name == QLatin1String("sdtContent") || name == QLatin1String("customXml")) {
            while (x.readNextStartElement())
                readInline(x, p);
        } else {
            x.skipCurrentElement(); // bookmarks, deletions, proofing marks
        }
    }

    using QStringRefOrView = decltype(std::declval<QXmlStreamReader>().name());

    static Piece::Kind fieldKind(const QString &instr)
    {
        const QString word = instr.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
        if (word == QLatin1String("PAGE"))
            return Piece::PageField;
        if (word == QLatin1String("NUMPAGES") || word == QLatin1String("SECTIONPAGES"))
            return Piece::PagesField;
        return Piece::Text;
    }

    void readRun(QXmlStreamReader &x, Paragraph &p)
    {
        RunStyle s = p.style.run;
        while (x.readNextStartElement()) {
            const QStringRefOrView name = x.name();
            if (name == QLatin1String("rPr")) {
                const Node rPr = readNode(x);
                if (const Node *id = rPr.child("rStyle"))
                    m_styles.character(id->attr("val"), s);
                applyRun(rPr, s);
                continue;
            }
            if (name == QLatin1String("fldChar")) {
                const QString type =
                    x.attributes().value(kW, QStringLiteral("fldCharType")).toString();
                if (type == QLatin1String("begin")) {
                    m_field = Field();
                    m_field.depth = 1;
                } else if (type == QLatin1String("separate") && m_field.depth == 1) {
                    m_field.kind = fieldKind(m_field.instr);
                    m_field.result = true;
                    if (m_field.kind != Piece::Text) {
                        Piece f;
                        f.kind = m_field.kind;
                        f.style = s;
                        p.pieces << f;
                    }
                } else if (type == QLatin1String("end")) {
                    m_field = Field();
                }
                x.skipCurrentElement();
                continue;
            }
            if (name == QLatin1String("instrText")) {
                m_field.instr += x.readElementText();
                continue;
            }
            // Inside a field: its instruction is not shown, nor the result of
            // a page field (drawn with its value).
            const bool shown =
                m_field.depth == 0 || (m_field.result && m_field.kind == Piece::Text);
            if (name == QLatin1String("t")) {
                const QString text = x.readElementText();
                if (shown && !s.hidden)
                    addText(p, s, text);
            } else if (name == QLatin1String("tab")) {
                x.skipCurrentElement();
                if (shown)
                    add(p, s, Piece::Tab);
            } else if (name == QLatin1String("br") || name == QLatin1String("cr")) {
                const bool page =
                    x.attributes().value(kW, QStringLiteral("type")) == QLatin1String("page");
                x.skipCurrentElement();
                if (shown)
                    add(p, s, page ? Piece::PageBreak : Piece::LineBreak);
            } else if (name == QLatin1String("noBreakHyphen")) {
                x.skipCurrentElement();
                if (shown)
                    addText(p, s, QStringLiteral("-"));
            } else if (name == QLatin1String("drawing")) {
                readDrawing(readNode(x), p, s);
            } else {
                x.skipCurrentElement();
            }
        }
    }

    static void add(Paragraph &p, const RunStyle &s, Piece::Kind kind)
    {
        Piece piece;
        piece.kind = kind;
        piece.style = s;
        p.pieces << piece;
    }
    static void addText(Paragraph &p, const RunStyle &s, const QString &text)
    {
        if (text.isEmpty())
            return;
        Piece piece;
        piece.style = s;
        piece.text = text;
        p.pieces << piece;
    }

    // An inline picture: its size (EMU) and the package's image.
    void readDrawing(const Node &d, Paragraph &p, const RunStyle &s)
    {
        const Node *in = d.child("inline");
        if (!in)
            return;
        const Node *extent = in->child("extent");
        QString embed;
        QVector<const Node *> open{in};
        while (!open.isEmpty() && embed.isEmpty()) {
            const Node *n = open.takeLast();
            if (n->name == QLatin1String("blip"))
                embed = n->attr("embed");
            for (const Node &k : n->kids)
                open << &k;
        }
        const QByteArray bytes = m_media.value(embed);
        if (!extent || bytes.isEmpty())
            return;
        Piece piece;
        piece.kind = Piece::Picture;
        piece.style = s;
        piece.width = int(extent->attr("cx").toLongLong() / 635);
        piece.height = int(extent->attr("cy").toLongLong() / 635);
        QImage image = QImage::fromData(bytes);
        if (image.isNull() || piece.width <= 0 || piece.height <= 0)
            return;
        // No transparency in an archival PDF: the picture on white.
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        piece.picture = flat;
        p.pieces << piece;
    }

    Table readTable(QXmlStreamReader &x)
    {
        Table t;
        t.look = m_styles.table(QString());
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("tblPr")) {
                const Node tblPr = readNode(x);
                if (const Node *id = tblPr.child("tblStyle"))
                    t.look = m_styles.table(id->attr("val"));
                applyTable(tblPr, t.look);
            } else if (x.name() == QLatin1String("tblGrid")) {
                for (const Node &c : readNode(x).kids)
                    t.grid << qMax(0, c.number("w"));
            } else if (x.name() == QLatin1String("tr")) {
                t.rows << readRow(x);
            } else {
                x.skipCurrentElement();
            }
        }
        return t;
    }

    Row readRow(QXmlStreamReader &x)
    {
        Row r;
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("trPr")) {
                const Node trPr = readNode(x);
                if (const Node *h = trPr.child("tblHeader"))
                    r.heading = h->on();
                if (const Node *h = trPr.child("trHeight")) {
                    r.height = qMax(0, h->number("val"));
                    r.exact = h->attr("hRule") == QLatin1String("exact");
                }
            } else if (x.name() == QLatin1String("tc")) {
                r.cells << readCell(x);
            } else {
                x.skipCurrentElement();
            }
        }
        return r;
    }

    Cell readCell(QXmlStreamReader &x)
    {
        Cell c;
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("tcPr")) {
                const Node tcPr = readNode(x);
                if (const Node *span = tcPr.child("gridSpan"))
                    c.span = qBound(1, span->number("val", 1), 64);
                if (const Node *merge = tcPr.child("vMerge"))
                    c.continued = merge->attr("val") != QLatin1String("restart");
                if (const Node *shd = tcPr.child("shd")) {
                    const QString fill = shd->attr("fill");
                    c.filled = fill.size() == 6;
                    if (c.filled)
                        c.fill = QColor(QLatin1Char('#') + fill).rgb();
                }
                if (const Node *v = tcPr.child("vAlign"))
                    c.vAlign = v->attr("val") == QLatin1String("center")   ? 1
                               : v->attr("val") == QLatin1String("bottom") ? 2
                                                                           : 0;
            } else if (x.name() == QLatin1String("p")) {
                c.paragraphs << readParagraph(x);
            } else if (x.name() == QLatin1String("tbl")) {
                // A table in a cell: its paragraphs, in order.
                const Table inner = readTable(x);
                for (const Row &r : inner.rows)
                    for (const Cell &ic : r.cells)
                        c.paragraphs << ic.paragraphs;
            } else {
                x.skipCurrentElement();
            }
        }
        return c;
    }

    struct Field
    {
        int depth = 0;
        bool result = false;
        QString instr;
        Piece::Kind kind = Piece::Text;
    };

    const Styles &m_styles;
    const QHash<QString, QByteArray> &m_media;
    Field m_field;
};

// ---- fonts ----

constexpr int kUnit = 1000; // the size glyph advances are measured at

struct Face
{
    QRawFont raw;
    qreal ascent = 0, descent = 0; // at kUnit
    QHash<uint, QPair<quint32, qreal>> glyphs;
    QHash<int, QRawFont> sized;

    QPair<quint32, qreal> glyph(uint c)
    {
        auto it = glyphs.constFind(c);
        if (it != glyphs.constEnd())
            return it.value();
        const QString s = QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
        const QVector<quint32> g = raw.glyphIndexesForString(s);
        QPair<quint32, qreal> v(g.isEmpty() ? 0 : g.first(), 0);
        if (!g.isEmpty())
            v.second = raw.advancesForGlyphIndexes(g, QRawFont::UseDesignMetrics).value(0).x();
        glyphs.insert(c, v);
        return v;
    }
    const QRawFont &at(int size)
    {
        auto it = sized.find(size);
        if (it == sized.end()) {
            QRawFont f = raw;
            f.setPixelSize(size);
            it = sized.insert(size, f);
        }
        return it.value();
    }
};

// Registers each face once per process, under a family of its own.
QString registeredFamily(FontFace face, bool bold, QString *why)
{
    static QMutex lock;
    static QHash<int, QString> families;
    const QMutexLocker held(&lock);
    const int key = int(face) * 2 + (bold ? 1 : 0);
    if (families.contains(key))
        return families.value(key);
    // From a file: the face is read as it is drawn, never held whole.
    const QString path = drawingFaceFile(face, bold, why);
    if (path.isEmpty())
        return QString();
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList names = QFontDatabase::applicationFontFamilies(id);
    if (id < 0 || names.isEmpty()) {
        *why = QStringLiteral("不能载入字体 %1").arg(path);
        return QString();
    }
    families.insert(key, names.first());
    return names.first();
}

// The faces, each loaded when first drawn with.
class Fonts
{
public:
    Face &face(FontFace f, bool bold)
    {
        const size_t key = size_t(int(f) * 2 + (bold ? 1 : 0));
        Face &face = m_faces[key];
        if (!m_tried[key]) {
            m_tried[key] = true;
            load(f, bold, face);
        }
        return face;
    }
    QString error() const { return m_error; }

private:
    void load(FontFace f, bool bold, Face &face)
    {
        QString why;
        const QString family = registeredFamily(f, bold, &why);
        if (family.isEmpty()) {
            m_error = why;
            return;
        }
        QFont font(family);
        font.setBold(bold);
        font.setPixelSize(kUnit);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging));
        face.raw = QRawFont::fromFont(font);
        if (!face.raw.isValid() || face.raw.familyName() != family) {
            m_error = QStringLiteral("不能载入字体 %1").arg(family);
            return;
        }
        face.ascent = face.raw.ascent();
        face.descent = face.raw.descent();
    }

    std::array<Face, 6> m_faces;
    std::array<bool, 6> m_tried{};
    QString m_error;
};

// Word and LibreOffice set a quarter of an em between Chinese characters
// and Latin letters or digits ("检点 1").
bool isIdeograph(uint c)
{
    return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || c >= 0x20000;
}
bool isLatinOrDigit(uint c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isEastAsian(uint c)
{
    return c >= 0x2E80 || (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x206F);
}

// Where a line may not break: before closing punctuation, after opening.
bool closes(uint c)
{
    static const QString set = QStringLiteral("，。、；：？！）》」』】〕”’%℃…·—～,.;:?!)]}%");
    return c < 0x10000 && set.contains(QChar(ushort(c)));
}
bool opens(uint c)
{
    static const QString set = QStringLiteral("（《「『【〔“‘([{");
    return c < 0x10000 && set.contains(QChar(ushort(c)));
}

// ---- layout ----

// How a character is set: its face, glyph and advance (with the letter
// spacing), and the gap before it (a quarter em between Chinese and Latin).
struct Setting
{
    FontFace face = FontFace::Serif;
    quint32 glyph = 0;
    qreal advance = 0;
};

Setting setting(Fonts &fonts, const RunStyle &s, uint c)
{
    Setting out;
    out.face = isEastAsian(c) ? s.eastAsian : s.latin;
    const qreal size = s.halfPoints * 10.0;
    const QPair<quint32, qreal> g = fonts.face(out.face, s.bold).glyph(c == 0xA0 ? ' ' : c);
    out.glyph = g.first;
    out.advance = g.second * size / kUnit + s.spacing;
    return out;
}

qreal gapBetween(uint before, uint c, const RunStyle &s)
{
    return (isIdeograph(before) && isLatinOrDigit(c)) || (isLatinOrDigit(before) && isIdeograph(c))
               ? s.halfPoints * 10.0 / 4
               : 0;
}

bool isBlank(uint c)
{
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x3000;
}

// A run of characters of one piece and face on a line (or a tab, a
// picture, a field): where it starts; the characters' places follow from
// their advances, as they did when the line was set.
struct Segment
{
    int piece = 0;
    int from = 0, to = 0; // UTF-16 positions in the piece's text (a field's digits)
    float x = 0;
    FontFace face = FontFace::Serif;
};

struct Line
{
    QVector<Segment> segments;
    float height = 0, baseline = 0;
    bool pageBreakAfter = false;
};

struct LaidParagraph
{
    const Paragraph *paragraph = nullptr;
    QVector<Line> lines;
    qreal indent = 0;
    int page = 0, pages = 0; // what its fields show
    qreal height() const
    {
        qreal h = paragraph->style.before + paragraph->style.after;
        for (const Line &l : lines)
            h += l.height;
        return h + paragraph->style.borderBottom;
    }
};

// The text a piece shows: its own, or a field's number.
QString shownText(const Piece &pc, int page, int pages)
{
    if (pc.kind == Piece::PageField)
        return QString::number(page);
    if (pc.kind == Piece::PagesField)
        return QString::number(pages);
    return pc.text;
}

class Layout
{
public:
    Layout(Fonts &fonts, int defaultTab) : m_fonts(fonts), m_tab(qMax(120, defaultTab)) {}

    // The lines of `p` in `width` twips; fields show `page` and `pages`.
    LaidParagraph lay(const Paragraph &p, qreal width, int page = 0, int pages = 0)
    {
        LaidParagraph out;
        out.paragraph = &p;
        out.page = page;
        out.pages = pages;
        const ParaStyle &st = p.style;
        out.indent = st.left;
        m_full = qMax<qreal>(200, width - st.left - st.right);
        m_items.clear();
        m_x = st.firstLine;
        m_breakAt = -1;
        m_rightTabItem = -1;
        m_style = &st;
        m_out = &out;
        for (int i = 0; i < p.pieces.size(); ++i) {
            const Piece &pc = p.pieces[i];
            switch (pc.kind) {
            case Piece::LineBreak:
            case Piece::PageBreak:
                finish(m_items.size(), pc.kind == Piece::PageBreak);
                break;
            case Piece::Tab: {
                Item it;
                it.piece = i;
                it.c = '\t';
                qreal stop = -1;
                for (int t : st.rightTabs)
                    if (t - st.left > m_x) {
                        stop = t - st.left;
                        break;
                    }
                if (stop >= 0) {
                    m_rightTabItem = m_items.size();
                    m_rightTab = stop;
                } else {
                    it.advance = (std::floor((m_x + st.left) / m_tab) + 1) * m_tab - st.left - m_x;
                }
                it.x = m_x;
                m_x += it.advance;
                m_items << it;
                m_breakAt = m_items.size();
                break;
            }
            case Piece::Picture: {
                Item it;
                it.piece = i;
                it.c = 0xFFFC;
                it.advance = pc.width;
                it.ascent = pc.height;
                if (m_x + it.advance > m_full && !m_items.isEmpty())
                    finish(m_items.size(), false);
                it.x = m_x;
                m_x += it.advance;
                m_items << it;
                m_breakAt = m_items.size();
                break;
            }
            case Piece::PageField:
            case Piece::PagesField:
            case Piece::Text:
                addText(i, shownText(pc, page, pages), pc.style);
                break;
            }
        }
        if (!m_items.isEmpty() || out.lines.isEmpty() || p.pieces.last().kind == Piece::LineBreak)
            finish(m_items.size(), false);
        return out;
    }

private:
    struct Item
    {
        int piece = 0, from = 0, length = 0;
        uint c = 0;
        qreal x = 0, gap = 0, advance = 0, ascent = 0, descent = 0;
        FontFace face = FontFace::Serif;
    };

    void addText(int piece, const QString &text, const RunStyle &s)
    {
        const qreal size = s.halfPoints * 10.0;
        for (int at = 0; at < text.size();) {
            uint c = text.at(at).unicode();
            int length = 1;
            if (QChar::isHighSurrogate(c) && at + 1 < text.size() &&
                text.at(at + 1).isLowSurrogate()) {
                c = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
                length = 2;
            }
            Item it;
            it.piece = piece;
            it.from = at;
            it.length = length;
            at += length;
            it.c = c;
            const Setting set = setting(m_fonts, s, c);
            it.face = set.face;
            it.advance = set.advance;
            const Face &face = m_fonts.face(set.face, s.bold);
            it.ascent = face.ascent * size / kUnit;
            it.descent = face.descent * size / kUnit;
            if (!m_items.isEmpty()) {
                const uint before = m_items.last().c;
                it.gap = gapBetween(before, c, s);
                // A line may break before an East Asian character (or after
                // one), never before closing or after opening punctuation.
                if ((isEastAsian(c) || isEastAsian(before)) && !closes(c) && !opens(before) &&
                    before != ' ' && c != ' ')
                    m_breakAt = m_items.size();
            }
            if (c != ' ' && m_x + it.gap + it.advance > m_full && !m_items.isEmpty()) {
                finish(m_breakAt > 0 ? m_breakAt : m_items.size(), false);
                if (m_items.isEmpty())
                    it.gap = 0;
            }
            it.x = m_x + it.gap;
            m_x = it.x + it.advance;
            m_items << it;
            if (c == ' ')
                m_breakAt = m_items.size();
        }
    }

    // Ends a line after `upTo` items; the rest starts the next one, its
    // leading blanks dropped.
    void finish(int upTo, bool pageBreak)
    {
        const ParaStyle &st = *m_style;
        Line line;
        qreal ascent = 0, descent = 0;
        for (int i = 0; i < upTo; ++i) {
            ascent = qMax(ascent, m_items[i].ascent);
            descent = qMax(descent, m_items[i].descent);
        }
        if (ascent == 0 && descent == 0) {
            const Face &face = m_fonts.face(st.run.eastAsian, st.run.bold);
            ascent = face.ascent * st.run.halfPoints * 10.0 / kUnit;
            descent = face.descent * st.run.halfPoints * 10.0 / kUnit;
        }
        // Blanks at the end hang past the margin.
        int last = upTo;
        while (last > 0 && m_items[last - 1].c == ' ')
            --last;
        qreal width = last > 0 ? m_items[last - 1].x + m_items[last - 1].advance : 0;
        // A right tab: what follows it ends at the stop.
        if (m_rightTabItem >= 0 && m_rightTabItem < upTo) {
            const qreal shift = qMax<qreal>(0, m_rightTab - width);
            for (int i = m_rightTabItem + 1; i < upTo; ++i)
                m_items[i].x += shift;
            width += shift;
        }
        qreal offset = 0;
        if (st.align == Align::Center)
            offset = (m_full - width) / 2;
        else if (st.align == Align::Right)
            offset = m_full - width;
        offset = qMax<qreal>(0, offset);
        for (int i = 0; i < upTo; ++i) {
            const Item &it = m_items[i];
            const bool joins = !line.segments.isEmpty() && it.c != '\t' && it.c != 0xFFFC &&
                               m_items[i - 1].c != '\t' && m_items[i - 1].c != 0xFFFC &&
                               line.segments.last().piece == it.piece &&
                               line.segments.last().face == it.face &&
                               line.segments.last().to == it.from &&
                               (m_rightTabItem < 0 || i != m_rightTabItem + 1);
            if (joins) {
                line.segments.last().to = it.from + it.length;
                continue;
            }
            Segment seg;
            seg.piece = it.piece;
            seg.from = it.from;
            seg.to = it.from + it.length;
            seg.x = float(it.x + offset);
            seg.face = it.face;
            line.segments << seg;
        }
        const qreal natural = ascent + descent;
        switch (st.rule) {
        case LineRule::Auto:
            line.height = float(natural * st.line / 240.0);
            break;
        case LineRule::AtLeast:
            line.height = float(qMax<qreal>(natural, st.line));
            break;
        case LineRule::Exact:
            line.height = float(st.line);
            break;
        }
        line.baseline = float(line.height - descent);
        line.pageBreakAfter = pageBreak;
        m_out->lines << line;

        QVector<Item> rest = m_items.mid(upTo);
        int skip = 0;
        while (skip < rest.size() && rest[skip].c == ' ')
            ++skip;
        m_items.clear();
        m_x = 0;
        m_rightTabItem = -1;
        m_breakAt = -1;
        for (int i = skip; i < rest.size(); ++i) {
            Item it = rest[i];
            it.gap = i == skip ? 0 : it.gap;
            it.x = m_x + it.gap;
            m_x = it.x + it.advance;
            m_items << it;
        }
    }

    Fonts &m_fonts;
    qreal m_tab;
    qreal m_full = 0, m_x = 0, m_rightTab = 0;
    int m_breakAt = -1, m_rightTabItem = -1;
    const ParaStyle *m_style = nullptr;
    LaidParagraph *m_out = nullptr;
    QVector<Item> m_items;
};

// ---- pages ----

struct Op
{
    enum Kind { Text, Rule, Fill } kind = Text; // pictures are drawn with their line
    const LaidParagraph *paragraph = nullptr;
    int line = 0;
    qreal x = 0, y = 0, w = 0, h = 0; // Text: x, baseline y
    QRgb color = 0;
};

struct Page
{
    QVector<Op> ops;
};

struct LaidRow
{
    const Row *row = nullptr;
    QVector<LaidParagraph> paragraphs; // of all cells, in order
    QVector<int> firstOfCell;          // index of each cell's first paragraph
    QVector<qreal> cellX, cellW, contentH;
    qreal height = 0;
};

struct LaidBlock
{
    bool isTable = false;
    LaidParagraph paragraph;
    const Table *table = nullptr;
    QVector<LaidRow> rows;
    qreal tableX = 0, tableW = 0;
    int headingRows = 0;
};

class Paginator
{
public:
    Paginator(const Section &s) : m_s(s)
    {
        m_top = s.top;
        m_bottom = s.pageH - s.bottom;
        m_pages.resize(1);
        m_y = m_top;
    }

    QVector<Page> take() { return std::move(m_pages); }

    bool atTop() const { return m_y <= m_top + 0.5; }
    qreal room() const { return m_bottom - m_y; }
    qreal full() const { return m_bottom - m_top; }
    void newPage()
    {
        m_pages.resize(m_pages.size() + 1);
        m_y = m_top;
    }

    void paragraph(const LaidParagraph &p, qreal x)
    {
        const ParaStyle &st = p.paragraph->style;
        if (st.breakBefore && !atTop())
            newPage();
        // A paragraph kept together, or kept with the next (a block's line),
        // goes whole to the next page when it fits on one.
        if ((st.keepLines || st.keepNext) && p.height() > room() && p.height() <= full() &&
            !atTop())
            newPage();
        m_y += st.before;
        // Lines page by page; split paragraphs keep two lines on each page
        // (no widows, no orphans) unless told otherwise.
        const int n = p.lines.size();
        int i = 0;
        while (i < n) {
            int k = 0;
            qreal y = m_y;
            while (i + k < n && y + p.lines[i + k].height <= m_bottom + 0.5) {
                y += p.lines[i + k].height;
                ++k;
                if (p.lines[i + k - 1].pageBreakAfter)
                    break;
            }
            const bool broken = k > 0 && p.lines[i + k - 1].pageBreakAfter;
            if (i + k < n && !broken && st.widowControl) {
                const int rest = n - i - k;
                if (i == 0 && k < 2)
                    k = 0;
                else if (rest < 2)
                    k = qMax(i == 0 ? 2 : 1, k - (2 - rest));
                if (i == 0 && k < 2)
                    k = 0;
            }
            if (k == 0 && atTop())
                k = 1; // a line taller than the page
            for (int j = i; j < i + k; ++j) {
                const Line &l = p.lines[j];
                Op op;
                op.paragraph = &p;
                op.line = j;
                op.x = x + p.indent;
                op.y = m_y + l.baseline;
                m_pages.last().ops << op;
                m_y += l.height;
            }
            i += k;
            if (i < n || broken)
                newPage();
        }
        if (st.borderBottom) {
            rule(x + st.left, m_y + st.borderBottom / 2.0,
                 x + (m_s.pageW - m_s.left - m_s.right) - st.right, m_y + st.borderBottom / 2.0,
                 st.borderBottom);
            m_y += st.borderBottom;
        }
        m_y += st.after;
    }

    void table(const LaidBlock &b)
    {
        for (int r = 0; r < b.rows.size(); ++r) {
            const LaidRow &row = b.rows[r];
            if (m_y + row.height > m_bottom + 0.5 && !atTop()) {
                newPage();
                // The heading rows again, unless this row is one of them.
                if (r >= b.headingRows)
                    for (int h = 0; h < b.headingRows; ++h)
                        placeRow(b, h, h == 0, false);
            }
            placeRow(b, r, r == 0, r + 1 == b.rows.size());
        }
    }

    void rule(qreal x1, qreal y1, qreal x2, qreal y2, qreal width)
    {
        Op op;
        op.kind = Op::Rule;
        op.x = x1;
        op.y = y1;
        op.w = x2;
        op.h = y2;
        op.color = qRgb(0, 0, 0);
        op.line = qMax(1, int(width));
        m_pages.last().ops << op;
    }

    qreal y() const { return m_y; }

private:
    void placeRow(const LaidBlock &b, int r, bool first, bool last)
    {
        const LaidRow &row = b.rows[r];
        const TableLook &look = b.table->look;
        const qreal top = m_y, bottom = m_y + row.height;
        for (int c = 0; c < row.cellX.size(); ++c) {
            const Cell &cell = row.row->cells[c];
            const qreal x = row.cellX[c], w = row.cellW[c];
            if (cell.filled) {
                Op fill;
                fill.kind = Op::Fill;
                fill.x = x;
                fill.y = top;
                fill.w = w;
                fill.h = row.height;
                fill.color = cell.fill;
                m_pages.last().ops << fill;
            }
            qreal y = top + look.marginTop;
            if (cell.vAlign == 1)
                y += (row.height - look.marginTop - look.marginBottom - row.contentH[c]) / 2;
            else if (cell.vAlign == 2)
                y += row.height - look.marginTop - look.marginBottom - row.contentH[c];
            const int end =
                c + 1 < row.firstOfCell.size() ? row.firstOfCell[c + 1] : row.paragraphs.size();
            for (int i = row.firstOfCell[c]; i < end; ++i) {
                const LaidParagraph &p = row.paragraphs[i];
                y += p.paragraph->style.before;
                for (int k = 0; k < p.lines.size(); ++k) {
                    Op op;
                    op.paragraph = &p;
                    op.line = k;
                    op.x = x + look.marginLeft + p.indent;
                    op.y = y + p.lines[k].baseline;
                    m_pages.last().ops << op;
                    y += p.lines[k].height;
                }
                y += p.paragraph->style.after + p.paragraph->style.borderBottom;
            }
            // Edges: the outer ones at the table's sides, the inner between.
            const Border &left = look.borders[c == 0 ? 1 : 5];
            const Border &right = look.borders[c + 1 == row.cellX.size() ? 3 : 5];
            const Border &upper = look.borders[first ? 0 : 4];
            const Border &lower = look.borders[last ? 2 : 4];
            if (left.width)
                rule(x, top, x, bottom, left.width);
            if (right.width)
                rule(x + w, top, x + w, bottom, right.width);
            if (upper.width)
                rule(x, top, x + w, top, upper.width);
            if (lower.width || look.borders[4].width)
                rule(x, bottom, x + w, bottom, lower.width ? lower.width : look.borders[4].width);
        }
        m_y = bottom;
    }

    const Section &m_s;
    QVector<Page> m_pages;
    qreal m_top, m_bottom, m_y;
};

// ---- drawing ----

// A line's segments, each as one glyph run at the places its characters
// were set.
void drawLine(QPainter &painter, Fonts &fonts, const LaidParagraph &p, const Line &line, qreal x,
              qreal baseline)
{
    const QVector<Piece> &pieces = p.paragraph->pieces;
    QVector<quint32> glyphs;
    QVector<QPointF> positions;
    for (const Segment &seg : line.segments) {
        const Piece &pc = pieces[seg.piece];
        if (pc.kind == Piece::Picture) {
            painter.drawImage(QRectF(x + seg.x, baseline - pc.height, pc.width, pc.height),
                              pc.picture);
            continue;
        }
        if (pc.kind == Piece::Tab || pc.style.hidden)
            continue;
        const QString text = shownText(pc, p.page, p.pages);
        glyphs.clear();
        positions.clear();
        qreal at = 0;
        uint before = 0;
        for (int i = seg.from; i < seg.to && i < text.size();) {
            uint c = text.at(i).unicode();
            int length = 1;
            if (QChar::isHighSurrogate(c) && i + 1 < text.size()) {
                c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
                length = 2;
            }
            if (i > seg.from)
                at += gapBetween(before, c, pc.style);
            const Setting set = setting(fonts, pc.style, c);
            if (!isBlank(c)) {
                glyphs << set.glyph;
                positions << QPointF(at, 0);
            }
            at += set.advance;
            before = c;
            i += length;
        }
        if (glyphs.isEmpty())
            continue;
        QGlyphRun run;
        run.setRawFont(fonts.face(seg.face, pc.style.bold).at(pc.style.halfPoints * 10));
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        painter.setPen(QColor(pc.style.color));
        painter.drawGlyphRun(QPointF(x + seg.x, baseline), run);
    }
}

QByteArray partOf(const QList<ZipEntry> &package, const QString &name)
{
    for (const ZipEntry &e : package)
        if (e.name == name)
            return e.data;
    return QByteArray();
}

// The relationships of a part: id to target (relative to word/).
QHash<QString, QString> relationships(const QByteArray &xml)
{
    QHash<QString, QString> out;
    QXmlStreamReader x(xml);
    while (!x.atEnd())
        if (x.readNext() == QXmlStreamReader::StartElement &&
            x.name() == QLatin1String("Relationship"))
            out.insert(x.attributes().value(QStringLiteral("Id")).toString(),
                       x.attributes().value(QStringLiteral("Target")).toString());
    return out;
}

QString partName(const QString &target)
{
    return target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("word/") + target;
}

int defaultTabStop(const QByteArray &settings)
{
    QXmlStreamReader x(settings);
    while (!x.atEnd())
        if (x.readNext() == QXmlStreamReader::StartElement &&
            x.name() == QLatin1String("defaultTabStop"))
            return x.attributes().value(kW, QStringLiteral("val")).toInt();
    return 420;
}

// Qt names a subset font with its tag ("QWAAAA+NotoSerifCJKsc-Regular") in
// the font descriptor only; readers look for the tag in the font's
// /BaseFont too. The tag is added there, and the cross-reference table's
// offsets moved by what was inserted before each object.
QByteArray tagSubsetFonts(const QByteArray &pdf)
{
    QHash<QByteArray, QByteArray> tags; // name to "TAG+"
    for (int at = pdf.indexOf("/FontName /"); at >= 0; at = pdf.indexOf("/FontName /", at + 1)) {
        const int start = at + 11;
        int end = start;
        while (end < pdf.size() && !QByteArray(" /\n\r<>[]()").contains(pdf[end]))
            ++end;
        const QByteArray name = pdf.mid(start, end - start);
        const int plus = name.indexOf('+');
        if (plus == 6)
            tags.insert(name.mid(7), name.left(7));
    }
    const int xref = pdf.lastIndexOf("\nxref\n");
    const int startxref = pdf.lastIndexOf("startxref");
    if (tags.isEmpty() || xref < 0 || startxref < xref)
        return pdf;
    QByteArray out;
    out.reserve(pdf.size() + 64);
    QVector<QPair<int, int>> inserted; // at (old offset), bytes
    int from = 0;
    for (int at = pdf.indexOf("/BaseFont /"); at >= 0 && at < xref;
         at = pdf.indexOf("/BaseFont /", at + 1)) {
        const int start = at + 11;
        int end = start;
        while (end < pdf.size() && !QByteArray(" /\n\r<>[]()").contains(pdf[end]))
            ++end;
        const QByteArray tag = tags.value(pdf.mid(start, end - start));
        if (tag.isEmpty())
            continue;
        out += pdf.mid(from, start - from);
        out += tag;
        inserted << qMakePair(start, int(tag.size()));
        from = start;
    }
    if (inserted.isEmpty())
        return pdf;
    auto moved = [&](qint64 offset) {
        qint64 shift = 0;
        for (const auto &i : inserted)
            if (i.first < offset)
                shift += i.second;
        return offset + shift;
    };
    out += pdf.mid(from, xref + 1 - from);
    // The table: "xref", "0 N", then N entries of 20 bytes.
    QList<QByteArray> lines;
    int at = xref + 6;
    const int eol = pdf.indexOf('\n', at);
    const QList<QByteArray> head = pdf.mid(at, eol - at).trimmed().split(' ');
    const int count = head.value(1).toInt();
    if (head.size() != 2 || count <= 0 || eol + 1 + qint64(count) * 20 > pdf.size())
        return pdf;
    out += "xref\n" + pdf.mid(at, eol + 1 - at);
    at = eol + 1;
    for (int i = 0; i < count; ++i, at += 20) {
        QByteArray entry = pdf.mid(at, 20);
        if (entry.size() == 20 && entry[17] == 'n')
            entry.replace(
                0, 10,
                QByteArray::number(moved(entry.left(10).toLongLong())).rightJustified(10, '0'));
        out += entry;
    }
    const int sx = pdf.indexOf("startxref", at);
    if (sx < 0)
        return pdf;
    out += pdf.mid(at, sx - at);
    out += "startxref\n" + QByteArray::number(moved(xref + 1)) + "\n%%EOF\n";
    return out;
}

QByteArray sha256(const QByteArray &b)
{
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

} // namespace

bool isInstalledTemplate(const QString &path)
{
    const base::Result<QList<ZipEntry>> package = readZip(path);
    if (!package)
        return false;
    const QByteArray document = sha256(partOf(package.value, QStringLiteral("word/document.xml")));
    const QByteArray styles = sha256(partOf(package.value, QStringLiteral("word/styles.xml")));
    for (const TemplateSums &t : installedTemplateSums())
        if (document == t.document && styles == t.styles)
            return true;
    return false;
}

base::Result<DrawnPdf> drawWordPdf(QList<ZipEntry> package, const base::Progress &progress)
{
    QByteArray document = partOf(package, QStringLiteral("word/document.xml"));
    for (ZipEntry &e : package)
        if (e.name == QLatin1String("word/document.xml"))
            e.data.clear(); // held once, and let go once read
    if (document.isEmpty())
        return base::failure(QStringLiteral("不是 Word 文档：缺少 word/document.xml"));
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return base::failure(QStringLiteral("不能生成 PDF：程序没有字体（QGuiApplication）"));
    if (progress.stage)
        progress.stage(QStringLiteral("正在排版…"));
    Fonts fonts;
    Styles styles;
    styles.read(partOf(package, QStringLiteral("word/styles.xml")));
    const QHash<QString, QString> rels =
        relationships(partOf(package, QStringLiteral("word/_rels/document.xml.rels")));
    QHash<QString, QByteArray> media;
    for (auto it = rels.cbegin(); it != rels.cend(); ++it)
        if (it.value().startsWith(QLatin1String("media/")))
            media.insert(it.key(), partOf(package, partName(it.value())));

    Reader reader(styles, media);
    Section section;
    QString error;
    const QVector<Block> blocks = reader.blocks(document, &section, &error);
    document.clear();
    if (!error.isEmpty())
        return base::failure(
            QStringLiteral("Word 文档的 word/document.xml 有错误（%1）").arg(error));
    QVector<Block> header, footer;
    if (!section.headerId.isEmpty())
        header =
            reader.blocks(partOf(package, partName(rels.value(section.headerId))), nullptr, &error);
    if (!section.footerId.isEmpty())
        footer =
            reader.blocks(partOf(package, partName(rels.value(section.footerId))), nullptr, &error);

    Layout layout(fonts, defaultTabStop(partOf(package, QStringLiteral("word/settings.xml"))));
    const qreal bodyW = section.pageW - section.left - section.right;

    // Every block laid out once.
    QVector<LaidBlock> laid(blocks.size());
    for (int b = 0; b < blocks.size(); ++b) {
        if (progress.cancelled())
            return base::failure(QStringLiteral("已取消"));
        const Block &block = blocks[b];
        LaidBlock &out = laid[b];
        if (!block.isTable) {
            out.paragraph = layout.lay(block.paragraph, bodyW);
            continue;
        }
        const Table &t = block.table;
        out.isTable = true;
        out.table = &t;
        QVector<qreal> grid;
        for (int w : t.grid)
            grid << w;
        qreal tableW = 0;
        for (qreal w : grid)
            tableW += w;
        out.tableX = section.left + t.look.indent;
        if (t.look.align == Align::Center)
            out.tableX = section.left + (bodyW - tableW) / 2;
        else if (t.look.align == Align::Right)
            out.tableX = section.left + bodyW - tableW;
        out.tableW = tableW;
        for (const Row &row : t.rows) {
            LaidRow lr;
            lr.row = &row;
            if (row.heading && out.headingRows == out.rows.size())
                ++out.headingRows;
            int col = 0;
            qreal x = out.tableX;
            qreal tallest = 0;
            for (const Cell &cell : row.cells) {
                qreal w = 0;
                for (int k = 0; k < cell.span && col < grid.size(); ++k)
                    w += grid[col++];
                if (w <= 0)
                    w = 1440;
                lr.cellX << x;
                lr.cellW << w;
                x += w;
                lr.firstOfCell << lr.paragraphs.size();
                qreal h = 0;
                if (!cell.continued)
                    for (const Paragraph &p : cell.paragraphs) {
                        lr.paragraphs << layout.lay(p, w - t.look.marginLeft - t.look.marginRight);
                        h += lr.paragraphs.last().height();
                    }
                lr.contentH << h;
                tallest = qMax(tallest, h);
            }
            lr.height = tallest + t.look.marginTop + t.look.marginBottom;
            if (row.height > 0)
                lr.height = row.exact ? row.height : qMax<qreal>(lr.height, row.height);
            out.rows << lr;
        }
    }

    // Pages: a chain of paragraphs kept with the next starts a new page when
    // it does not fit in what is left of this one (and flows on from there
    // when it is longer than a page).
    Paginator pages(section);
    int chainEnd = -1;
    for (int b = 0; b < laid.size(); ++b) {
        const LaidBlock &block = laid[b];
        if (b > chainEnd && !block.isTable && block.paragraph.paragraph->style.keepNext) {
            qreal h = 0;
            int e = b;
            while (e < laid.size() && h <= pages.full()) {
                const LaidBlock &k = laid[e];
                if (k.isTable) {
                    for (int r = 0; r <= k.headingRows && r < k.rows.size(); ++r)
                        h += k.rows[r].height;
                    break;
                }
                if (!k.paragraph.paragraph->style.keepNext) {
                    const ParaStyle &st = k.paragraph.paragraph->style;
                    h +=
                        st.before + (k.paragraph.lines.isEmpty() ? 0 : k.paragraph.lines[0].height);
                    break;
                }
                h += k.paragraph.height();
                ++e;
            }
            // The chain's end, past where its height stopped counting.
            while (e < laid.size() && !laid[e].isTable &&
                   laid[e].paragraph.paragraph->style.keepNext)
                ++e;
            chainEnd = e;
            if (h > pages.room() && !pages.atTop())
                pages.newPage();
        }
        if (block.isTable)
            pages.table(block);
        else
            pages.paragraph(block.paragraph, section.left);
    }
    QVector<Page> placed = pages.take();
    const int count = placed.size();
    if (!fonts.error().isEmpty())
        return base::failure(QStringLiteral("不能生成 PDF：") + fonts.error());

    // Drawing.
    if (progress.stage)
        progress.stage(QStringLiteral("正在生成 PDF…"));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setResolution(1440);
        writer.setCreator(QStringLiteral("ORVEN-M70X"));
        const bool landscape = section.pageW > section.pageH;
        const QPageSize size(QSizeF(qMin(section.pageW, section.pageH) / 20.0,
                                    qMax(section.pageW, section.pageH) / 20.0),
                             QPageSize::Point, QString(), QPageSize::FuzzyMatch);
        writer.setPageLayout(QPageLayout(size,
                                         landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        QPainter painter;
        if (!painter.begin(&writer))
            return base::failure(QStringLiteral("不能生成 PDF"));
        painter.setRenderHint(QPainter::Antialiasing, false);
        auto drawBlocks = [&](const QVector<Block> &part, qreal top, bool fromBottom, int page) {
            QVector<LaidParagraph> lines;
            qreal h = 0;
            for (const Block &b : part)
                if (!b.isTable) {
                    lines << layout.lay(b.paragraph, bodyW, page, count);
                    h += lines.last().height();
                }
            qreal y = fromBottom ? top - h : top;
            for (const LaidParagraph &p : lines) {
                const ParaStyle &st = p.paragraph->style;
                y += st.before;
                for (const Line &l : p.lines) {
                    drawLine(painter, fonts, p, l, section.left + p.indent, y + l.baseline);
                    y += l.height;
                }
                if (st.borderBottom) {
                    painter.setPen(QPen(Qt::black, st.borderBottom));
                    painter.drawLine(
                        QPointF(section.left + st.left, y + st.borderBottom / 2.0),
                        QPointF(section.left + bodyW - st.right, y + st.borderBottom / 2.0));
                    y += st.borderBottom;
                }
                y += st.after;
            }
        };
        for (int n = 0; n < count; ++n) {
            if (progress.cancelled()) {
                painter.end();
                return base::failure(QStringLiteral("已取消"));
            }
            if (n > 0)
                writer.newPage();
            drawBlocks(header, section.header, false, n + 1);
            drawBlocks(footer, section.pageH - section.footer, true, n + 1);
            for (const Op &op : placed[n].ops) {
                switch (op.kind) {
                case Op::Text: {
                    const Line &l = op.paragraph->lines[op.line];
                    drawLine(painter, fonts, *op.paragraph, l, op.x, op.y);
                    break;
                }
                case Op::Rule:
                    painter.setPen(QPen(QColor(op.color), op.line));
                    painter.drawLine(QPointF(op.x, op.y), QPointF(op.w, op.h));
                    break;
                case Op::Fill:
                    painter.fillRect(QRectF(op.x, op.y, op.w, op.h), QColor(op.color));
                    break;
                }
            }
            if (progress.count)
                progress.count(n + 1, count);
        }
        if (!painter.end())
            return base::failure(QStringLiteral("不能生成 PDF"));
    }
    DrawnPdf out;
    out.bytes = tagSubsetFonts(buffer.data());
    out.pages = count;
    return out;
}

base::Status writeWordPdf(QList<ZipEntry> package, const QString &target,
                          const base::Progress &progress)
{
    const base::Result<DrawnPdf> pdf = drawWordPdf(std::move(package), progress);
    if (!pdf)
        return base::Status::failure(pdf.error);
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(pdf.value.bytes) != pdf.value.bytes.size() ||
        !out.commit())
        return base::Status::failure(QStringLiteral("不能写入 %1").arg(target));
    return {};
}

} // namespace office
