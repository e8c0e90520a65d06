// The query page: the run list, loading a calibration into the sample table
// and its results, deleting one calibration and clearing all.

#include "acquisition/runregistry.h"
#include "pages/prompts.h"
#include "pages/reports/budgetdialog.h"
#include "pages/reports/chamberview.h"
#include "pages/reports/evaluationview.h"
#include "pages/reports/form6.h"
#include "pages/reports/sampletablemodel.h"
#include "tests/calibkit.h"
#include "tests/testkit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QHeaderView>
#include <QTableView>
#include <QTableWidget>

using namespace testkit;

namespace {

QTableWidget *list(Form6 &page)
{
    return child<QTableWidget>(&page, "tbnum");
}

QString cell(QTableWidget *t, int r, int c)
{
    return t->item(r, c) ? t->item(r, c)->text() : QString();
}

QString data(Form6 &page, int r, int c)
{
    const QAbstractItemModel *m = child<QTableView>(&page, "tbdata")->model();
    return m->data(m->index(r, c)).toString();
}

QStringList headers(Form6 &page)
{
    const QAbstractItemModel *m = child<QTableView>(&page, "tbdata")->model();
    QStringList out;
    for (int c = 0; c < m->columnCount(); ++c)
        out << m->headerData(c, Qt::Horizontal).toString();
    return out;
}

int rowsShown(Form6 &page)
{
    return child<QTableView>(&page, "tbdata")->model()->rowCount();
}

// Clicks row `row` of the run list and waits until the calibration is loaded.
bool load(Form6 &page, int row)
{
    QTableWidget *t = list(page);
    t->setCurrentCell(row, 1);
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, row), Q_ARG(int, 1));
    return waitUntil([&] { return !page.isLoading(); }, 10000) &&
           page.loadedCalibration() != nullptr;
}

int count(const QString &select)
{
    return rows(select).value(0).value(0).toInt();
}

} // namespace

class QueryTest : public QObject
{
    Q_OBJECT

private slots:
    void layoutOfThePage();
    void listShowsStartEndCustomerAndEquipmentAndLoadsByFullKey();
    void sampleRowsAsTheTableShowsThem();
    void tenthPointShowsTenthSetPoints();
    void headersOfTwoCollectors();
    void oddRowsShowEmptyCells();
    void yearOutsideTwoThousandsLoadsAndDeletes();
    void deleteWithNothingLoadedOrNoDeletesNothing();
    void deleteRemovesTheLoadedCalibrationAndItsSamples();
    void deleteAfterKeyboardMoveDeletesTheLoadedOne();
    void clearAllEmptiesBothTables();
    void clearAllRefusedDuringARun();
    void resultsViewShowsFiguresAndNoData();
    void evaluationSettingsAreKeptAndBudgetsOpen();
    void failedReadIsReportedAndPageStaysUsable();
    void rowCountFollowsTheHeader();
    void theChamberIsDrawnAndADotSelectsItsChannel();
};

