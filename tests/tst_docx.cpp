// Filling Word templates by bookmark: where the texts go, what they keep,
// and that the rest of the package is left as it was.

#include "office/docxfill.h"
#include "office/zippackage.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using office::Insertion;

namespace {

const QByteArray kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
    "mc:Ignorable=\"w14\"><w:body>";
const QByteArray kTail =
    "<w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr></w:body></w:document>";

QByteArray doc(const QByteArray &body)
{
    return kHead + body + kTail;
}

QByteArray fill(const QByteArray &body, const QList<Insertion> &insertions,
                QStringList *missing = nullptr)
{
    const base::Result<QByteArray> r = office::fillDocumentXml(doc(body), insertions, missing);
    if (!r)
        qWarning() << r.error;
    return r.value;
}

// The document's text as a reader sees it: paragraphs separated by "|",
// line breaks as "/".
QString text(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    QString out;
    bool inBody = false;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("body"))
            inBody = true;
        if (!inBody)
            continue;
        if (r.isEndElement() && r.name() == QLatin1String("p"))
            out += QLatin1Char('|');
        if (r.isStartElement() && r.name() == QLatin1String("br"))
            out += QLatin1Char('/');
        if (r.isStartElement() && r.name() == QLatin1String("t"))
            out += r.readElementText();
    }
    if (r.hasError())
        return QStringLiteral("XML ERROR: ") + r.errorString();
    return out;
}

QByteArray bookmark(const char *name, int id, const QByteArray &inside = QByteArray())
{
    return "<w:bookmarkStart w:id=\"" + QByteArray::number(id) + "\" w:name=\"" + name + "\"/>" +
           inside + "<w:bookmarkEnd w:id=\"" + QByteArray::number(id) + "\"/>";
}

QByteArray run(const QByteArray &t)
{
    return "<w:r><w:t xml:space=\"preserve\">" + t + "</w:t></w:r>";
}

} // namespace

class DocxTest : public QObject
{
    Q_OBJECT

private slots:
    void collapsedBookmarkGetsTheText();
    void enclosedTextStaysAfterTheInsertedText();
    void bookmarkInATableCell();
    void twoBookmarksAtOnePlace();
    void lastInsertedComesFirst();
    void missingBookmarkIsSkipped();
    void blanksSpecialCharactersAndChinese();
    void newLinesStartParagraphsWithTheSameProperties();
    void blocksKeepTogether_data();
    void blocksKeepTogether();
    void bookmarkOutsideAParagraph();
    void restOfTheDocumentIsUnchanged();
    void packageCopiedExceptTheDocument();
    void brokenTemplatesAreReported();
};

void DocxTest::collapsedBookmarkGetsTheText()
{
    const QByteArray out =
        fill("<w:p>" + run("委托单位：") + bookmark("mark1", 0) + "</w:p>", {{"mark1", "客户"}});
    QCOMPARE(text(out), QString("委托单位：客户|"));
    // The bookmark stays in front of its text.
    QVERIFY(out.indexOf("w:name=\"mark1\"") < out.indexOf("客户"));
}

void DocxTest::enclosedTextStaysAfterTheInsertedText()
{
    const QByteArray out =
        fill("<w:p>" + bookmark("mark2", 0, run("旧")) + run("尾") + "</w:p>", {{"mark2", "新"}});
    QCOMPARE(text(out), QString("新旧尾|"));
}

void DocxTest::bookmarkInATableCell()
{
    const QByteArray body = "<w:tbl><w:tr><w:tc><w:p>" + bookmark("mark3", 0) +
                            "</w:p></w:tc><w:tc>" + bookmark("mark4", 1) +
                            "<w:p/></w:tc></w:tr></w:tbl>";
    const QByteArray out = fill(body, {{"mark3", "A\nB"}, {"mark4", "C"}});
    QCOMPARE(text(out), QString("A|B|C||"));
    // Still a table of one row and two cells.
    QCOMPARE(out.count("<w:tc>"), 2);
}

