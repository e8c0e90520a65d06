// The raw-data workbook and the custom report, read back with openpyxl
// (an independent reader, Debian's python3-openpyxl).

#include "office/conversion.h"
#include "office/customreport.h"
#include "office/rawworkbook.h"
#include "office/templates.h"
#include "office/zippackage.h"
#include "pages/prompts.h"
#include "pages/reports/exporttarget.h"
#include "pages/reports/form6.h"
#include "tests/docskit.h"
#include "tests/testkit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include "office/sheetrows.h"

#include <xlsxwriter.h>

using namespace testkit;

namespace {

QJsonObject readWorkbook(const QString &xlsx)
{
    QProcess p;
    p.start("/usr/bin/python3", {QStringLiteral(ORVEN_SOURCE_DIR "/tests/read_workbook.py"), xlsx});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return QJsonObject();
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QJsonObject sheet(const QJsonObject &book, const QString &name)
{
    return book.value("data").toObject().value(name).toObject();
}

QJsonObject cellOf(const QJsonObject &sheetData, const QString &ref)
{
    return sheetData.value("cells").toObject().value(ref).toObject();
}

// A cell's value as text: numbers without a trailing ".0".
QString valueOf(const QJsonObject &sheetData, const QString &ref)
{
    const QJsonValue v = cellOf(sheetData, ref).value("value");
    if (v.isDouble()) {
        const double d = v.toDouble();
        return d == qRound64(d) ? QString::number(qRound64(d)) : QString::number(d);
    }
    return v.toString();
}

bool loadFirst(Form6 &page)
{
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    return waitUntil([&] { return page.loadedCalibration() != nullptr; }, 10000);
}

bool finish(Form6 &page)
{
    return waitUntil([&] { return !page.isExporting(); }, 180000);
}

// An .xls converted to .xlsx in `dir`, for reading back.
QString asXlsx(const QString &xls, const QString &dir)
{
    office::Conversion c(xls, "xlsx", 120000);
    QString error;
    if (!c.run(&error)) {
        qWarning() << error;
        return QString();
    }
    const QString out = dir + "/" + QFileInfo(xls).completeBaseName() + "-read.xlsx";
    QFile::remove(out);
    return QFile::copy(c.output(), out) ? out : QString();
}

} // namespace

class WorkbooksTest : public QObject
{
    Q_OBJECT

private slots:
    void rawWorkbookIsTheTableAsShown();
    void rawWorkbookOfTwoCollectors();
    void rawWorkbookCarriesTheLayout();
    void rowCellsKeepNumbersAndEscapeText_data();
    void rowCellsKeepNumbersAndEscapeText();
    void rawWorkbookFromThePageOffersToOpenIt();
    void openTemplate();
    void customReportFillsThePlaceholders();
    void customReportFailures();
    void customReportCountsTheRunsOwnPoints();
    void exportsProposeANameAndRememberTheFolder();
};

// The layout kept with the records as a sheet of its own: every location,
// its place, the centre, the channels there.
void WorkbooksTest::rawWorkbookCarriesTheLayout()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "25.000;25.400;", 3);
    insertCalibration(fixture);
    office::RawWorkbookJob job;
    job.calibration = results::loadCalibration(db.path(), fixture.begin).calibration;
    job.target = db.dir() + "/raw.xlsx";
    job.equipment.layout = "9";
    job.equipment.width = job.equipment.depth = job.equipment.height = "1";
    job.locationsA = {{"101", "O"}, {"102", "A"}};
    QVERIFY(office::writeRawWorkbook(job).ok);
    const QJsonObject book = readWorkbook(job.target);
    QCOMPARE(book.value("sheets").toVariant().toStringList().last(), QString("布点"));
    const QJsonObject s = sheet(book, "布点");
    QCOMPARE(valueOf(s, "A2"), QString("A"));
    QCOMPARE(valueOf(s, "F2"), QString("1-102"));
    QCOMPARE(valueOf(s, "A6"), QString("O"));
    QCOMPARE(valueOf(s, "E6"), QString("中心"));
    QCOMPARE(valueOf(s, "D6"), QString("0.5"));
    QCOMPARE(valueOf(s, "A12"), QString("工作空间 1 × 1 × 1 m，1.00 m³"));
}