void QueryTest::layoutOfThePage()
{
    TempDatabase db;
    Form6 page;
    QCOMPARE(page.windowTitle(), QString("数据查询"));
    QVERIFY(page.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(list(page)->geometry(), QRect(30, 40, 221, 501));
    QCOMPARE(child<QTableView>(&page, "tbdata")->geometry(), QRect(260, 40, 865, 501));
    const QList<QPair<QString, QString>> buttons{
        {"pushButton", "导出校准记录"},     {"pushButton_2", "导出校准证书"},
        {"pushButton_3", "删除"},           {"pushButton_4", "全清"},
        {"pushButton_5", "关闭"},           {"pushButton_6", "导出原始数据"},
        {"pushButton_7", "打开自定义模板"}, {"pushButton_8", "导出自定义报表"}};
    for (const auto &b : buttons)
        QCOMPARE(child<QAbstractButton>(&page, b.first)->text(), b.second);
    QCOMPARE(list(page)->columnCount(), 5);
    QStringList headings;
    for (int c = 0; c < 5; ++c)
        headings << list(page)->horizontalHeaderItem(c)->text();
    QCOMPARE(headings, (QStringList{"序号", "开始", "结束", "委托单位", "试验设备"}));
    QVERIFY(list(page)->verticalHeader()->isHidden());
}

void QueryTest::listShowsStartEndCustomerAndEquipmentAndLoadsByFullKey()
{
    TempDatabase db;
    CalibrationFixture a;
    a.begin = "2024-05-01 10:00:00";
    a.add(1, "20.000;20.100;", 3);
    insertCalibration(a);
    CalibrationFixture b = a;
    b.begin = "2023-01-02 08:30:00";
    insertCalibration(b);
    Form6 page;
    QCOMPARE(list(page)->rowCount(), 2);
    // Ordered by start time; the stored number is not shown.
    QCOMPARE(cell(list(page), 0, 0), QString("1"));
    QCOMPARE(cell(list(page), 0, 1), QString("2023-01-02 08:30:00"));
    QCOMPARE(cell(list(page), 1, 1), QString("2024-05-01 10:00:00"));
    QCOMPARE(cell(list(page), 1, 2), rows("select dtend from datamark where dtbegin='2024-05-01 "
                                          "10:00:00'")
                                         .value(0)
                                         .value(0));
    // The customer comes from the equipment's record.
    QVERIFY(sql("insert into equipdata (name, companyname) select equipname, '某客户' from "
                "datamark limit 1"));
    Form6 again;
    QCOMPARE(cell(list(again), 1, 3), QString("某客户"));
    QCOMPARE(cell(list(again), 1, 4),
             rows("select equipname from datamark limit 1").value(0).value(0));
    QVERIFY(load(page, 1));
    QCOMPARE(page.loadedKey(), QString("2024-05-01 10:00:00"));
    QCOMPARE(rowsShown(page), 3);
}

void QueryTest::sampleRowsAsTheTableShowsThem()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.stepSeconds = 60;
    fixture.add(1, "20.000;20.100;", 2);
    fixture.add(2, "30.000;30.200;", 2);
    insertCalibration(fixture);
    Form6 page;
    QVERIFY(load(page, 0));
    QCOMPARE(headers(page), (QStringList{"序号", "时间", "校准点", "1-101(℃)", "1-102(℃)"}));
    QCOMPARE(data(page, 0, 0), QString("1"));
    QCOMPARE(data(page, 2, 1), QString("05-01 10:02:00   "));
    QCOMPARE(data(page, 0, 2), QString("20℃  50%RH"));
    QCOMPARE(data(page, 3, 2), QString("30℃  60%RH"));
    QCOMPARE(data(page, 3, 4), QString("30.200"));
}

void QueryTest::tenthPointShowsTenthSetPoints()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.tem.clear();
    fixture.hum.clear();
    for (int i = 1; i <= 10; ++i)
        fixture.tem << QString::number(10 * i), fixture.hum << QString::number(30 + i);
    fixture.add(10, "100.000;100.500;");
    insertCalibration(fixture);
    Form6 page;
    QVERIFY(load(page, 0));
    QCOMPARE(data(page, 0, 2), QString("100℃  40%RH"));
    QCOMPARE(page.pointResults().size(), 10);
    QCOMPARE(page.pointResults()[9].t.upper.text(), QString("0.500"));
}

void QueryTest::headersOfTwoCollectors()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.channels = QStringList{"101", "102", "103", "104", "101", "102"};
    fixture.kindsA = "2;1;1;";
    fixture.kindsB = "1;1;0;";
    fixture.typesA = "0010";
    fixture.typesB = "01";
    fixture.add(1, "1;2;3;4;5;6;");
    insertCalibration(fixture);
    Form6 page;
    QVERIFY(load(page, 0));
    // Each channel with its unit: humidity where the kinds say so.
    QCOMPARE(headers(page), (QStringList{"序号", "时间", "校准点", "1-101(℃)", "1-102(℃)",
                                         "1-103(%RH)", "1-104(℃)", "2-101(℃)", "2-102(%RH)"}));
}

