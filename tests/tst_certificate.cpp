// The certificate a laboratory signs: the standard layout read back from its
// parts and its PDF, the number register, the records kept at processing,
// standards out of date, and blocks and rows that never break across pages.

#include "office/conversion.h"
#include "office/sources.h"
#include "office/standardcertificate.h"
#include "office/zippackage.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "storage/statements.h"
#include "tests/docskit.h"
#include "tests/testkit.h"

#include <QDate>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

using namespace testkit;

namespace {

QByteArray part(const QString &docx, const QString &name)
{
    const base::Result<QList<office::ZipEntry>> z = office::readZip(docx);
    for (const office::ZipEntry &e : z.value)
        if (e.name == name)
            return e.data;
    return QByteArray();
}

// A part's text: paragraphs end in "\n", table cells are separated by "|".
QString text(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    QString out;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isEndElement() && r.name() == QLatin1String("p"))
            out += QLatin1Char('\n');
        if (r.isEndElement() && r.name() == QLatin1String("tc"))
            out += QLatin1Char('|');
        if (r.isStartElement() && r.name() == QLatin1String("t"))
            out += r.readElementText();
    }
    return r.hasError() ? QStringLiteral("XML ERROR ") + r.errorString() : out;
}

// The PDF's pages as pdftotext lays them out.
QStringList pdfPages(const QString &pdf)
{
    QProcess info;
    info.start("pdfinfo", {pdf});
    info.waitForFinished(30000);
    const QRegularExpressionMatch m = QRegularExpression("Pages:\\s+(\\d+)")
                                          .match(QString::fromUtf8(info.readAllStandardOutput()));
    QStringList pages;
    for (int n = 1; m.hasMatch() && n <= m.captured(1).toInt(); ++n) {
        QProcess t;
        t.start("pdftotext",
                {"-layout", "-f", QString::number(n), "-l", QString::number(n), pdf, "-"});
        t.waitForFinished(30000);
        pages << QString::fromUtf8(t.readAllStandardOutput());
    }
    return pages;
}

storage::Collector collectorTwo()
{
    return storage::Collector::fromRow({"2", "采集器二", "M701-TC", "/dev/ttyS1", "ORV7010002",
                                        "0.2", "", "0.01", "", "ZS-2024-077", "0.12", "", "2", "",
                                        "2025-09-30"});
}

// Two collectors, three temperature channels and one humidity channel on
// collector one, two temperature channels on collector two; point 4 has
// no samples.
DocumentRig twoCollectorRig()
{
    DocumentRig rig;
    rig.fixture.channels = QStringList{"101", "102", "103", "101", "102"};
    rig.fixture.kindsA = "2;1;0;";
    rig.fixture.typesA = "001";
    rig.fixture.kindsB = "2;0;0;";
    rig.fixture.typesB = "00";
    rig.fixture.tem = QStringList{"25", "40", "60", "80"};
    rig.fixture.hum = QStringList{"50", "60", "70", "80"};
    rig.fixture.samples.clear();
    rig.fixture.add(1, "25.000;25.400;50.000;25.200;24.900;", 2);
    rig.fixture.add(1, "25.100;25.300;51.000;25.100;24.800;", 1);
    rig.fixture.add(2, "40.000;40.200;60.500;40.100;39.900;", 2);
    rig.fixture.add(3, "60.000;60.100;70.000;60.300;59.950;", 2);
    rig.collector2 = collectorTwo();
    return rig;
}

bool hasAll(const QString &haystack, const QStringList &needles, QString *missing)
{
    for (const QString &n : needles)
        if (!haystack.contains(n)) {
            *missing = n;
            return false;
        }
    return true;
}

} // namespace

class CertificateTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { prompts::setScripted(true); }
    void standardCertificateCarriesEverything();
    void numbersAreNeverGivenTwice();
    void aFailedExportUsesUpNoNumber();
    void anIssuedCertificateNeverChanges();
    void recordsNotKeptAreTakenOnlyByChoice();
    void nextCalibrationOnlyWhenTheCustomerAsked();
    void theLayoutDrawingIsOnTheCertificate();
    void departuresFromTheMethodAreStated_data();
    void departuresFromTheMethodAreStated();
    void refusedWithoutWhatMakesItACertificate_data();
    void refusedWithoutWhatMakesItACertificate();
    void recordsAreFrozenAtProcessing();
    void expiredStandardsAreAskedAboutAndStated();
    void nothingBreaksAcrossPages();
};

