// The calibration record and certificate: every bookmark's text, the Word
// and PDF files, and the failures that must not end in "导出成功!".

#include "office/conversion.h"
#include "office/conversionfonts.h"
#include "office/documents.h"
#include "office/export.h"
#include "office/templates.h"
#include "office/zippackage.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "results/calibration.h"
#include "storage/statements.h"
#include "tests/docskit.h"
#include "tests/testkit.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>

using namespace testkit;
using office::DocumentKind;

namespace {

QMap<QString, QString> byBookmark(const QList<office::Insertion> &list)
{
    QMap<QString, QString> out;
    for (const office::Insertion &i : list)
        out[i.bookmark] += i.text;
    return out;
}

results::Calibration loaded(const QString &path, const QString &key)
{
    return results::loadCalibration(path, key).calibration;
}

QString recordBlock1()
{
    return QStringLiteral("\n\n\n\n\n\n"
                          "校准点1\n"
                          "\n"
                          "时间              101     102     103     \n"
                          "05-01 10:00:00   25.000  25.400  50.000    \n"
                          "05-01 10:01:00   25.000  25.400  50.000    \n"
                          "05-01 10:02:00   25.100  25.300  51.000    \n"
                          "\n"
                          "最大值           25.100  25.400  51.000  \n"
                          "最小值           25.000  25.300  50.000  \n"
                          "\n"
                          "温度            设定值:25        上偏差:0.400        下偏差:0.000\n"
                          "                均匀度:0.333     波动度:±0.200        "
                          "校准不确定度（k=2）:0.173\n"
                          "湿度            设定值:50        上偏差:1.000        下偏差:0.000\n"
                          "                均匀度:0.000     波动度:±0.500        "
                          "校准不确定度（k=2）:0.471\n");
}

QString certificateBlock1()
{
    return QStringLiteral(
        "\n\n\n\n\n\n"
        "校准点1\n"
        "\n校准参数  温度/℃\n设定值:25\n上偏差:0.400\n下偏差:0.000\n均匀度:0.333\n"
        "波动度:±0.200\n校准不确定度（k=2）:0.173\n"
        "\n校准参数  湿度/%RH\n设定值:50\n上偏差:1.000\n下偏差:0.000\n均匀度:0.000\n"
        "波动度:±0.500\n校准不确定度（k=2）:0.471\n");
}

QByteArray head(const QString &path, int n = 4)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
}

// Loads the first calibration of the query page.
bool loadFirst(Form6 &page)
{
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    return waitUntil([&] { return page.loadedCalibration() != nullptr; }, 10000);
}

bool exportFrom(Form6 &page, DocumentKind kind, const QString &name, const QString &filter = {})
{
    prompts::queueFileName(name, filter);
    click(&page, kind == DocumentKind::Record ? "pushButton" : "pushButton_2");
    return waitUntil([&] { return !page.isExporting(); }, 120000);
}

bool tempIsEmpty(const QString &dir)
{
    // The test database's own folder lies there too.
    QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    left = left.filter(QRegularExpression("^(?!tst_documents-)"));
    if (!left.isEmpty())
        qWarning() << "left in the temporary folder:" << left;
    return left.isEmpty();
}

} // namespace

class DocumentsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void recordBookmarks();
    void certificateBookmarks();
    void nextDateIs365DaysLater();
    void pointsWithoutFiguresAreListedAndAskedAbout();
    void singleKindTypes();
    void wordFileBySuffixWhateverItsCase();
    void missingRecordsStopTheExport();
    void missingTemplate();
    void libreOfficeNotFound();
    void conversionKilledByItsTimeLimit();
    void pdfCarriesTheTextsAndEmbedsACjkFont();

private:
    QTemporaryDir m_tmp;
    QByteArray m_oldTmp, m_oldPath;
};

void DocumentsTest::init()
{
    // Every temporary file of an export goes here; it must be empty after.
    m_oldTmp = qgetenv("TMPDIR");
    m_oldPath = qgetenv("PATH");
    QDir(m_tmp.path()).mkpath("tmp");
    qputenv("TMPDIR", (m_tmp.path() + "/tmp").toLocal8Bit());
}

void DocumentsTest::cleanup()
{
    qputenv("TMPDIR", m_oldTmp);
    qputenv("PATH", m_oldPath);
    qunsetenv("ORVEN_SOFFICE");
}