void QueryTest::oddRowsShowEmptyCells()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.channels = QStringList{"101", "102", "103"};
    fixture.typesA = "000";
    fixture.kindsA = "3;0;0;";
    fixture.samples << CalibrationFixture::Row{"检点", "1.000;2.000;3.000;"}  // no number
                    << CalibrationFixture::Row{"检点7", "1.000;2.000;3.000;"} // beyond the lists
                    << CalibrationFixture::Row{"检点1", "1.000;"}             // too few values
                    << CalibrationFixture::Row{"检点2",
                                               "1.000;2.000;3.000;4.000;5.000;"}; // too many
    insertCalibration(fixture);
    Form6 page;
    QVERIFY(load(page, 0));
    QCOMPARE(rowsShown(page), 4);
    QCOMPARE(data(page, 0, 2), QString());
    QCOMPARE(data(page, 1, 2), QString());
    QCOMPARE(data(page, 2, 3), QString("1.000"));
    QCOMPARE(data(page, 2, 4), QString());
    QCOMPARE(data(page, 2, 5), QString());
    QCOMPARE(data(page, 3, 5), QString("3.000"));
    QCOMPARE(child<QTableView>(&page, "tbdata")->model()->columnCount(), 6);
}

void QueryTest::yearOutsideTwoThousandsLoadsAndDeletes()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.begin = "1999-12-31 23:59:58";
    fixture.add(1, "20.000;20.100;", 3); // crosses into 2000
    insertCalibration(fixture);
    Form6 page;
    QCOMPARE(cell(list(page), 0, 1), QString("1999-12-31 23:59:58"));
    QVERIFY(load(page, 0));
    QCOMPARE(rowsShown(page), 3);
    QCOMPARE(data(page, 2, 1), QString("01-01 00:00:00   "));
    prompts::queueAnswer(true);
    click(&page, "pushButton_3");
    QCOMPARE(count("select count(*) from datamark"), 0);
    QCOMPARE(count("select count(*) from data"), 0);
    QCOMPARE(list(page)->rowCount(), 0);
}

void QueryTest::deleteWithNothingLoadedOrNoDeletesNothing()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "20.000;20.100;", 2);
    insertCalibration(fixture);
    Form6 page;
    click(&page, "pushButton_3");
    QCOMPARE(shown().last(), QString("提示|当前没有选择要删除的数据项！"));
    QVERIFY(asked().isEmpty());
    QVERIFY(load(page, 0));
    prompts::queueAnswer(false);
    click(&page, "pushButton_3");
    QCOMPARE(asked().last(), QString("提示|确定删除选中项数据？"));
    QCOMPARE(count("select count(*) from datamark"), 1);
    QCOMPARE(count("select count(*) from data"), 2);
    QCOMPARE(rowsShown(page), 2);
}

void QueryTest::deleteRemovesTheLoadedCalibrationAndItsSamples()
{
    TempDatabase db;
    CalibrationFixture a;
    a.begin = "2024-05-01 10:00:00";
    a.add(1, "20.000;20.100;", 5);
    insertCalibration(a);
    CalibrationFixture b;
    b.begin = "2024-05-02 10:00:00";
    b.add(1, "21.000;21.100;", 4);
    insertCalibration(b);
    // A sample outside every window (a run not processed yet) stays.
    QVERIFY(sql("insert into data values('Chamber','检点1','2024-05-03 09:00:00','101;','1;')"));
    Form6 page;
    QVERIFY(load(page, 0));
    prompts::queueAnswer(true);
    click(&page, "pushButton_3");
    QCOMPARE(rows("select dtbegin from datamark"), (storage::Rows{{"2024-05-02 10:00:00"}}));
    QCOMPARE(count("select count(*) from data where coltime like '2024-05-01%'"), 0);
    QCOMPARE(count("select count(*) from data"), 5);
    QCOMPARE(rowsShown(page), 0);
    QCOMPARE(child<QTableView>(&page, "tbdata")->model()->columnCount(), 0);
    QCOMPARE(list(page)->rowCount(), 1);
}