void CertificateTest::standardCertificateCarriesEverything()
{
    TempDatabase db;
    DocumentRig rig = twoCollectorRig();
    QVERIFY(rig.store());
    const QString docx = db.dir() + "/standard.docx";
    ToolRun r =
        runReport({"--db", db.path(), "certificate", rig.fixture.begin, docx, "--layout",
                   "standard", "--calibrator", "张三", "--checker", "李四", "--approver", "王五"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QJsonObject issued = QJsonDocument::fromJson(r.out).object();
    const QString number = issued.value("number").toString();
    QCOMPARE(number, QString("%1-0001").arg(QDate::currentDate().year()));
    QCOMPARE(issued.value("copy").toBool(), false);

    // Every page: the laboratory, the number, page x of y as fields.
    const QString header = text(part(docx, "word/header1.xml"));
    QVERIFY(header.contains("某计量院") && header.contains(number));
    const QByteArray footer = part(docx, "word/footer1.xml");
    QVERIFY(footer.contains("PAGE") && footer.contains("NUMPAGES"));
    QVERIFY(text(footer).contains("第") && text(footer).contains("共"));
    const QByteArray document = part(docx, "word/document.xml");
    QVERIFY(document.contains("w:headerReference") && document.contains("w:footerReference"));
    // The fonts a Chinese Word has, Chinese text tagged as such.
    const QString styles = QString::fromUtf8(part(docx, "word/styles.xml"));
    QVERIFY2(styles.contains("w:eastAsia=\"宋体\"") && styles.contains("Times New Roman") &&
                 styles.contains("w:eastAsia=\"zh-CN\"") && !styles.contains("Noto"),
             qPrintable(styles.left(600)));

    const QString body = text(document);
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    QString missing;
    QVERIFY2(
        hasAll(body,
               {// title, laboratory, place
                "校 准 证 书", "某计量院", "实验路 8 号", "021-1234", "(沪)法计(2024)01", "实验室",
                // customer and item
                "客户 \"甲\"", "上海市 1 号", "恒温恒湿箱 <A&B>", "HW-100", "EQ-7", "制造厂",
                "2020-01", "20 ～ 60 ℃", "40 ～ 80 %RH",
                // dates: calibration, issue
                "2024-05-01", today,
                // method, conditions, both standards, traceability
                "JJF 1101-2019《环境试验设备温度、湿度参数校准规范》", "23", "55", "ORV7020001",
                "ZS-2024-001", "2025-06-30", "ORV7010002", "ZS-2024-077", "2025-09-30", "溯源",
                // closing statements and signatures
                "仅对所校准的器具有效", "不得部分复制", "以下空白", "张三", "李四", "王五",
                "校准员", "核验员", "批准人"},
               &missing),
        qPrintable(missing));
    // No recommended date of the next calibration: nobody asked for one
    // (it came out before the issue date, too).
    QVERIFY(!body.contains("建议下次校准日期") && !body.contains("2025-05-01"));
    // The results: one table per kind, the unit in every heading.
    for (const char *heading : {"设定值(℃)", "上偏差(℃)", "下偏差(℃)", "均匀度(℃)", "波动度(±)(℃)",
                                "U(k=2)(℃)", "设定值(%RH)", "U(k=2)(%RH)"})
        QVERIFY2(body.contains(QString::fromUtf8(heading)), heading);
    // Point 1 over both collectors: temperature 24.800 … 25.400. A figure
    // from one channel takes its own collector's standard and its s: the
    // upper deviation (1-102) and the fluctuation (centre 1-101) collector
    // one's 0.05 ℃ k=2, the lower deviation (2-102) collector two's 0.12;
    // the uniformity, over both, the larger. Three scans: where s dominates,
    // k comes from ν_eff and is printed. Humidity from collector one's
    // alone (collector two has no humidity channel).
    const QString cells = QString(body).remove('\n');
    QVERIFY2(cells.contains(
                 "检点1|25|0.40|0.27(k=4.30)|-0.20|0.19(k=2.31)|0.50|0.18|±0.050|0.055(k=2.26)|"),
             qPrintable(cells.mid(cells.indexOf("检点1|25"), 60)));
    // One humidity location: no uniformity (it printed 0.0 with a U), said why.
    QVERIFY2(cells.contains("检点1|50|1.0|2.0(k=2.78)|0.0|2.0(k=2.78)|—|—|±0.50|0.66|"),
             qPrintable(cells.mid(cells.indexOf("检点1|50"), 60)));
    QVERIFY(cells.contains("湿度只有一个测量位置，均匀度至少需要两个测量位置，不给出。"));
    // Point 4 has no samples: no row, a remark.
    QVERIFY(!cells.contains("|80|"));
    QVERIFY(cells.contains("注：检点4 没有温度读数，未列出。"));
    QVERIFY(!body.contains("无数据"));
    // Rows never split, the heading repeats.
    QVERIFY(document.contains("<w:cantSplit/>"));
    QVERIFY(document.contains("<w:tblHeader/>"));

    if (office::findSoffice().isEmpty())
        QFAIL("LibreOffice is required (scripts/install-deps.sh installs it)");
    const QString pdf = db.dir() + "/standard.pdf";
    r = runReport(
        {"--db", db.path(), "certificate", rig.fixture.begin, pdf, "--layout", "standard"});
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(QJsonDocument::fromJson(r.out).object().value("number").toString(), number);
    const QStringList pages = pdfPages(pdf);
    QVERIFY(!pages.isEmpty());
    for (int i = 0; i < pages.size(); ++i) {
        const QString p = pages[i].simplified();
        const QString packed = QString(p).remove(' ');
        QVERIFY2(packed.contains(QString("第%1页共%2页").arg(i + 1).arg(pages.size())),
                 qPrintable(p.right(300)));
        QVERIFY(p.contains(number));
    }
    const QString all = pages.join('\n');
    QVERIFY2(hasAll(QString(all).remove(' '),
                    {"校准证书", "副本", "ORV7010002", "ZS-2024-077", "以下空白", "张三"},
                    &missing),
             qPrintable(missing));
}

void CertificateTest::numbersAreNeverGivenTwice()
{
    TempDatabase db;
    DocumentRig first;
    QVERIFY(first.store());
    DocumentRig second;
    second.fixture.begin = "2024-06-01 08:00:00";
    QVERIFY(second.store());
    const QDateTime now(QDate(2026, 3, 5), QTime(9, 0));

    // Through the register: the same content again is a copy, other
    // content an amendment with the next number, replacing the one in force.
    auto issue = [](const QString &dtbegin, const QDateTime &when, const QString &fingerprint) {
        const base::Result<storage::Certificate> planned =
            storage::nextCertificate(dtbegin, "JJF 1101-2019", "standard", when, fingerprint, "{}");
        return planned ? storage::issueCertificate(planned.value) : planned;
    };
    struct Step
    {
        QString dtbegin;
        QDateTime when;
        QString fingerprint;
        QString number;
        int prints;
        QString replaces;
    };
    const QList<Step> steps{
        {first.fixture.begin, now, "a", "2026-0001", 1, ""},
        {second.fixture.begin, now, "a", "2026-0002", 1, ""},
        {first.fixture.begin, now.addDays(3), "a", "2026-0001", 2, ""},           // a copy
        {second.fixture.begin, now.addDays(4), "b", "2026-0003", 1, "2026-0002"}, // amended
        {second.fixture.begin, now.addDays(5), "b", "2026-0003", 2, ""},          // a copy of it
        {second.fixture.begin, now.addDays(6), "a", "2026-0004", 1, "2026-0003"}, // back: amended
    };
    for (const Step &s : steps) {
        const base::Result<storage::Certificate> c = issue(s.dtbegin, s.when, s.fingerprint);
        QVERIFY2(c.ok, qPrintable(c.error));
        QCOMPARE(c.value.number, s.number);
        QCOMPARE(c.value.prints, s.prints);
        if (s.prints == 1)
            QCOMPARE(c.value.replaces, s.replaces);
    }
    // A plan overtaken by another station's issue is refused, and takes nothing.
    const base::Result<storage::Certificate> stale =
        storage::nextCertificate(first.fixture.begin, "JJF 1101-2019", "standard", now, "c", "{}");
    QVERIFY(issue(first.fixture.begin, now, "d").ok);
    QVERIFY(stale.ok && !storage::issueCertificate(stale.value).ok);
    const QList<storage::Certificate> afterSteps = storage::listCertificates().value;
    QCOMPARE(afterSteps.size(), 5);
    QCOMPARE(afterSteps[1].replacedBy, QString("2026-0003"));
    QCOMPARE(afterSteps[2].replacedBy, QString("2026-0004"));
    // A new year starts the sequence again; a pattern with the month.
    DocumentRig third;
    third.fixture.begin = "2026-12-30 08:00:00";
    QVERIFY(third.store());
    QVERIFY(storage::setCertificatePattern("JZ-yy-MM-nnn").ok);
    base::Result<storage::Certificate> c =
        issue(third.fixture.begin, QDateTime(QDate(2027, 1, 2), QTime(8, 0)), "a");
    QVERIFY(c.ok);
    QCOMPARE(c.value.number, QString("JZ-27-01-001"));
    // Patterns without a sequence, or with a path separator, are refused.
    for (const char *bad : {"yyyy", "", "JZ/nnnn"})
        QVERIFY2(!storage::setCertificatePattern(bad).ok, bad);
    QVERIFY(!storage::validCertificatePattern("yyyy"));

    // Through the tool: a third calibration's first print, then its copy.
    DocumentRig fourth;
    fourth.fixture.begin = "2024-07-01 08:00:00";
    QVERIFY(fourth.store());
    QVERIFY(storage::setCertificatePattern("yyyy-nnnn").ok);
    const QString docx = db.dir() + "/c.docx";
    const int year = QDate::currentDate().year();
    for (int print = 1; print <= 2; ++print) {
        const ToolRun r = runReport(
            {"--db", db.path(), "certificate", fourth.fixture.begin, docx, "--layout", "standard"});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o.value("copy").toBool(), print == 2);
        const QString expected =
            QString("%1-%2").arg(year).arg(year == 2026 ? 6 : 1, 4, 10, QLatin1Char('0'));
        QCOMPARE(o.value("number").toString(), expected);
        QCOMPARE(text(part(docx, "word/header1.xml")).contains("副本"), print == 2);
    }
    // The register keeps the files' digests, and list shows each calibration's.
    const QList<storage::Certificate> all = storage::listCertificates().value;
    QCOMPARE(all.size(), 7);
    bool digested = false;
    for (const storage::Certificate &cert : all)
        digested = digested || cert.files.contains(QRegularExpression("[0-9a-f]{64}"));
    QVERIFY(digested);
    const ToolRun list = runReport({"--db", db.path(), "list"});
    QVERIFY(list.code == 0);
    QVERIFY(list.out.contains("\"certificates\": [") && list.out.contains("2026-0001"));

    // A calibration with a certificate stays (its certificate leads back to
    // its data); 全清 refuses while any has one; one without may go.
    const base::Result<int> kept = storage::deleteCalibration(first.fixture.begin);
    QVERIFY2(!kept.ok && kept.error.contains("2026-0001"), qPrintable(kept.error));
    const base::Status cleared = storage::clearCalibrations();
    QVERIFY2(!cleared.ok && cleared.error.contains("不能全清"), qPrintable(cleared.error));
    QVERIFY(storage::headerExists(first.fixture.begin).value);
    DocumentRig fifth;
    fifth.fixture.begin = "2024-08-01 08:00:00";
    QVERIFY(fifth.store());
    QCOMPARE(storage::deleteCalibration(fifth.fixture.begin).value,
             int(fifth.fixture.samples.size()));
}

// A number is taken with the file written: an export that fails (a folder
// that does not exist) leaves the register as it was, and the first file
// really written is the original, not a copy.
void CertificateTest::aFailedExportUsesUpNoNumber()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const ToolRun failed = runReport({"--db", db.path(), "certificate", rig.fixture.begin,
                                      db.dir() + "/no/such/folder/c.docx", "--layout", "standard"});
    QCOMPARE(failed.code, 1);
    QVERIFY(storage::listCertificates().value.isEmpty());
    const QString docx = db.dir() + "/c.docx";
    const ToolRun done = runReport(
        {"--db", db.path(), "certificate", rig.fixture.begin, docx, "--layout", "standard"});
    QVERIFY2(done.code == 0, done.err.constData());
    const QJsonObject o = QJsonDocument::fromJson(done.out).object();
    QCOMPARE(o.value("copy").toBool(), false);
    QCOMPARE(o.value("number").toString(), QString("%1-0001").arg(QDate::currentDate().year()));
    QVERIFY(!text(part(docx, "word/header1.xml")).contains("副本"));
    const QList<storage::Certificate> all = storage::listCertificates().value;
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().prints, 1);
    QVERIFY(all.first().files.contains(QRegularExpression("[0-9a-f]{64}")));
}