void WorkbooksTest::rawWorkbookIsTheTableAsShown()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.channels = QStringList{"101", "102", "103", "104"};
    fixture.kindsA = "3;1;0;";
    fixture.typesA = "0001";
    fixture.equipType = "温湿度";
    fixture.stepSeconds = 60;
    for (int i = 0; i < 10; ++i)
        fixture.add(
            i < 5 ? 1 : 2,
            QStringLiteral("25.000;25.%1;24.875;55.500;").arg(i * 100, 3, 10, QLatin1Char('0')));
    insertCalibration(fixture);
    const results::Loaded loaded = results::loadCalibration(db.path(), fixture.begin);
    office::RawWorkbookJob job;
    job.calibration = loaded.calibration;
    job.points = results::computeResults(job.calibration);
    job.target = db.dir() + "/raw.xlsx";
    QVERIFY(office::writeRawWorkbook(job).ok);

    const QJsonObject book = readWorkbook(job.target);
    QCOMPARE(book.value("sheets").toVariant().toStringList(),
             (QStringList{"原始数据", "结果", "曲线"}));
    const QJsonObject s1 = sheet(book, "原始数据");
    // Printed landscape, one page wide, the headings on every page; the
    // headings and times stay in sight on screen.
    for (const char *name : {"原始数据", "结果"}) {
        const QJsonObject print = sheet(book, name).value("print").toObject();
        QCOMPARE(print.value("orientation").toString(), QString("landscape"));
        QVERIFY(print.value("fit").toBool());
        QCOMPARE(print.value("fit_width").toInt(), 1);
        QCOMPARE(print.value("fit_height").toInt(), 0);
    }
    QCOMPARE(s1.value("print").toObject().value("title_rows").toString(), QString("$1:$1"));
    QCOMPARE(s1.value("print").toObject().value("freeze").toString(), QString("D2"));
    QCOMPARE(s1.value("max_column").toInt(), 7);
    QCOMPARE(s1.value("max_row").toInt(), 11);
    QStringList headers;
    for (const char *c : {"A1", "B1", "C1", "D1", "E1", "F1", "G1"})
        headers << valueOf(s1, c);
    QCOMPARE(headers, (QStringList{"序号", "时间", "校准点", "1-101(℃)", "1-102(℃)", "1-103(℃)",
                                   "1-104(%RH)"}));
    QCOMPARE(valueOf(s1, "A2"), QString("1"));
    QCOMPARE(valueOf(s1, "B2"), QString("05-01 10:00:00   "));
    QCOMPARE(valueOf(s1, "C2"), QString("20℃  50%RH"));
    QCOMPARE(valueOf(s1, "C11"), QString("30℃  60%RH"));
    QCOMPARE(cellOf(s1, "D2").value("type").toString(), QString("n"));
    QCOMPARE(cellOf(s1, "D2").value("format").toString(), QString("0.000"));
    QCOMPARE(valueOf(s1, "F2"), QString("24.875"));
    QCOMPARE(valueOf(s1, "E11"), QString("25.9"));
    QCOMPARE(valueOf(s1, "A11"), QString("10"));

    const QJsonObject results = sheet(book, "结果");
    QCOMPARE(valueOf(results, "B2"), fixture.begin);
    // The ambient figures are numbers.
    QCOMPARE(valueOf(results, "A7"), QString("环境温度(℃)"));
    QCOMPARE(cellOf(results, "B7").value("type").toString(), QString("n"));
    QCOMPARE(cellOf(results, "B8").value("type").toString(), QString("n"));
    bool point1 = false;
    for (const QString &ref : results.value("cells").toObject().keys())
        point1 = point1 || valueOf(results, ref) == "检点1";
    QVERIFY(point1);
    // One chart per kind on the curves sheet.
    int charts = 0;
    for (const office::ZipEntry &e : office::readZip(job.target).value)
        charts += e.name.startsWith("xl/charts/chart");
    QCOMPARE(charts, 2);
    // Times under the plot; each value axis spans its readings with round
    // bounds (temperature 24.875 to 25.9, humidity 55.5 alone).
    const QJsonArray axes = sheet(book, "曲线").value("chart_axes").toArray();
    QCOMPARE(axes.size(), 2);
    QCOMPARE(axes[0].toObject().value("x_labels").toString(), QString("low"));
    QCOMPARE(axes[0].toObject().value("y_min").toDouble(), 24.5);
    QCOMPARE(axes[0].toObject().value("y_max").toDouble(), 26.0);
    QVERIFY(qAbs(axes[1].toObject().value("y_min").toDouble() - 55.2) < 1e-9);
    QVERIFY(qAbs(axes[1].toObject().value("y_max").toDouble() - 55.8) < 1e-9);
}