void QueryTest::deleteAfterKeyboardMoveDeletesTheLoadedOne()
{
    TempDatabase db;
    for (const char *begin :
         {"2024-05-01 10:00:00", "2024-05-02 10:00:00", "2024-05-03 10:00:00"}) {
        CalibrationFixture s;
        s.begin = begin;
        s.add(1, "20.000;20.100;", 2);
        insertCalibration(s);
    }
    Form6 page;
    QVERIFY(load(page, 1));
    // The operator moves the current row with the keyboard, without clicking.
    list(page)->setCurrentCell(2, 1);
    QTest::keyClick(list(page), Qt::Key_Up);
    QTest::keyClick(list(page), Qt::Key_Up);
    QCOMPARE(list(page)->currentRow(), 0);
    prompts::queueAnswer(true);
    click(&page, "pushButton_3");
    QCOMPARE(rows("select dtbegin from datamark order by dtbegin"),
             (storage::Rows{{"2024-05-01 10:00:00"}, {"2024-05-03 10:00:00"}}));
}

void QueryTest::clearAllEmptiesBothTables()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "20.000;20.100;", 2);
    insertCalibration(fixture);
    Form6 page;
    QVERIFY(load(page, 0));
    prompts::queueAnswer(false);
    click(&page, "pushButton_4");
    QCOMPARE(asked().last(), QString("提示|该操作会清空所有数据 确认继续？"));
    QCOMPARE(count("select count(*) from data"), 2);
    prompts::queueAnswer(true);
    click(&page, "pushButton_4");
    QCOMPARE(count("select count(*) from data"), 0);
    QCOMPARE(count("select count(*) from datamark"), 0);
    QCOMPARE(list(page)->rowCount(), 0);
    QCOMPARE(rowsShown(page), 0);
}

void QueryTest::clearAllRefusedDuringARun()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "20.000;20.100;", 2);
    insertCalibration(fixture);
    Form6 page;
    int run = 0;
    acquisition::setRunActive(&run, true);
    prompts::queueAnswer(true);
    click(&page, "pushButton_4");
    acquisition::setRunActive(&run, false);
    QVERIFY(asked().isEmpty());
    QVERIFY(shown().last().startsWith("提示|校准正在进行"));
    QCOMPARE(count("select count(*) from data"), 2);
}

void QueryTest::resultsViewShowsFiguresAndNoData()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.equipType = "温湿度";
    fixture.typesA = "00";
    fixture.add(1, "25.000;25.400;", 10);
    insertCalibration(fixture); // point 2 has no samples, and no humidity channel
    Form6 page;
    QVERIFY(load(page, 0));
    click(&page, "pushButton_results");
    auto *view = child<QTableWidget>(&page, "tbresult");
    QVERIFY(view->isVisibleTo(&page));
    QVERIFY(child<QComboBox>(&page, "comboBox_method")->isVisibleTo(&page));
    QVERIFY(!child<QTableView>(&page, "tbdata")->isVisibleTo(&page));
    QVERIFY(waitUntil([&] { return !page.evaluationView()->isEvaluating(); }, 10000));
    QCOMPARE(view->rowCount(), 4); // two points, two kinds
    QStringList headers, first;
    for (int c = 0; c < view->columnCount(); ++c) {
        headers << view->horizontalHeaderItem(c)->text();
        first << cell(view, 0, c);
    }
    QCOMPARE(headers, (QStringList{"校准点", "参数", "设定值", "上偏差", "U(k=2)", "下偏差", "U(k=2)",
                                   "均匀度", "U(k=2)", "波动度\n(±)", "U(k=2)", "不确定度\n(k=2)",
                                   "样本数"}));
    // No heading or figure is cut: every column is as wide as its contents.
    for (int c = 0; c + 1 < view->columnCount(); ++c)
        QVERIFY(view->columnWidth(c) >= view->horizontalHeader()->sectionSizeHint(c));
    // The collector of this calibration is not on record: no U.
    QCOMPARE(first, (QStringList{"检点1", "温度(℃)", "20", "5.400", "无数据", "5.000", "无数据",
                                 "0.400", "无数据", "0.200", "无数据", "0.200", "10"}));
    QVERIFY(view->item(0, 4)->toolTip().contains("标准器校准"));
    QCOMPARE(cell(view, 1, 1), QString("湿度(%RH)"));
    QCOMPARE(cell(view, 1, 3), QString("无数据"));
    QCOMPARE(cell(view, 2, 3), QString("无数据")); // point 2 without samples
    QCOMPARE(cell(view, 2, 12), QString("0"));
}