// Issue, copy, change, issue again: a copy is the document as issued with
// the stamp, anything that changes the content is an amendment.
void CertificateTest::anIssuedCertificateNeverChanges()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const int year = QDate::currentDate().year();
    auto number = [&](int seq) { return QString("%1-%2").arg(year).arg(seq, 4, 10, QChar('0')); };
    struct Step
    {
        const char *change; // before the export
        QStringList options;
        int seq;
        bool copy;
        int replaces; // 0: none; a copy carries its original's
    };
    const QList<Step> steps{
        {"", {"--calibrator", "张三", "--checker", "李四", "--approver", "王五"}, 1, false, 0},
        {"", {}, 1, true, 0},                        // the same content: a copy, signers as issued
        {"method", {}, 2, false, 1},                 // other evaluation settings: amended
        {"", {}, 2, true, 1},                        // a copy of the amendment
        {"", {"--calibrator", "赵六"}, 3, false, 2}, // another signer: amended again
    };
    QByteArray original;
    for (int i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        if (QByteArray(step.change) == "method") {
            results::EvaluationSettings other;
            other.method = results::Method::Iec60068;
            QVERIFY(storage::storeEvaluationSettings(rig.fixture.begin, other.toJson()).ok);
        }
        const QString docx = db.dir() + QString("/c%1.docx").arg(i);
        const ToolRun r = runReport(QStringList{"--db", db.path(), "certificate", rig.fixture.begin,
                                                docx, "--layout", "standard"} +
                                    step.options);
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o.value("number").toString(), number(step.seq));
        QCOMPARE(o.value("copy").toBool(), step.copy);
        QCOMPARE(o.value("replaces").toString(), step.replaces ? number(step.replaces) : QString());
        const QByteArray body = part(docx, "word/document.xml");
        QCOMPARE(text(part(docx, "word/header1.xml")).contains("副本"), step.copy);
        QCOMPARE(text(body).contains(office::replacesText(number(step.replaces))),
                 step.replaces != 0);
        if (i == 0)
            original = body;
        if (i == 1) // identical but for the stamp: same date, signers, figures
            QCOMPARE(body, original);
        if (step.replaces == 1) {
            QVERIFY(text(body).contains("IEC 60068-3-5"));
            // A heading breaks between words only.
            QVERIFY(body.contains(">实现值</w:t><w:br/>"));
        }
        if (i == 2) // the amendment is issued today, signed as before
            QVERIFY(text(body).contains("王五"));
    }
    // The register: the replaced ones are void and name their successor;
    // the documents kept are the ones issued.
    const QList<storage::Certificate> all = storage::listCertificates().value;
    QCOMPARE(all.size(), 3);
    QCOMPARE(all[0].replacedBy, number(2));
    QCOMPARE(all[1].replacedBy, number(3));
    QVERIFY(all[2].replacedBy.isEmpty());
    const QList<storage::IssuedFile> kept = storage::issuedFiles(number(1)).value;
    QCOMPARE(kept.size(), 1);
    QFile first(db.dir() + "/c0.docx");
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(kept.first().bytes, first.readAll());
    const ToolRun list = runReport({"--db", db.path(), "list"});
    QVERIFY(list.out.contains(QString("\"replacedBy\": \"%1\"").arg(number(2)).toUtf8()));
    QVERIFY(list.out.contains("\"inForce\": false") && list.out.contains("\"inForce\": true"));
    // A kept document changed behind the register's back is not handed out.
    QVERIFY(sql("update certificate_file set content='AAAA' where number='" + number(3) + "'"));
    const ToolRun tampered = runReport({"--db", db.path(), "certificate", rig.fixture.begin,
                                        db.dir() + "/t.docx", "--layout", "standard"});
    QCOMPARE(tampered.code, 1);
    QVERIFY2(QString::fromUtf8(tampered.err).contains("摘要不符"), tampered.err.constData());
}