// A stored value goes into the sheet as written when it is a plain
// decimal, as the number it means when blanks or a sign surround it, and
// as escaped text otherwise.
void WorkbooksTest::rowCellsKeepNumbersAndEscapeText_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("cell");
    QTest::newRow("stored form") << QByteArray("25.250") << QByteArray("<c r=\"D7\" s=\"3\"><v>25.250</v></c>");
    QTest::newRow("negative zero") << QByteArray("-0.000") << QByteArray("<c r=\"D7\" s=\"3\"><v>-0.000</v></c>");
    QTest::newRow("integer") << QByteArray("42") << QByteArray("<c r=\"D7\" s=\"3\"><v>42</v></c>");
    QTest::newRow("plus and blanks") << QByteArray(" +3.5 ") << QByteArray("<c r=\"D7\" s=\"3\"><v>3.5</v></c>");
    QTest::newRow("exponent") << QByteArray("1e2") << QByteArray("<c r=\"D7\" s=\"3\"><v>100</v></c>");
    QTest::newRow("point without decimals")
        << QByteArray("25.") << QByteArray("<c r=\"D7\" s=\"3\"><v>25</v></c>");
    QTest::newRow("text") << QByteArray("a<&>b")
                          << QByteArray("<c r=\"D7\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                        "a&lt;&amp;&gt;b</t></is></c>");
    QTest::newRow("not a number") << QByteArray("nan")
                                  << QByteArray("<c r=\"D7\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                                "nan</t></is></c>");
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
}

void WorkbooksTest::rowCellsKeepNumbersAndEscapeText()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, cell);
    QByteArray xml;
    office::RowText row(&xml);
    row.begin(7);
    row.value(3, stored.constData(), stored.constData() + stored.size(), 3);
    row.end();
    QCOMPARE(xml, "<row r=\"7\">" + cell + "</row>");
    QCOMPARE(office::columnName(0), QByteArray("A"));
    QCOMPARE(office::columnName(25), QByteArray("Z"));
    QCOMPARE(office::columnName(26), QByteArray("AA"));
    QCOMPARE(office::columnName(66), QByteArray("BO"));
}

void WorkbooksTest::rawWorkbookOfTwoCollectors()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.channels = QStringList{"101", "102", "101"};
    fixture.kindsA = "2;0;0;";
    fixture.kindsB = "1;0;0;";
    fixture.typesA = "00";
    fixture.typesB = "0";
    fixture.add(1, "1.000;2.000;3.000;", 2);
    insertCalibration(fixture);
    office::RawWorkbookJob job;
    job.calibration = results::loadCalibration(db.path(), fixture.begin).calibration;
    job.target = db.dir() + "/two.xlsx";
    QVERIFY(office::writeRawWorkbook(job).ok);
    const QJsonObject s1 = sheet(readWorkbook(job.target), "原始数据");
    QCOMPARE(valueOf(s1, "D1"), QString("1-101(℃)"));
    QCOMPARE(valueOf(s1, "F1"), QString("2-101(℃)"));
    QCOMPARE(valueOf(s1, "F3"), QString("3"));
}