void DocxTest::twoBookmarksAtOnePlace()
{
    const QByteArray out = fill("<w:p>" + bookmark("mark5", 0) + bookmark("mark6", 1) + "</w:p>",
                                {{"mark5", "五"}, {"mark6", "六"}});
    QCOMPARE(text(out), QString("五六|"));
}

void DocxTest::lastInsertedComesFirst()
{
    const QByteArray out = fill("<w:p>" + bookmark("mark17", 0) + "</w:p>",
                                {{"mark17", "third"}, {"mark17", "second "}, {"mark17", "first "}});
    QCOMPARE(text(out), QString("first second third|"));
}

void DocxTest::missingBookmarkIsSkipped()
{
    QStringList missing;
    const QByteArray out = fill("<w:p>" + bookmark("mark1", 0) + "</w:p>",
                                {{"mark1", "x"}, {"mark99", "y"}}, &missing);
    QCOMPARE(text(out), QString("x|"));
    QCOMPARE(missing, QStringList{"mark99"});
}

void DocxTest::blanksSpecialCharactersAndChinese()
{
    const QString t = QStringLiteral("  a <b> & \"c\" 'd'   温度/℃  \t±0.5%RH  ");
    const QByteArray out = fill("<w:p>" + bookmark("mark1", 0) + "</w:p>", {{"mark1", t}});
    QCOMPARE(text(out), t + QLatin1Char('|'));
    QVERIFY(out.contains("xml:space=\"preserve\""));
    // Control characters XML cannot carry are dropped, not written.
    const QByteArray control = fill("<w:p>" + bookmark("mark1", 0) + "</w:p>",
                                    {{"mark1", QString("a") + QChar(0x07) + "b"}});
    QCOMPARE(text(control), QString("ab|"));
}

void DocxTest::newLinesStartParagraphsWithTheSameProperties()
{
    const QByteArray pPr =
        "<w:pPr><w:pStyle w:val=\"DataBlock\"/><w:rPr><w:sz w:val=\"13\"/></w:rPr></w:pPr>";
    const QByteArray out = fill("<w:p>" + pPr + bookmark("mark17", 0) + "</w:p>",
                                {{"mark17", "\n\nline 1\nline 2\n"}});
    QCOMPARE(text(out), QString("||line 1|line 2||"));
    QCOMPARE(out.count("<w:pStyle w:val=\"DataBlock\"/>"), 5);
    // The runs carry the paragraph's run properties.
    QVERIFY(
        out.contains("<w:r><w:rPr><w:sz w:val=\"13\"/></w:rPr><w:t xml:space=\"preserve\">line 1"));
    // A section break is not copied into the new paragraphs.
    const QByteArray sect = "<w:pPr><w:sectPr><w:pgSz w:w=\"1\"/></w:sectPr></w:pPr>";
    const QByteArray split = fill("<w:p>" + sect + bookmark("m", 0) + "</w:p>", {{"m", "a\nb"}});
    QCOMPARE(split.count("<w:pgSz w:w=\"1\"/>"), 1);
}

void DocxTest::blocksKeepTogether_data()
{
    QTest::addColumn<QByteArray>("pPr");
    QTest::addColumn<QString>("text");
    // One letter per line after the first: K keeps with the next, . does not.
    QTest::addColumn<QString>("keeps");
    const QByteArray styled = "<w:pPr><w:pStyle w:val=\"DataBlock\"/></w:pPr>";
    // An empty line in front of a block keeps with it; the last line of a
    // block and the first of a gap do not.
    QTest::newRow("two blocks") << styled << "a\nb\nc\n\n\nd\ne" << "K..KK.";
    QTest::newRow("single gap inside") << styled << "a\nb\n\nc\n\n\nd" << "KK..K.";
    QTest::newRow("no properties") << QByteArray() << "a\nb\nc" << "K.";
    QTest::newRow("empty properties") << QByteArray("<w:pPr/>") << "a\nb\nc" << "K.";
    QTest::newRow("trailing gap") << styled << "a\nb\n\n" << "...";
}