// A calibration processed before records were kept: refused on today's
// records, issued once somebody takes them (named on the certificate), and
// every channel's standard from its own collector.
void CertificateTest::recordsNotKeptAreTakenOnlyByChoice()
{
    TempDatabase db;
    DocumentRig rig = twoCollectorRig();
    rig.keepRecords = false;
    QVERIFY(rig.store());
    const QString docx = db.dir() + "/c.docx";
    struct Attempt
    {
        QStringList options;
        QString refusal; // empty: issued
    };
    const QList<Attempt> attempts{
        {{}, "没有保存当时的设备、标准器和单位记录"},
        {{"--adopt-records", "张三"}, "第二台采集器"},
        {{"--adopt-records", "张三", "--collector2", "NO-SUCH"}, "没有序列号为 NO-SUCH 的采集器"},
        {{"--adopt-records", "张三", "--collector2", rig.collector2.serialnum}, ""},
    };
    for (const Attempt &a : attempts) {
        const ToolRun r = runReport(QStringList{"--db", db.path(), "certificate", rig.fixture.begin,
                                                docx, "--layout", "standard"} +
                                    a.options);
        if (!a.refusal.isEmpty()) {
            QCOMPARE(r.code, 1);
            QVERIFY2(QString::fromUtf8(r.err).contains(a.refusal), r.err.constData());
            QVERIFY(storage::listCertificates().value.isEmpty());
            continue;
        }
        QVERIFY2(r.code == 0, r.err.constData());
    }
    const QString body = text(part(docx, "word/document.xml"));
    QVERIFY(body.contains("由 张三 于") && body.contains("确认采用"));
    // Collector two's standard is in, and its U (0.12 k=2) on its channel's
    // lower deviation of point 1.
    QVERIFY(body.contains("ZS-2024-077"));
    QVERIFY(QString(body).remove('\n').contains("检点1|25|0.40|0.27(k=4.30)|-0.20|0.19(k=2.31)|"));
    // Taken once: later changes of the records do not reach it.
    storage::Collector one = rig.collector;
    one.zhengshu = "ZS-2030-999";
    QVERIFY(storage::replaceCollector(one).ok);
    const ToolRun again = runReport({"--db", db.path(), "certificate", rig.fixture.begin,
                                     db.dir() + "/again.docx", "--layout", "standard"});
    QVERIFY2(again.code == 0, again.err.constData());
    QCOMPARE(QJsonDocument::fromJson(again.out).object().value("copy").toBool(), true);
}