void DocumentsTest::recordBookmarks()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const results::Calibration c = loaded(db.path(), rig.fixture.begin);
    const QVector<results::PointResult> points = results::computeResults(c);
    const QMap<QString, QString> m = byBookmark(office::recordInsertions(
        c, points, office::DocumentSources{rig.equipment, rig.collector, rig.company}));
    QCOMPARE(m.size(), 17);
    QCOMPARE(m["mark1"], QString("客户 \"甲\""));
    QCOMPARE(m["mark2"], QString("恒温恒湿箱 <A&B>"));
    QCOMPARE(m["mark3"], QString("上海市 1 号"));
    QCOMPARE(m["mark4"], QString("制造厂"));
    QCOMPARE(m["mark5"], QString("HW-100"));
    QCOMPARE(m["mark6"], QString("9"));
    QCOMPARE(m["mark7"], QString("3"));
    // The calibration's own three points, not the equipment's two as edited since.
    QCOMPARE(m["mark8"], QString("3"));
    QCOMPARE(m["mark9"], QString("25  40  60  "));
    QCOMPARE(m["mark10"], QString("50  60  70  "));
    QCOMPARE(m["mark11"], QString("2024-05-01 10:00:00"));
    QCOMPARE(m["mark12"], QString("采集器一"));
    QCOMPARE(m["mark13"], QString("M702"));
    QCOMPARE(m["mark14"], QString("0.05℃(k=2)/0.8%RH(k=2)"));
    QCOMPARE(m["mark15"], QString("ZS-2024-001"));
    QCOMPARE(m["mark16"], QString("2025-06-30"));
    // Four result lines per block for 温湿度; blocks in point order.
    if (!m["mark17"].startsWith(recordBlock1()))
        qWarning().noquote() << m["mark17"].left(recordBlock1().size() + 20);
    QCOMPARE(m["mark17"].left(recordBlock1().size()), recordBlock1());
    QCOMPARE(m["mark17"].count("校准点"), 3);
    QCOMPARE(m["mark17"].count("均匀度:"), 6);
    QVERIFY(m["mark17"].indexOf("校准点2") < m["mark17"].indexOf("校准点3"));
}

void DocumentsTest::certificateBookmarks()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const results::Calibration c = loaded(db.path(), rig.fixture.begin);
    const QMap<QString, QString> m = byBookmark(office::certificateInsertions(
        c.header, results::computeResults(c),
        office::DocumentSources{rig.equipment, rig.collector, rig.company}));
    const QMap<QString, QString> expected{{"mark1", "客户 \"甲\""},
                                          {"mark2", "恒温恒湿箱 <A&B>"},
                                          {"mark3", "HW-100"},
                                          {"mark4", "EQ-7"},
                                          {"mark5", "制造厂"},
                                          {"mark6", "2024-05-01"},
                                          {"mark7", "(沪)法计(2024)01"},
                                          {"mark8", "021-1234"},
                                          {"mark9", "实验路 8 号"},
                                          {"mark10", "200000"},
                                          {"mark11", "采集器一"},
                                          {"mark12", "M702"},
                                          {"mark13", "1"},
                                          {"mark14", "2025-06-30"},
                                          {"mark15", "ZS-2024-001"},
                                          {"mark16", "±0.1℃\n±1.5%RH"},
                                          {"mark17", "23"},
                                          {"mark18", "55"},
                                          {"mark20", "2025-05-01"}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(m.value(it.key()), it.value());
    // Two seven-line parts per block for 温湿度.
    QCOMPARE(m["mark19"].left(certificateBlock1().size()), certificateBlock1());
    QCOMPARE(m["mark19"].count("校准参数"), 6);
}

void DocumentsTest::nextDateIs365DaysLater()
{
    QCOMPARE(office::nextCalibrationDate("2024-05-01 10:00:00"), QString("2025-05-01"));
    QCOMPARE(office::nextCalibrationDate("2024-01-15 08:00:00"), QString("2025-01-14"));
    QCOMPARE(office::nextCalibrationDate("not a time"), QString());
}