// The method, centre, window and indicated values are kept with the
// calibration; a figure's budget opens beside the page and takes the
// operator's inputs.
void QueryTest::evaluationSettingsAreKeptAndBudgetsOpen()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(
                                         {"1", "One", "M702", "/dev/x", "ORV7020001", "0.1", "1.5",
                                          "0.01", "0.1", "ZS", "0.05", "0.8", "2", "2", "2030-01-01"}))
                .ok);
    CalibrationFixture fixture;
    fixture.tem = QStringList{"25", "30"};
    fixture.add(1, "25.000;25.400;", 10);
    insertCalibration(fixture);
    {
        Form6 page;
        QVERIFY(load(page, 0));
        click(&page, "pushButton_results");
        EvaluationView *ev = page.evaluationView();
        QVERIFY(waitUntil([&] { return !ev->isEvaluating(); }, 10000));
        auto *view = child<QTableWidget>(&page, "tbresult");
        QCOMPARE(cell(view, 0, 4), QString("0.050")); // U of the upper deviation
        child<QComboBox>(&page, "comboBox_method")->setCurrentText("DKD-R 5-7");
        QVERIFY(waitUntil([&] { return !ev->isEvaluating() && ev->evaluation().method ==
                                                                results::Method::Dkd57; },
                          10000));
        QCOMPARE(view->horizontalHeaderItem(3)->text(), QString("示值"));
        QCOMPARE(cell(view, 0, 4), QString("无数据")); // no indicated value yet
        view->item(0, 3)->setText("24.9");
        QVERIFY(waitUntil([&] { return !ev->isEvaluating() && cell(view, 0, 4) == "0.100"; }, 10000));
        child<QComboBox>(&page, "comboBox_window")->setCurrentIndex(1);
        child<QSpinBox>(&page, "spinBox_window")->setValue(5);
        QVERIFY(waitUntil([&] { return !ev->isEvaluating() && ev->evaluation().windowMinutes == 5; },
                          10000));
        // The correction's budget, with the inputs editable.
        QVERIFY(ev->openBudget(0, 4));
        BudgetDialog *dialog = ev->budgetDialog();
        QVERIFY(dialog && dialog->isVisible());
        auto *budget = child<QTableWidget>(dialog, "tbbudget");
        QCOMPARE(budget->rowCount(), 11);
        QCOMPARE(cell(budget, 8, 0), QString("辐射"));
        QVERIFY(budget->item(8, 1)->flags() & Qt::ItemIsEditable);
        QVERIFY(!(budget->item(1, 1)->flags() & Qt::ItemIsEditable));
        // Not given is unknown: no U, the inputs named; 0 entered counts.
        QVERIFY(child<QLabel>(dialog, "label_total")->text().contains("无数据"));
        QVERIFY(child<QLabel>(dialog, "label_total")->text().contains("辐射"));
        for (int row : {2, 4, 5, 9, 10}) {
            budget->item(row, 1)->setText("0");
            QVERIFY(waitUntil([&] { return !ev->isEvaluating(); }, 10000));
            budget = child<QTableWidget>(dialog, "tbbudget");
        }
        budget->item(8, 1)->setText("0.5");
        QVERIFY(waitUntil([&] { return !ev->isEvaluating() && ev->settings().inputsT.radiation == 0.5; },
                          10000));
        QVERIFY2(child<QLabel>(dialog, "label_total")->text().contains("k = 2"),
                 qPrintable(child<QLabel>(dialog, "label_total")->text()));
        QVERIFY(!ev->openBudget(0, 0)); // the point's name has no budget
    }
    // Another visit finds the settings as they were left.
    Form6 again;
    QVERIFY(load(again, 0));
    EvaluationView *ev = again.evaluationView();
    QVERIFY(waitUntil([&] { return !ev->isEvaluating() && !ev->evaluation().points.isEmpty(); },
                      10000));
    QCOMPARE(child<QComboBox>(&again, "comboBox_method")->currentText(), QString("DKD-R 5-7"));
    QCOMPARE(child<QSpinBox>(&again, "spinBox_window")->value(), 5);
    QCOMPARE(ev->settings().indicatedT.value(1), 24.9);
    QCOMPARE(ev->settings().inputsT.radiation, 0.5);
    // Deleting the calibration deletes its settings.
    prompts::queueAnswer(true);
    click(&again, "pushButton_3");
    QCOMPARE(rows("select count(*) from evaluation").value(0).value(0), QString("0"));
}