// A recommended date of the next calibration only when the customer asked
// for an interval (kept with the equipment), counted from the issue date.
void CertificateTest::nextCalibrationOnlyWhenTheCustomerAsked()
{
    office::StandardCertificateJob job;
    job.issueDate = "2026-12-09";
    for (const auto &[interval, expected] : {std::pair<QString, QString>{"", ""},
                                             {"0", ""},
                                             {"x", ""},
                                             {"12", "2027-12-09"},
                                             {"6", "2027-06-09"}}) {
        job.records.equipmentExtra.intervalMonths = interval;
        QCOMPARE(office::nextCalibrationDate(job), expected);
    }
    TempDatabase db;
    DocumentRig rig;
    rig.equipmentExtra.intervalMonths = "12";
    QVERIFY(rig.store());
    const QString docx = db.dir() + "/c.docx";
    const ToolRun r = runReport(
        {"--db", db.path(), "certificate", rig.fixture.begin, docx, "--layout", "standard"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QString next = QDate::currentDate().addMonths(12).toString("yyyy-MM-dd");
    QVERIFY(text(part(docx, "word/document.xml"))
                .remove('\n')
                .contains("建议下次校准日期|" + next + "（按委托方要求）"));
}

// A run with a layout: the drawing in the package and on a PDF page, the
// centre named, each location's channels listed; a run without: none.
void CertificateTest::theLayoutDrawingIsOnTheCertificate()
{
    TempDatabase db;
    DocumentRig rig;
    rig.equipmentExtra.layout = "9";
    QVERIFY(storage::storeChannelLocations(storage::Device::A,
                                           {{"101", "O"}, {"102", "A"}, {"103", "O"}})
                .ok);
    QVERIFY(rig.store());
    const QString pdf = db.dir() + "/c.pdf";
    const QString docx = db.dir() + "/c.docx";
    for (const QString &target : {docx, pdf}) {
        const ToolRun r = runReport(
            {"--db", db.path(), "certificate", rig.fixture.begin, target, "--layout", "standard"});
        QVERIFY2(r.code == 0, r.err.constData());
    }
    QImage drawing;
    QVERIFY(drawing.loadFromData(part(docx, "word/media/layout.png"), "PNG"));
    QCOMPARE(drawing.size(), QSize(1200, 900));
    QVERIFY(part(docx, "word/_rels/document.xml.rels").contains("media/layout.png"));
    const QByteArray document = part(docx, "word/document.xml");
    QVERIFY(document.contains("r:embed=\"rIdLayout\""));
    const QString body = text(document).remove('\n');
    QString missing;
    QVERIFY2(hasAll(body,
                    {"布点示意图", "中心位置 O", "A：1-102", "O：1-101、1-103", "B：—",
                     "1-101 在位置 O"},
                    &missing),
             qPrintable(missing));
    // The PDF carries it as an image.
    QProcess images;
    images.start("pdfimages", {"-list", pdf});
    QVERIFY(images.waitForFinished(30000));
    QVERIFY2(QString::fromUtf8(images.readAllStandardOutput()).contains(" 1200   900 "),
             "no 1200×900 image in the PDF");
    // Without a layout there is no drawing and no dangling relationship.
    TempDatabase plain;
    DocumentRig none;
    QVERIFY(none.store());
    const QString bare = plain.dir() + "/bare.docx";
    QVERIFY(runReport({"--db", plain.path(), "certificate", none.fixture.begin, bare, "--layout",
                       "standard"})
                .code == 0);
    QVERIFY(part(bare, "word/media/layout.png").isEmpty());
    QVERIFY(!part(bare, "word/_rels/document.xml.rels").contains("rIdLayout"));
}

void CertificateTest::departuresFromTheMethodAreStated_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("locations");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("expected");
    const int jjf = int(results::Method::Jjf1101), iec = int(results::Method::Iec60068),
              dkd = int(results::Method::Dkd57), gbt = int(results::Method::Gbt5170);
    QTest::newRow("JJF, as asked") << jjf << 9 << 30 << QStringList();
    QTest::newRow("JJF, 4 locations, 10 min")
        << jjf << 4 << 10
        << QStringList{"本次布点 4 个，少于规范要求的 9 个",
                       "检点1（10.0 min）的数据时长少于规范要求的 30 min"};
    QTest::newRow("GB/T, 4 locations")
        << gbt << 4 << 10 << QStringList{"本次布点 4 个，少于规范要求的 9 个"};
    QTest::newRow("DKD, 10 min") << dkd << 4 << 10
                                 << QStringList{"检点1（10.0 min）的数据时长少于规范要求的 30 min"};
    QTest::newRow("IEC asks neither") << iec << 4 << 10 << QStringList();
}

void CertificateTest::departuresFromTheMethodAreStated()
{
    QFETCH(int, method);
    QFETCH(int, locations);
    QFETCH(int, minutes);
    QFETCH(QStringList, expected);
    results::Evaluation e;
    e.method = results::Method(method);
    results::PointEvaluation p;
    p.point = 1;
    p.samples = minutes + 1;
    p.first = "2024-05-01 10:00:00";
    p.last = QDateTime::fromString(p.first, "yyyy-MM-dd HH:mm:ss")
                 .addSecs(60 * minutes)
                 .toString("yyyy-MM-dd HH:mm:ss")
                 .toLatin1();
    p.t.channels = locations;
    p.t.centre = "1-101";
    e.points << p;
    QCOMPARE(office::methodDeviations(e), expected);
    // The conditions: the centre, the interval, scans and duration per point.
    const auto rows = office::conditionRows(e);
    QCOMPARE(rows.value(0).second, QString("温度 1-101"));
    QCOMPARE(rows.value(1).second, QString("约 60 s"));
    QCOMPARE(rows.value(2).second, QString("检点1：%1 次，%2.0 min").arg(minutes + 1).arg(minutes));
}

void CertificateTest::refusedWithoutWhatMakesItACertificate_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("the standard's U empty") << "standard U"
                                            << "没有不确定度";
    QTest::newRow("a humidity reading of 1e3") << "reading"
                                               << "不是湿度可能的读数";
    QTest::newRow("no channel types") << "update datamark set typesA=''"
                                      << "没有通道类型";
    QTest::newRow("kinds that are no counts") << "update datamark set kindsA='abc'"
                                              << "通道分类";
    QTest::newRow("an empty channel list") << "update datamark set chanlist=''"
                                           << "通道列表为空";
}