void DocumentsTest::pointsWithoutFiguresAreListedAndAskedAbout()
{
    TempDatabase db;
    DocumentRig rig;
    rig.fixture.samples.clear();
    rig.fixture.add(1, "25.000;25.400;50.000;", 2);
    rig.fixture.add(2, "40.000;40.200;60.500;", 2); // point 3 gets none
    rig.fixture.typesA = "000";                     // and no humidity channel
    QVERIFY(rig.store());
    const results::Calibration c = loaded(db.path(), rig.fixture.begin);
    const QVector<results::PointResult> points = results::computeResults(c);
    QCOMPARE(office::figureGaps(c.header, points),
             (QStringList{"检点1：没有湿度通道", "检点2：没有湿度通道", "检点3：没有样本"}));
    const QString block = office::certificateBlock(c.header, points[2]);
    QVERIFY(block.contains("上偏差:无数据"));
    QVERIFY(!block.contains("-99999"));
    QVERIFY(office::recordBlock(c, points[0], {0, 1}).contains("均匀度:无数据"));

    // The page asks; No writes nothing.
    Form6 page;
    QVERIFY(loadFirst(page));
    prompts::queueAnswer(false);
    prompts::queueFileName(m_tmp.path() + "/c.docx");
    click(&page, "pushButton_2");
    QVERIFY(asked().last().contains("检点3：没有样本"));
    QVERIFY(prompts::recordsOf(prompts::Kind::SaveFile).isEmpty());
    QVERIFY(!QFile::exists(m_tmp.path() + "/c.docx"));
}

void DocumentsTest::singleKindTypes()
{
    TempDatabase db;
    DocumentRig rig;
    rig.fixture.equipType = "温度";
    QVERIFY(rig.store());
    results::Calibration c = loaded(db.path(), rig.fixture.begin);
    QVector<results::PointResult> points = results::computeResults(c);
    QString block = office::recordBlock(c, points[0], results::samplesByPoint(c)[0]);
    QCOMPARE(block.count("均匀度:"), 1);
    QVERIFY(block.contains("温度            设定值:25"));
    QVERIFY(!block.contains("湿度            "));
    c.header.equiptype = "湿度";
    const QString cert = office::certificateBlock(c.header, points[0]);
    QVERIFY(cert.contains("校准参数  湿度/%RH"));
    QVERIFY(!cert.contains("温度/℃"));
}

void DocumentsTest::wordFileBySuffixWhateverItsCase()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    Form6 page;
    QVERIFY(loadFirst(page));
    const QString upper = m_tmp.path() + "/RECORD.DOCX";
    QVERIFY(exportFrom(page, DocumentKind::Record, upper));
    QCOMPARE(shown().last(), QString("提示|导出成功!"));
    QCOMPARE(head(upper, 2), QByteArray("PK"));
    const base::Result<QList<office::ZipEntry>> z = office::readZip(upper);
    QVERIFY(z.ok);
    bool found = false;
    for (const office::ZipEntry &e : z.value)
        found = found || (e.name == "word/document.xml" && e.data.contains("校准点1"));
    QVERIFY(found);
    // No suffix: the chosen filter's is added.
    const QString plain = m_tmp.path() + "/certificate";
    QVERIFY(exportFrom(page, DocumentKind::Certificate, plain, "Word文件(*.docx)"));
    QCOMPARE(head(plain + ".docx", 2), QByteArray("PK"));
    QCOMPARE(office::withSuffix("a", "Pdf 文件(*.pdf)", {"pdf", "docx"}), QString("a.pdf"));
    QCOMPARE(office::withSuffix("a.PDF", "Word文件(*.docx)", {"pdf", "docx"}), QString("a.PDF"));
    QCOMPARE(office::withSuffix("a.txt", "Word文件(*.docx)", {"pdf", "docx"}),
             QString("a.txt.docx"));
    QVERIFY(office::isWordFile("x.DocX"));
    QVERIFY(!office::isWordFile("x.pdf"));
    QVERIFY(tempIsEmpty(m_tmp.path() + "/tmp"));
}

