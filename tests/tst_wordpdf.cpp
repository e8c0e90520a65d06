// Word packages drawn straight to PDF: Word's page rules, the page fields,
// the text as drawn (the CJK faces' shared glyphs), the archival form, and
// which templates are drawn at all.

#include "office/conversionfonts.h"
#include "office/templates.h"
#include "office/wordpdf.h"
#include "tests/docskit.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><w:body>"
    "%1<w:sectPr><w:footerReference w:type=\"default\" r:id=\"rIdFooter\"/>"
    "<w:pgSz w:w=\"11906\" w:h=\"16838\"/><w:pgMar w:top=\"1134\" w:right=\"1134\" "
    "w:bottom=\"1134\" w:left=\"1134\" w:header=\"567\" w:footer=\"567\"/></w:sectPr>"
    "</w:body></w:document>";

const char kStyles[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:styles "
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:docDefaults>"
    "<w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Times New Roman\" w:eastAsia=\"宋体\"/>"
    "<w:sz w:val=\"21\"/></w:rPr></w:rPrDefault></w:docDefaults></w:styles>";

// The footer: "第 PAGE 页 共 NUMPAGES 页", one field simple, one complex.
const char kFooter[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:ftr "
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:p>"
    "<w:r><w:t xml:space=\"preserve\">第 </w:t></w:r><w:fldSimple w:instr=\" PAGE \"><w:r>"
    "<w:t>9</w:t></w:r></w:fldSimple><w:r><w:t xml:space=\"preserve\"> 页 共 </w:t></w:r>"
    "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> NUMPAGES </w:instrText>"
    "</w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>9</w:t></w:r><w:r>"
    "<w:fldChar w:fldCharType=\"end\"/></w:r><w:r><w:t xml:space=\"preserve\"> 页</w:t></w:r>"
    "</w:p></w:ftr>";

QList<office::ZipEntry> package(const QString &body)
{
    return {
        {"word/document.xml", QString::fromUtf8(kDocument).arg(body).toUtf8()},
        {"word/styles.xml", kStyles},
        {"word/footer1.xml", kFooter},
        {"word/_rels/document.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rIdFooter\" Type=\"footer\" Target=\"footer1.xml\"/>"
         "</Relationships>"}};
}

QString para(const QString &text, const QString &props = {})
{
    return QString("<w:p><w:pPr>%1</w:pPr><w:r><w:t xml:space=\"preserve\">%2</w:t></w:r></w:p>")
        .arg(props, text);
}

QString paras(const QString &prefix, int n, const QString &props = {})
{
    QString out;
    for (int i = 1; i <= n; ++i)
        out += para(prefix + QString::number(i), props);
    return out;
}

QString table(int rows)
{
    QString t = "<w:tbl><w:tblPr><w:tblBorders><w:top w:val=\"single\" w:sz=\"4\"/>"
                "<w:insideH w:val=\"single\" w:sz=\"4\"/></w:tblBorders></w:tblPr><w:tblGrid>"
                "<w:gridCol w:w=\"3000\"/><w:gridCol w:w=\"3000\"/></w:tblGrid>"
                "<w:tr><w:trPr><w:tblHeader/></w:trPr><w:tc><w:p><w:r><w:t>列头</w:t></w:r></w:p>"
                "</w:tc><w:tc><w:p><w:r><w:t>值</w:t></w:r></w:p></w:tc></w:tr>";
    for (int r = 1; r <= rows; ++r)
        t += QString("<w:tr><w:trPr><w:cantSplit/></w:trPr><w:tc><w:p><w:r><w:t>行%1</w:t></w:r>"
                     "</w:p></w:tc><w:tc><w:p><w:r><w:t>%2</w:t></w:r></w:p></w:tc></w:tr>")
                 .arg(r)
                 .arg(r * 0.5, 0, 'f', 1);
    return t + "</w:tbl>";
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Each page's text, as pdftotext reads it.
QStringList pagesOf(const QByteArray &pdf, const QString &dir)
{
    const QString path = dir + "/out.pdf";
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(pdf) != pdf.size())
        return {};
    f.close();
    return run("pdftotext", {"-layout", path, "-"}).split('\f', Qt::SkipEmptyParts);
}

} // namespace

class WordPdfTest : public QObject
{
    Q_OBJECT

private slots:
    void pageRules_data();
    void pageRules();
    void textReadsAsDrawnInEmbeddedSimplifiedChineseFaces();
    void installedTemplatesAreDrawnOthersConverted();
};

void WordPdfTest::pageRules_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("pages");
    // On each page (1, 2, ...): texts that must be there and must not.
    QTest::addColumn<QList<QStringList>>("present");
    QTest::addColumn<QList<QStringList>>("absent");

    QTest::newRow("a page break, the footer's fields")
        << "<w:p><w:r><w:t>甲</w:t><w:br w:type=\"page\"/><w:t>乙</w:t></w:r></w:p>" << 2
        << QList<QStringList>{{"甲", "第1页共2页"}, {"乙", "第2页共2页"}}
        << QList<QStringList>{{"乙", "9"}, {"甲", "9"}};
    QTest::newRow("a paragraph breaks the page before it")
        << para("一") + para("二", "<w:pageBreakBefore/>") << 2
        << QList<QStringList>{{"一"}, {"二"}} << QList<QStringList>{{"二"}, {"一"}};
    // About 47 lines fit; 44 of them filled, then a chain of six kept with
    // the next and its last: all seven go on the next page together.
    QTest::newRow("paragraphs kept with the next")
        << paras("填充", 44) + paras("链", 6, "<w:keepNext/>") + para("尾") << 2
        << QList<QStringList>{{"填充44"}, {"链1", "链6", "尾"}}
        << QList<QStringList>{{"链1", "尾"}, {"填充44"}};
    // A table longer than a page: its heading row again on the next page,
    // no row torn.
    QTest::newRow("heading rows repeated")
        << table(70) << 2 << QList<QStringList>{{"列头", "行10.5"}, {"列头", "行7035.0"}}
        << QList<QStringList>{{"行7035.0"}, {"行10.5"}};
}