// Refused with the reason, exit 1, no number taken and no file written.
void CertificateTest::refusedWithoutWhatMakesItACertificate()
{
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    TempDatabase db;
    DocumentRig rig;
    if (damage == "standard U")
        rig.collector.temnosure.clear();
    if (damage == "reading")
        rig.fixture.add(1, "25.000;25.400;1000.000;");
    QVERIFY(rig.store());
    if (damage.startsWith("update"))
        QVERIFY(sql(damage));
    const QString docx = db.dir() + "/c.docx";
    const ToolRun r = runReport(
        {"--db", db.path(), "certificate", rig.fixture.begin, docx, "--layout", "standard"});
    QCOMPARE(r.code, 1);
    QVERIFY2(QString::fromUtf8(r.err).contains(reason), r.err.constData());
    QVERIFY(storage::listCertificates().value.isEmpty());
    QVERIFY(!QFile::exists(docx));
}

void CertificateTest::recordsAreFrozenAtProcessing()
{
    TempDatabase db;
    DocumentRig rig = twoCollectorRig();
    QVERIFY(rig.store());
    auto exportAll = [&](const QString &tag) {
        QMap<QString, QByteArray> documents;
        for (const QString &kind : {QString("record"), QString("certificate")}) {
            const QString out = db.dir() + "/" + kind + tag + ".docx";
            const ToolRun r = runReport({"--db", db.path(), kind, rig.fixture.begin, out});
            if (r.code != 0)
                qWarning() << r.err;
            documents[kind] = part(out, "word/document.xml");
        }
        const QString out = db.dir() + "/standard" + tag + ".docx";
        const ToolRun r = runReport(
            {"--db", db.path(), "certificate", rig.fixture.begin, out, "--layout", "standard"});
        if (r.code != 0)
            qWarning() << r.err;
        documents["standard"] = part(out, "word/document.xml");
        return documents;
    };
    const QMap<QString, QByteArray> before = exportAll("-before");
    QVERIFY(before["standard"].contains("ZS-2024-077"));

    // The records change after the calibration.
    storage::Collector one = rig.collector;
    one.zhengshu = "ZS-2030-999";
    one.todata = "2031-01-01";
    storage::Collector two = rig.collector2;
    two.zhengshu = "ZS-2030-888";
    storage::Equipment equipment = rig.equipment;
    equipment.companyname = "别的客户";
    equipment.model = "HW-999";
    QVERIFY(storage::replaceCollector(one).ok && storage::replaceCollector(two).ok &&
            storage::replaceEquipment(equipment).ok);
    const QMap<QString, QByteArray> after = exportAll("-after");
    QCOMPARE(after["record"], before["record"]);
    QCOMPARE(after["certificate"], before["certificate"]);
    for (const char *changed : {"ZS-2030-999", "ZS-2030-888", "别的客户", "HW-999"})
        QVERIFY2(!after["standard"].contains(changed), changed);
    QVERIFY(after["standard"].contains("ZS-2024-077") && after["standard"].contains("HW-100"));

    // A calibration processed before the records were kept: today's, said so.
    CalibrationFixture older = rig.fixture;
    older.begin = "2023-01-01 08:00:00";
    QVERIFY(!insertCalibration(older).dtbegin.isEmpty());
    const QString out = db.dir() + "/older.docx";
    const ToolRun r = runReport({"--db", db.path(), "certificate", older.begin, out});
    QVERIFY2(r.code == 0, r.err.constData());
    QVERIFY(QString::fromUtf8(r.err).contains(office::todaysRecordsNote()));
    QVERIFY(part(out, "word/document.xml").contains("ZS-2030-999"));
    const ToolRun kept = runReport({"--db", db.path(), "certificate", rig.fixture.begin, out});
    QVERIFY(!QString::fromUtf8(kept.err).contains(office::todaysRecordsNote()));
}