void DocumentsTest::missingRecordsStopTheExport()
{
    TempDatabase db;
    DocumentRig rig;
    rig.keepRecords = false; // processed before the records were kept: today's count
    QVERIFY(rig.store());
    QVERIFY(sql("delete from equipdata"));
    Form6 page;
    QVERIFY(loadFirst(page));
    const QString target = m_tmp.path() + "/x.docx";
    prompts::queueFileName(target);
    click(&page, "pushButton");
    QVERIFY(shown().last().startsWith("失败|"));
    QVERIFY(shown().last().contains("试验设备“恒温恒湿箱 <A&B>”"));
    QVERIFY(!QFile::exists(target));
    QVERIFY(prompts::recordsOf(prompts::Kind::SaveFile).isEmpty());

    QVERIFY(storage::insertEquipment(rig.equipment).ok);
    QVERIFY(sql("delete from company"));
    click(&page, "pushButton_2"); // the certificate needs the laboratory
    QVERIFY(shown().last().contains("检定单位信息"));
    QVERIFY(!QFile::exists(target));
}

void DocumentsTest::missingTemplate()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    qputenv("ORVEN_TEMPLATES", m_tmp.path().toLocal8Bit()); // holds no template
    Form6 page;
    QVERIFY(loadFirst(page));
    click(&page, "pushButton");
    qputenv("ORVEN_TEMPLATES", old);
    QVERIFY(shown().last().startsWith("失败|找不到模板文件"));
    QVERIFY(shown().last().contains("M702.docx"));

    // A job given a template that is gone fails the same way.
    office::DocumentJob job;
    job.templatePath = m_tmp.path() + "/none.docx";
    job.target = m_tmp.path() + "/out.docx";
    const base::Status st = office::writeDocument(job);
    QVERIFY(!st.ok);
    QVERIFY(st.error.contains("none.docx"));
    QVERIFY(!QFile::exists(job.target));
}

void DocumentsTest::libreOfficeNotFound()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const QString own = m_tmp.path() + "/own";
    QVERIFY(QDir().mkpath(own) && !ownTemplate("databook.docx", own).isEmpty());
    const QByteArray installed = qgetenv("ORVEN_TEMPLATES");
    qputenv("PATH", (m_tmp.path() + "/tmp").toLocal8Bit()); // no soffice there
    QVERIFY(office::findSoffice().isEmpty());
    Form6 page;
    QVERIFY(loadFirst(page));
    // The installed template's PDF needs no LibreOffice: it is drawn.
    QVERIFY(exportFrom(page, DocumentKind::Certificate, m_tmp.path() + "/drawn.pdf"));
    QCOMPARE(shown().last(), QString("提示|导出成功!"));
    QCOMPARE(head(m_tmp.path() + "/drawn.pdf"), QByteArray("%PDF"));
    // A laboratory's own template does.
    qputenv("ORVEN_TEMPLATES", own.toLocal8Bit());
    const QString target = m_tmp.path() + "/c.pdf";
    QVERIFY(exportFrom(page, DocumentKind::Certificate, target));
    qputenv("ORVEN_TEMPLATES", installed);
    QVERIFY(shown().last().startsWith("失败|没有找到 LibreOffice"));
    QVERIFY(shown().last().contains(".docx")); // what to do instead
    QVERIFY(!QFile::exists(target));
}

void DocumentsTest::conversionKilledByItsTimeLimit()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    // A converter that never finishes and leaves a child behind.
    const QString script = m_tmp.path() + "/slow-soffice";
    const QString pidFile = m_tmp.path() + "/child.pid";
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(("#!/bin/sh\nsleep 60 &\necho $! > " + pidFile + "\nwait\n").toLocal8Bit());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ORVEN_SOFFICE", script.toLocal8Bit());

    office::DocumentJob job;
    job.kind = DocumentKind::Certificate;
    job.calibration = loaded(db.path(), rig.fixture.begin);
    job.points = results::computeResults(job.calibration);
    job.sources = office::DocumentSources{rig.equipment, rig.collector, rig.company};
    // A laboratory's own template: converted by LibreOffice.
    job.templatePath = ownTemplate("databook.docx", m_tmp.path());
    QVERIFY(!job.templatePath.isEmpty());
    job.target = m_tmp.path() + "/late.pdf";
    job.timeoutMs = 1500;
    const base::Status st = office::writeDocument(job);
    QVERIFY(!st.ok);
    QVERIFY2(st.error.contains("超过"), qPrintable(st.error));
    QVERIFY(!QFile::exists(job.target));
    QVERIFY(tempIsEmpty(m_tmp.path() + "/tmp"));
    // The converter's own children are gone too.
    QFile pid(pidFile);
    QVERIFY(pid.open(QIODevice::ReadOnly));
    const QString proc = "/proc/" + QString::fromLatin1(pid.readAll().trimmed());
    QVERIFY(waitUntil([&] { return !QFile::exists(proc); }, 3000));
}