void WorkbooksTest::rawWorkbookFromThePageOffersToOpenIt()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    Form6 page;
    QVERIFY(loadFirst(page));
    prompts::queueFileName(db.dir() + "/数据");
    prompts::queueAnswer(true);
    click(&page, "pushButton_6");
    QVERIFY(finish(page));
    const QString file = db.dir() + "/数据.xlsx";
    QVERIFY(QFile::exists(file));
    QCOMPARE(asked().last(), QString("完成|文件已经导出，是否现在打开？"));
    const QList<prompts::Record> opened = prompts::recordsOf(prompts::Kind::OpenUrl);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QUrl(opened[0].text).toLocalFile(), file);
    QVERIFY(QUrl(opened[0].text).isLocalFile());
    QCOMPARE(sheet(readWorkbook(file), "原始数据").value("max_row").toInt(), 8); // 7 samples
}

void WorkbooksTest::openTemplate()
{
    TempDatabase db;
    Form6 page;
    click(&page, "pushButton_7");
    const QList<prompts::Record> opened = prompts::recordsOf(prompts::Kind::OpenUrl);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QUrl(opened[0].text).toLocalFile(), office::findTemplate("test.xls"));
    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    qputenv("ORVEN_TEMPLATES", db.dir().toLocal8Bit());
    click(&page, "pushButton_7");
    qputenv("ORVEN_TEMPLATES", old);
    QVERIFY(shown().last().startsWith("提示|找不到自定义模板文件"));
    QVERIFY(shown().last().contains("test.xls"));
}