void CertificateTest::expiredStandardsAreAskedAboutAndStated()
{
    TempDatabase db;
    DocumentRig rig;
    rig.collector.todata = "2024-04-30"; // the day before the calibration
    QVERIFY(rig.store());
    QCOMPARE(office::standardProblems({rig.collector}, rig.fixture.begin).size(), 1);
    QCOMPARE(office::standardProblems({rig.collector}, "2024-04-30 23:59:59").size(), 0);
    storage::Collector undated = rig.collector;
    undated.todata.clear();
    QVERIFY(office::standardProblems({undated}, rig.fixture.begin).value(0).contains("没有有效期"));

    Form6 page;
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    QVERIFY(waitUntil([&] { return page.loadedCalibration() != nullptr; }, 10000));
    const QString standard = db.dir() + "/standard.docx";
    const QString bookmark = db.dir() + "/bookmark.docx";
    struct Case
    {
        const char *button;
        QString target;
        const char *remark; // as the certificate states it
    };
    for (const Case &c : {Case{"pushButton_standard", standard, "早于本次校准日期 2024-05-01"},
                          Case{"pushButton_2", bookmark, "2024-04-30（校准时已过期）"}}) {
        // The question comes first, No is its default: nothing is written.
        prompts::clearRecords();
        click(&page, c.button);
        const QList<prompts::Record> questions = prompts::recordsOf(prompts::Kind::Question);
        QCOMPARE(questions.size(), 1);
        QVERIFY(questions[0].destructive);
        QVERIFY2(questions[0].text.contains("2024-04-30"), qPrintable(questions[0].text));
        QVERIFY(prompts::recordsOf(prompts::Kind::SaveFile).isEmpty());
        QVERIFY(!QFile::exists(c.target));
        // Going on: the certificate says so.
        prompts::queueAnswer(true);
        prompts::queueFields({"甲", "乙", "丙"});
        prompts::queueFileName(c.target);
        click(&page, c.button);
        QVERIFY(waitUntil([&] { return !page.isExporting(); }, 60000));
        QVERIFY2(shown().last().startsWith("提示|导出成功!"), qPrintable(shown().last()));
        QVERIFY2(text(part(c.target, "word/document.xml")).contains(c.remark), c.remark);
    }
    // The tool refuses without --expired-ok.
    for (const QStringList &layout : {QStringList{}, QStringList{"--layout", "standard"}}) {
        const QString out = db.dir() + "/tool.docx";
        ToolRun r = runReport(
            QStringList{"--db", db.path(), "certificate", rig.fixture.begin, out} + layout);
        QCOMPARE(r.code, 1);
        QVERIFY(QString::fromUtf8(r.err).contains("2024-04-30"));
        QVERIFY(!QFile::exists(out));
        r = runReport(
            QStringList{"--db", db.path(), "certificate", rig.fixture.begin, out, "--expired-ok"} +
            layout);
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(QFile::remove(out));
    }
}