void DocxTest::blocksKeepTogether()
{
    QFETCH(QByteArray, pPr);
    QFETCH(QString, text);
    QFETCH(QString, keeps);
    const QByteArray out = fill("<w:p>" + pPr + bookmark("k", 0) + "</w:p>", {{"k", text}});
    QXmlStreamReader r(out);
    QString seen;
    int paragraph = -1;
    bool keep = false;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("p")) {
            ++paragraph;
            keep = false;
        }
        if (r.isStartElement() && r.name() == QLatin1String("keepNext"))
            keep = true;
        if (r.isEndElement() && r.name() == QLatin1String("p") && paragraph > 0)
            seen += keep ? QLatin1Char('K') : QLatin1Char('.');
    }
    QVERIFY2(!r.hasError(), qPrintable(r.errorString()));
    QCOMPARE(seen, keeps);
    // The style stays first in the properties, as the schema orders them.
    if (!pPr.isEmpty() && keeps.contains(QLatin1Char('K')) && pPr.contains("pStyle"))
        QVERIFY(out.contains("<w:pStyle w:val=\"DataBlock\"/><w:keepNext/>"));
}

void DocxTest::bookmarkOutsideAParagraph()
{
    // At body level the text becomes paragraphs of its own; inside a
    // hyperlink, runs with line breaks.
    QByteArray out = fill(bookmark("mark1", 0) + "<w:p/>", {{"mark1", "a\nb"}});
    QCOMPARE(text(out), QString("a|b||"));
    out = fill("<w:p><w:hyperlink>" + bookmark("mark2", 0) + "</w:hyperlink></w:p>",
               {{"mark2", "a\nb"}});
    QCOMPARE(text(out), QString("a/b|"));
}

void DocxTest::restOfTheDocumentIsUnchanged()
{
    const QByteArray body =
        "<w:p>" + run("甲") + bookmark("mark1", 0) + "</w:p><w:p>" + run("乙") + "</w:p>";
    const QByteArray original = doc(body);
    const QByteArray out = fill(body, {{"mark1", "X"}});
    // Removing the inserted run gives the original bytes back.
    QByteArray stripped = out;
    stripped.replace("<w:r><w:t xml:space=\"preserve\">X</w:t></w:r>", "");
    QCOMPARE(stripped, original);
    QVERIFY(out.startsWith(kHead)); // prefixes and declarations as they were
}

void DocxTest::packageCopiedExceptTheDocument()
{
    QTemporaryDir dir;
    const QString in = dir.path() + "/t.docx";
    const QByteArray styles = "<w:styles xmlns:w=\"x\">styles</w:styles>";
    QVERIFY(
        office::writeZip(in, {{"[Content_Types].xml", "<Types/>"},
                              {"word/document.xml", doc("<w:p>" + bookmark("mark1", 0) + "</w:p>")},
                              {"word/styles.xml", styles}})
            .ok);
    const QString out = dir.path() + "/out.docx";
    QVERIFY(office::fillDocx(in, out, {{"mark1", "hello"}}).ok);
    const base::Result<QList<office::ZipEntry>> z = office::readZip(out);
    QVERIFY(z.ok);
    QCOMPARE(z.value.size(), 3);
    QCOMPARE(z.value[0].name, QString("[Content_Types].xml"));
    QCOMPARE(z.value[2].data, styles);
    QCOMPARE(text(z.value[1].data), QString("hello|"));
}

void DocxTest::brokenTemplatesAreReported()
{
    QTemporaryDir dir;
    const QString out = dir.path() + "/out.docx";
    base::Status st = office::fillDocx(dir.path() + "/none.docx", out, {});
    QVERIFY(!st.ok);
    QVERIFY(st.error.contains("none.docx"));
    QVERIFY(!QFile::exists(out));

    const QString notZip = dir.path() + "/plain.docx";
    QFile f(notZip);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a zip");
    f.close();
    QVERIFY(!office::fillDocx(notZip, out, {}).ok);

    const QString bad = dir.path() + "/bad.docx";
    QVERIFY(office::writeZip(bad, {{"word/document.xml", "<w:document><w:body>"}}).ok);
    st = office::fillDocx(bad, out, {});
    QVERIFY(!st.ok);
    QVERIFY(st.error.contains("document.xml"));
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(DocxTest)
#include "tst_docx.moc"