void WorkbooksTest::customReportFillsThePlaceholders()
{
    if (office::findSoffice().isEmpty())
        QFAIL("LibreOffice is required (scripts/install-deps.sh installs it)");
    TempDatabase db;
    DocumentRig rig;
    rig.fixture.channels = QStringList{"103", "101", "105"}; // 105: no longer in the table
    auto channel = [](const QString &n, const QString &probe) {
        return storage::Row{n,          probe, "PT100-385", "四线制", "1",     "0",      "100" + n,
                            "补偿" + n, "0",   "A" + n,     "B" + n,  "C" + n, "A4" + n, "B4" + n};
    };
    // The channel table as it was when the calibration was processed.
    QVERIFY(storage::storeChannelLayout(storage::Device::A,
                                        channelRecords({channel("101", "铂电阻"),
                                                        channel("102", "直流电压-T"),
                                                        channel("103", "直流电压-H")}),
                                        "3", "2;1;0;", "001")
                .ok);
    QVERIFY(rig.store());

    // A template made here: formatting, a merged range, every placeholder.
    const QString made = db.dir() + "/mine.xlsx";
    lxw_workbook *wb = workbook_new(made.toUtf8().constData());
    lxw_worksheet *ws = workbook_add_worksheet(wb, "报表");
    workbook_add_worksheet(wb, "第二页");
    lxw_format *bold = workbook_add_format(wb);
    format_set_bold(bold);
    worksheet_merge_range(ws, 0, 0, 0, 2, "标题", bold);
    worksheet_write_string(ws, 4, 1, "#R0101#", nullptr);
    worksheet_write_string(ws, 5, 0, "#unknown", nullptr);
    worksheet_write_string(ws, 6, 0, "unknown", nullptr);
    worksheet_write_string(ws, 7, 1, "#R0201#", nullptr);
    worksheet_write_string(ws, 8, 1, "#R0701#", bold);
    QStringList scalars;
    for (int i = 1; i <= 28; ++i)
        scalars << (i < 10 ? QString("#R00%1#").arg(i) : QString("#R00%1#").arg(i));
    // Two columns of fourteen, D11:D24 and F11:F24.
    for (int i = 0; i < scalars.size(); ++i)
        worksheet_write_string(ws, lxw_row_t(10 + i % 14), i < 14 ? 3 : 5,
                               scalars[i].toUtf8().constData(), nullptr);
    worksheet_write_string(ws, 30, 0, "#R001#", nullptr); // row 31: outside
    QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
    office::Conversion toXls(made, "xls:MS Excel 97", 120000);
    QString error;
    QVERIFY2(toXls.run(&error), qPrintable(error));
    const QString templ = db.dir() + "/test.xls";
    QVERIFY(QFile::copy(toXls.output(), templ));

    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    qputenv("ORVEN_TEMPLATES", db.dir().toLocal8Bit());
    Form6 page;
    QVERIFY(loadFirst(page));
    prompts::queueFileName(db.dir() + "/report", "Config Files (*.xls)");
    click(&page, "pushButton_8");
    QVERIFY(finish(page));
    prompts::queueFileName(db.dir() + "/again.XLS");
    click(&page, "pushButton_8");
    QVERIFY(finish(page));
    qputenv("ORVEN_TEMPLATES", old);
    QCOMPARE(shown(), (QStringList{"提示|报表导出成功", "提示|报表导出成功"}));

    const QJsonObject book = readWorkbook(asXlsx(db.dir() + "/report.xls", db.dir()));
    QCOMPARE(book.value("sheets").toVariant().toStringList(), (QStringList{"报表", "第二页"}));
    const QJsonObject s = sheet(book, "报表");
    // Channel numbers in the run's order, then the empty entry.
    QCOMPARE(valueOf(s, "B5"), QString("103"));
    QCOMPARE(valueOf(s, "C5"), QString("101"));
    QCOMPARE(valueOf(s, "D5"), QString("105"));
    QCOMPARE(valueOf(s, "E5"), QString());
    QCOMPARE(valueOf(s, "A6"), QString());
    QCOMPARE(valueOf(s, "A7"), QString("unknown"));
    // Each column describes the channel named above it.
    QCOMPARE(valueOf(s, "B8"), QString("直流电压-H"));
    QCOMPARE(valueOf(s, "C8"), QString("铂电阻"));
    QCOMPARE(valueOf(s, "D8"), QString());
    QCOMPARE(valueOf(s, "B9"), QString("100103"));
    QVERIFY(cellOf(s, "B9").value("bold").toBool()); // the cell's format stays
    QVERIFY(cellOf(s, "A1").value("bold").toBool());
    QVERIFY(s.value("merged").toArray().contains(QJsonValue("A1:C1")));
    const QStringList expected{"恒温恒湿箱 <A&B>",
                               "上海市 1 号",
                               "客户 \"甲\"",
                               "温湿度",
                               "HW-100",
                               "EQ-7",
                               "9",
                               "3",
                               "23",
                               "55",
                               "制造厂",
                               "20-60",
                               "40-80",
                               "3", // the run's three points, not the record's two
                               "25;40;60;",
                               "50;60;70;",
                               "1",
                               "采集器一",
                               "M702",
                               "ORV7020001",
                               "0.1",
                               "1.5",
                               "0.01",
                               "0.1",
                               "ZS-2024-001",
                               "0.05",
                               "0.8",
                               "2025-06-30"};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(valueOf(s, QString("%1%2").arg(i < 14 ? "D" : "F").arg(11 + i % 14)), expected[i]);
    QCOMPARE(valueOf(s, "A31"), QString("#R001#"));

    // The same report twice gives the same cells.
    const QJsonObject again =
        sheet(readWorkbook(asXlsx(db.dir() + "/again.XLS", db.dir())), "报表");
    QCOMPARE(again.value("cells"), s.value("cells"));
}