// 10 points of temperature and humidity to PDF: every results row of the
// standard certificate on one page under a heading, every point block of
// the record and the bookmark certificate on one page.
void CertificateTest::nothingBreaksAcrossPages()
{
    if (office::findSoffice().isEmpty())
        QFAIL("LibreOffice is required (scripts/install-deps.sh installs it)");
    TempDatabase db;
    DocumentRig rig;
    rig.fixture.samples.clear();
    rig.fixture.tem.clear();
    rig.fixture.hum.clear();
    for (int p = 1; p <= 10; ++p) {
        rig.fixture.tem << QString::number(10 * p);
        rig.fixture.hum << QString::number(30 + 5 * p);
        for (int i = 0; i < 3; ++i)
            rig.fixture.add(p, QString("%1;%2;%3;")
                                   .arg(10 * p + 0.01 * i, 0, 'f', 3)
                                   .arg(10 * p + 0.2, 0, 'f', 3)
                                   .arg(30 + 5 * p + 0.1 * i, 0, 'f', 3));
    }
    QVERIFY(rig.store());

    const QString standard = db.dir() + "/standard.pdf";
    ToolRun r = runReport(
        {"--db", db.path(), "certificate", rig.fixture.begin, standard, "--layout", "standard"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QStringList pages = pdfPages(standard);
    QVERIFY(pages.size() >= 2);
    const QRegularExpression row("检点\\s*(\\d+)((\\s+([-±]?\\d+(\\.\\d+)?|—)){9})\\s*$",
                                 QRegularExpression::MultilineOption);
    int rows = 0;
    for (const QString &page : pages) {
        QRegularExpressionMatchIterator it = row.globalMatch(page);
        if (it.hasNext())
            QVERIFY2(page.contains("设定值"), qPrintable(page)); // the heading repeats
        while (it.hasNext()) {
            it.next();
            ++rows;
        }
    }
    QCOMPARE(rows, 20);

    for (const QString &kind : {QString("record"), QString("certificate")}) {
        const QString pdf = db.dir() + "/" + kind + ".pdf";
        r = runReport({"--db", db.path(), kind, rig.fixture.begin, pdf});
        QVERIFY2(r.code == 0, r.err.constData());
        const QStringList blocks = pdfPages(pdf);
        QVERIFY(blocks.size() >= 2);
        const QRegularExpression start("^\\s*校准点\\s*(\\d+)\\s*$",
                                       QRegularExpression::MultilineOption);
        QList<int> seen;
        for (const QString &page : blocks) {
            QList<QRegularExpressionMatch> starts;
            for (QRegularExpressionMatchIterator it = start.globalMatch(page); it.hasNext();)
                starts << it.next();
            // Nothing of a block before the first start: no block continues here.
            const QString before =
                page.left(starts.isEmpty() ? page.size() : starts[0].capturedStart());
            QVERIFY2(!before.contains("校准不确定度"), qPrintable(kind + ":\n" + page));
            for (int i = 0; i < starts.size(); ++i) {
                const int end = i + 1 < starts.size() ? starts[i + 1].capturedStart() : page.size();
                const QString block =
                    page.mid(starts[i].capturedStart(), end - starts[i].capturedStart());
                seen << starts[i].captured(1).toInt();
                QVERIFY2(block.count("校准不确定度") == 2, qPrintable(kind + ":\n" + block));
                if (kind == "record")
                    QVERIFY(block.contains("最大值") && block.contains("最小值"));
            }
        }
        QCOMPARE(seen, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }
}

QTEST_MAIN(CertificateTest)
#include "tst_certificate.moc"