void QueryTest::failedReadIsReportedAndPageStaysUsable()
{
    TempDatabase db;
    QVERIFY(sql(onServer() ? "drop table orven.datamark cascade" : "drop table datamark"));
    Form6 page;
    QCOMPARE(list(page)->rowCount(), 0);
    QVERIFY(!shown().isEmpty());
    QVERIFY(shown().last().startsWith("失败|读取校准列表失败"));
    QVERIFY(shown().last().contains("datamark"));
    click(&page, "pushButton_3");
    QCOMPARE(shown().last(), QString("提示|当前没有选择要删除的数据项！"));
}

void QueryTest::rowCountFollowsTheHeader()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "20.000;20.100;", 4);
    fixture.sampleCount = 3; // samples beyond the count are not shown
    insertCalibration(fixture);
    CalibrationFixture more = fixture;
    more.begin = "2024-06-01 10:00:00";
    more.sampleCount = 6; // rows without a sample stay empty
    insertCalibration(more);
    Form6 page;
    QVERIFY(load(page, 0));
    QCOMPARE(rowsShown(page), 3);
    QVERIFY(load(page, 1));
    QCOMPARE(rowsShown(page), 6);
    QCOMPARE(data(page, 3, 0), QString("4"));
    QCOMPARE(data(page, 4, 0), QString());
}

QTEST_MAIN(QueryTest)
// The layout and locations kept with the calibration, drawn: each dot in
// its color, and a click on one selects its channel's column.
void QueryTest::theChamberIsDrawnAndADotSelectsItsChannel()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.typesA = "00";
    fixture.add(1, "25.000;25.400;", 3);
    const storage::RunHeader header = insertCalibration(fixture);
    storage::Snapshot kept;
    kept.equipmentExtra.layout = "9";
    kept.locationsA = {{"101", "O"}, {"102", "A"}};
    QVERIFY(storage::storeCalibration(header, kept, true).ok);
    Form6 page;
    page.show();
    QVERIFY(load(page, 0));
    click(&page, "pushButton_chamber");
    ChamberView *view = page.chamberView();
    QVERIFY(view && view->isVisible());
    QVERIFY(waitUntil([&] { return view->picture().dots.size() == 2; }, 2000));
    const QImage shot = view->grab().toImage();
    for (int i = 0; i < 2; ++i) {
        const results::ChamberDot &d = view->picture().dots[i];
        const QColor at = shot.pixelColor(view->dotCentre(i).toPoint());
        QCOMPARE(at, QColor(d.color.r, d.color.g, d.color.b));
        QCOMPARE(d.hottest, d.location == "A"); // 25.4 against the centre's 25.0
    }
    const int a = view->picture().dots[0].location == "A" ? 0 : 1;
    QTest::mouseClick(view, Qt::LeftButton, {}, view->dotCentre(a).toPoint());
    auto *samples = child<QTableView>(&page, "tbdata");
    const QModelIndexList selected = samples->selectionModel()->selectedColumns();
    QVERIFY(!selected.isEmpty());
    QVERIFY(page.sampleModel()->headerData(selected.first().column(), Qt::Horizontal)
                .toString()
                .startsWith("1-102"));
}

#include "tst_query.moc"