void WorkbooksTest::customReportFailures()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    const QByteArray oldPath = qgetenv("PATH");
    Form6 page;
    QVERIFY(loadFirst(page));

    // No template.
    qputenv("ORVEN_TEMPLATES", db.dir().toLocal8Bit());
    click(&page, "pushButton_8");
    QVERIFY(shown().last().startsWith("失败|找不到自定义模板文件"));

    // The target is the template itself.
    QVERIFY(QFile::copy(office::findTemplate("test.xls").isEmpty()
                            ? QString(ORVEN_APP_DIR "/test.xls")
                            : office::findTemplate("test.xls"),
                        db.dir() + "/test.xls"));
    prompts::queueFileName(db.dir() + "/test.xls");
    click(&page, "pushButton_8");
    QCOMPARE(shown().last(), QString("提示|不能把报表保存到模板文件本身，请换一个文件名。"));

    // LibreOffice missing.
    qputenv("PATH", db.dir().toLocal8Bit());
    prompts::queueFileName(db.dir() + "/r.xls");
    click(&page, "pushButton_8");
    qputenv("PATH", oldPath);
    QVERIFY(shown().last().startsWith("失败|没有找到 LibreOffice"));
    QVERIFY(!QFile::exists(db.dir() + "/r.xls"));

    // A folder that does not exist.
    prompts::queueFileName(db.dir() + "/no/such/folder/r.xls");
    click(&page, "pushButton_8");
    QVERIFY(finish(page));
    QVERIFY(shown().last().startsWith("失败|目标文件夹不存在"));
    prompts::queueFileName(db.dir() + "/no/such/folder/raw.xlsx");
    click(&page, "pushButton_6");
    QVERIFY(finish(page));
    QVERIFY(shown().last().startsWith("失败|目标文件夹不存在"));
    QVERIFY(!shown().contains("提示|报表导出成功"));
    qputenv("ORVEN_TEMPLATES", old);
}

void WorkbooksTest::customReportCountsTheRunsOwnPoints()
{
    // The equipment record was edited after the run: three points where the
    // run had six.
    office::CustomReportJob job;
    job.header.pointnum = "6";
    job.header.temset = "20;25;30;35;40;45;";
    job.equipment.adjustnum = "3";
    const office::Placeholders p = office::placeholderValues(job);
    QCOMPARE(p.scalars.value("#R0014#"), QString("6"));
    QCOMPARE(p.scalars.value("#R0015#"), job.header.temset);
}

void WorkbooksTest::exportsProposeANameAndRememberTheFolder()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    QSettings().remove("exports/folder");
    Form6 page;
    QVERIFY(loadFirst(page));
    auto lastDialog = [] { return prompts::recordsOf(prompts::Kind::SaveFile).last(); };
    const QString documents = exporttarget::lastFolder();
    QVERIFY(QFileInfo(documents).isDir());

    // Cancelled: the proposal is what it is, the equipment and the date.
    click(&page, "pushButton_6");
    QCOMPARE(lastDialog().title, QString("保存原始数据"));
    QCOMPARE(lastDialog().text, documents + "/原始数据_恒温恒湿箱 -A&B-_2024-05-01.xlsx|"
                                            "Excel 工作簿 (*.xlsx)");
    // A folder chosen once is where the next export starts, whatever it is.
    const QString folder = db.dir() + "/出口";
    QVERIFY(QDir().mkpath(folder));
    prompts::queueFileName(folder + "/数据");
    click(&page, "pushButton_6");
    QVERIFY(finish(page));
    QVERIFY(QFile::exists(folder + "/数据.xlsx"));
    click(&page, "pushButton");
    QCOMPARE(lastDialog().text, folder + "/校准记录_恒温恒湿箱 -A&B-_2024-05-01.pdf|"
                                         "PDF 文件 (*.pdf);;Word 文档 (*.docx)");
    click(&page, "pushButton_8");
    QCOMPARE(lastDialog().text, folder + "/自定义报表_恒温恒湿箱 -A&B-_2024-05-01.xls|"
                                         "Excel 97-2003 工作簿 (*.xls)");
    // A read-only target is refused before anything is made.
    QFile old(folder + "/只读.xlsx");
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    prompts::queueFileName(old.fileName());
    click(&page, "pushButton_6");
    QVERIFY(!page.isExporting());
    QVERIFY(shown().last().startsWith("失败|不能替换"));
    QCOMPARE(QFileInfo(old.fileName()).size(), 0);
}

QTEST_MAIN(WorkbooksTest)
#include "tst_workbooks.moc"