void DocumentsTest::pdfCarriesTheTextsAndEmbedsACjkFont()
{
    if (office::findSoffice().isEmpty())
        QFAIL("LibreOffice is required (scripts/install-deps.sh installs it)");
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    // The installed template's PDF is drawn directly; a laboratory's own
    // goes through LibreOffice. Both carry the texts in the same faces.
    const QString installed = qEnvironmentVariable("ORVEN_TEMPLATES");
    const QString own = m_tmp.path() + "/own";
    QVERIFY(QDir().mkpath(own) && !ownTemplate("databook.docx", own).isEmpty());
    for (const QString &templates : {installed, own}) {
        qputenv("ORVEN_TEMPLATES", templates.toLocal8Bit());
        const QString target =
            m_tmp.path() + (templates == own ? "/own-certificate" : "/certificate");
        Form6 page;
        QVERIFY(loadFirst(page));
        QVERIFY(exportFrom(page, DocumentKind::Certificate, target, "Pdf 文件(*.pdf)"));
        QCOMPARE(shown().last(), QString("提示|导出成功!"));
        QCOMPARE(head(target + ".pdf"), QByteArray("%PDF"));
        // The export is in the audit trail, with its calibration.
        const base::Result<QList<storage::AuditRow>> trail = storage::auditRows({}, {}, {});
        QVERIFY(trail.ok && !trail.value.isEmpty());
        QCOMPARE(trail.value.last().action, QString("导出校准证书"));
        QCOMPARE(trail.value.last().object, "校准 " + page.loadedCalibration()->header.dtbegin);
        QVERIFY(tempIsEmpty(m_tmp.path() + "/tmp"));

        QProcess text;
        text.start("pdftotext", {"-layout", target + ".pdf", "-"});
        QVERIFY(text.waitForFinished(30000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        for (const char *expected : {"校准证书", "恒温恒湿箱 <A&B>", "2025-05-01",
                                     "校准参数 温度/℃", "均匀度:0.333", "(沪)法计(2024)01"})
            QVERIFY2(out.contains(QString::fromUtf8(expected).simplified().section(' ', 0, 0)),
                     expected);
        QProcess fonts;
        fonts.start("pdffonts", {target + ".pdf"});
        QVERIFY(fonts.waitForFinished(30000));
        const QStringList lines = QString::fromUtf8(fonts.readAllStandardOutput()).split('\n');
        // Every CJK font embedded, and the simplified Chinese faces, never the
        // Japanese first face of the collections.
        int embeddedCjk = 0;
        for (const QString &line : lines)
            if (line.contains("CJK")) {
                QVERIFY2(line.contains("CJKsc") && line.contains(" yes "),
                         qPrintable(templates + ": " + line));
                ++embeddedCjk;
            }
        QVERIFY2(embeddedCjk > 0, qPrintable(lines.join('\n')));
    }
    qputenv("ORVEN_TEMPLATES", installed.toLocal8Bit());
    // The installed templates name 宋体, 黑体 and 新宋体, as a customer's Word has.
    for (const char *name : {"M702.docx", "databook.docx"}) {
        const base::Result<QList<office::ZipEntry>> zip =
            office::readZip(qEnvironmentVariable("ORVEN_TEMPLATES") + '/' + name);
        QVERIFY2(zip.ok, name);
        QString styles;
        for (const office::ZipEntry &e : zip.value)
            if (e.name == "word/styles.xml")
                styles = QString::fromUtf8(e.data);
        for (const char *font : {"宋体", "黑体", "新宋体", "Times New Roman", "Arial"})
            QVERIFY2(styles.contains(QString::fromUtf8(font)), font);
        QVERIFY2(!styles.contains("=\"Noto"), name); // no font attribute names Noto
    }
    // What is no font collection is refused, not read past its end.
    for (const QByteArray &bad :
         {QByteArray("ttcf\0\1\0\0\0\0\0\x09", 12), QByteArray("OTTO"), QByteArray()})
        QVERIFY(!office::faceOfCollection(bad, "Noto Serif CJK SC").ok);
}

QTEST_MAIN(DocumentsTest)
#include "tst_documents.moc"