void WordPdfTest::pageRules()
{
    QFETCH(QString, body);
    QFETCH(int, pages);
    QFETCH(QList<QStringList>, present);
    QFETCH(QList<QStringList>, absent);
    QTemporaryDir dir;
    const base::Result<office::DrawnPdf> pdf = office::drawWordPdf(package(body));
    QVERIFY2(pdf.ok, qPrintable(pdf.error));
    QCOMPARE(pdf.value.pages, pages);
    const QStringList text = pagesOf(pdf.value.bytes, dir.path());
    QCOMPARE(text.size(), pages);
    for (int p = 0; p < pages; ++p) {
        // pdftotext reads the gap between Chinese and digits as a blank, or not.
        const QString page = QString(text[p]).remove(QRegularExpression("\\s"));
        for (const QString &t : present.value(p))
            QVERIFY2(page.contains(t),
                     qPrintable(QString("page %1 lacks %2:\n%3").arg(p + 1).arg(t, page)));
        for (const QString &t : absent.value(p))
            QVERIFY2(!page.contains(t), qPrintable(QString("page %1 has %2").arg(p + 1).arg(t)));
    }
    if (QString(QTest::currentDataTag()) == "heading rows repeated") {
        // Every row once, in order.
        const QString all = text.join(' ').remove(QRegularExpression("\\s"));
        int at = 0;
        for (int r = 1; r <= 70; ++r) {
            const QString row = QString("行%1%2").arg(r).arg(r * 0.5, 0, 'f', 1);
            at = all.indexOf(row, at);
            QVERIFY2(at >= 0, qPrintable(row));
            QCOMPARE(all.count(row), 1);
        }
        QCOMPARE(all.count("列头"), 2);
    }
}

void WordPdfTest::textReadsAsDrawnInEmbeddedSimplifiedChineseFaces()
{
    // Characters whose glyph other characters share (页 with the radical ⻚,
    // 人 with ⼈, ～ with 〜, – with ‒): copied text must be what was written.
    const QString written = "第 1 页 共 2 页 人一大方用日月示工立 长门见车 ～ – ℃ ± m³";
    const QString bold = "<w:rPr><w:b/><w:rFonts w:eastAsia=\"黑体\"/></w:rPr>";
    const QString mono = "<w:rPr><w:rFonts w:ascii=\"新宋体\" w:eastAsia=\"新宋体\"/></w:rPr>";
    QString body = para(written);
    for (const QString &props : {bold, mono})
        body += QString("<w:p><w:r>%1<w:t xml:space=\"preserve\">%2</w:t></w:r></w:p>")
                    .arg(props, written);
    QTemporaryDir dir;
    const base::Result<office::DrawnPdf> pdf = office::drawWordPdf(package(body));
    QVERIFY2(pdf.ok, qPrintable(pdf.error));
    const QStringList text = pagesOf(pdf.value.bytes, dir.path());
    QCOMPARE(text.size(), 1);
    QCOMPARE(text[0].count(written), 3);
    // Embedded, subset, the simplified Chinese faces; archival PDF/A-1b.
    const QString fonts = run("pdffonts", {dir.path() + "/out.pdf"});
    for (const char *face :
         {"NotoSerifCJKsc-Regular", "NotoSansCJKsc-Bold", "NotoSansMonoCJKsc-Regular"})
        QVERIFY2(fonts.contains(face), qPrintable(fonts));
    // Embedded and subset (the tag before the name), every object where
    // the cross-reference table says.
    for (const QString &line : fonts.split('\n').mid(2, 3))
        QVERIFY2(line.contains(QRegularExpression("^[A-Z]{6}\\+\\S+ .* yes yes yes")) &&
                     !line.contains("CJKjp"),
                 qPrintable(line));
    const QByteArray &bytes = pdf.value.bytes;
    const qint64 xref =
        bytes.mid(bytes.lastIndexOf("startxref") + 9).trimmed().split('\n')[0].toLongLong();
    QCOMPARE(bytes.mid(xref, 5), QByteArray("xref\n"));
    const QList<QByteArray> table = bytes.mid(xref).split('\n');
    for (int i = 1; i < table.value(1).split(' ').value(1).toInt(); ++i)
        QVERIFY(bytes.mid(table[2 + i].left(10).toLongLong())
                    .startsWith(QByteArray::number(i) + " 0 obj"));
    QVERIFY(pdf.value.bytes.contains("pdfaid:part"));
    QVERIFY(pdf.value.bytes.contains("/OutputIntents"));

    // What is no font is refused, never read past its end.
    for (const QByteArray &bad :
         {QByteArray("ttcf\0\1\0\0", 8), QByteArray("\0\1\0\0\0\x09", 6), QByteArray()})
        QVERIFY(!office::drawingFace(bad, "Orvn").ok);
    QVERIFY(!office::drawWordPdf({}).ok);
}

void WordPdfTest::installedTemplatesAreDrawnOthersConverted()
{
    QTemporaryDir dir;
    for (const char *name : {"M702.docx", "databook.docx"}) {
        QVERIFY(office::isInstalledTemplate(office::findTemplate(name)));
        // A laboratory's own: changed in any way, it is theirs.
        QVERIFY(!office::isInstalledTemplate(testkit::ownTemplate(name, dir.path())));
    }
    QVERIFY(!office::isInstalledTemplate(dir.path() + "/none.docx"));
}

QTEST_MAIN(WordPdfTest)
#include "tst_wordpdf.moc"
