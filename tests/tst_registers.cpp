// Collector register (Form1) and equipment register (Form2), with the
// selection they write and the port scan against the simulator.

#include "link/commands.h"
#include "link/frames.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/prompts.h"
#include "tests/testkit.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace testkit;

class RegistersTest : public QObject
{
    Q_OBJECT

private slots:
    void collectorSaveWithEveryFieldEmpty();
    void collectorSaveStoresTheFieldsInColumnOrder();
    void collectorsWithTheSameNumberAreBothModified();
    void collectorModifyAfterEditingTheNumberChangesNothing();
    void collectorDeleteRemovesEveryRowWithTheSerial();
    void collectorDeleteAndClearAskFirst();
    void collectorRowClickFillsTheForm();
    void collectorDateCellNotADate();
    void collectorSelectionWritesOnlyItsColumn();
    void collectorFailureIsReportedNotSuccess();

    void scanReadsEachModelsSerial_data();
    void scanReadsEachModelsSerial();
    void scanWithoutReplyKeepsThePreviousSerial();
    void scanWithCorruptedReplyFails();
    void scanOnAPortThatCannotOpen();
    void scanButtonIsDisabledDuringTheScan();

    void equipmentGridFollowsTheCount();
    void equipmentYearOfManufactureStaysEmptyUntilEntered();
    void equipmentEmptyRangeMessageOnEveryChange();
    void equipmentCategorySwitchesFields();
    void equipmentSavedTwiceGivesTwoRowsModifiedAndDeletedTogether();
    void equipmentModifyAfterEditingTheNameChangesNothing();
    void equipmentCountOutsideOneToTenIsRefused_data();
    void equipmentCountOutsideOneToTenIsRefused();
    void equipmentRowClickShowsStoredPoints();
    void equipmentQuotesStoredUnchanged();
    void equipmentSelectionWritesEquipmentAndAmbientOnly();
    void equipmentEmptyNameSelectsAndDeletesNothing();
    void equipmentClearAllWithACount();
    void whatTheBudgetsNeedIsKeptBesideTheRecords();
    void theLayoutIsStoredAndCapturedWithTheRun();
};

static void fillCollector(Form1 &page, const QStringList &values)
{
    QList<QLineEdit *> edits{child<QLineEdit>(&page, "lineEdit"),
                             child<QLineEdit>(&page, "lineEdit_2")};
    edits[0]->setText(values.value(0));
    edits[1]->setText(values.value(1));
    child<QComboBox>(&page, "comboBox")->setCurrentText(values.value(2));
    child<QLineEdit>(&page, "lineEdit_3")->setText(values.value(4));
    for (int i = 4; i <= 12; ++i)
        child<QLineEdit>(&page, QStringLiteral("lineEdit_%1").arg(i))->setText(values.value(i + 1));
    child<QDateEdit>(&page, "dateEdit")->setDate(QDate::fromString(values.value(14), "yyyy-MM-dd"));
}

static storage::Row collectorRow(const QString &num, const QString &serial,
                                 const QString &name = "C")
{
    return {num,   name,  "M702", "",    serial, "0.1", "1",         "0.01",
            "0.1", "Z-1", "0.2",  "1.5", "2",    "2",   "2025-06-30"};
}

void RegistersTest::collectorSaveWithEveryFieldEmpty()
{
    // A blank row could never be deleted again ("未选择采集器！"): refused.
    TempDatabase db;
    Form1 page;
    click(&page, "pushButton_3");
    QCOMPARE(shown(),
             QStringList{"提示|未填写序列号！\n请点“扫描端口”从采集器读出序列号，或直接填写。"});
    QCOMPARE(rows("select count(*) from datacollect").value(0).value(0), QString("0"));
    QCOMPARE(child<QTableWidget>(&page, "twshow")->rowCount(), 0);
}

void RegistersTest::collectorSaveStoresTheFieldsInColumnOrder()
{
    TempDatabase db;
    Form1 page;
    const storage::Row row = collectorRow("7", "ORV7020001", "Alpha");
    fillCollector(page, row);
    click(&page, "pushButton_3");
    storage::Row expected = row;
    expected[3] = child<QComboBox>(&page, "comboBox_2")->currentText();
    QCOMPARE(rows("select * from datacollect"), storage::Rows{expected});
    auto *list = child<QTableWidget>(&page, "twshow");
    QCOMPARE(list->columnCount(), 15);
    QCOMPARE(list->horizontalHeaderItem(12)->text(), QString("温度K"));
    QCOMPARE(list->item(0, 11)->text(), QString("1.5"));
}

void RegistersTest::collectorsWithTheSameNumberAreBothModified()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("1", "A"))).ok);
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("1", "B"))).ok);
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("2", "C"))).ok);
    Form1 page;
    fillCollector(page, collectorRow("1", "NEW", "Renamed"));
    click(&page, "pushButton_4");
    QCOMPARE(firstLines(), QStringList{"提示|修改成功！"});
    QCOMPARE(rows("select name,serialnum from datacollect where num='1'"),
             (storage::Rows{{"Renamed", "NEW"}, {"Renamed", "NEW"}}));
    QCOMPARE(rows("select name from datacollect where num='2'"), (storage::Rows{{"C"}}));
}

void RegistersTest::collectorModifyAfterEditingTheNumberChangesNothing()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("1", "A"))).ok);
    const storage::Rows before = rows("select * from datacollect");
    Form1 page;
    fillCollector(page, collectorRow("99", "A", "Other"));
    click(&page, "pushButton_4");
    QCOMPARE(firstLines(), QStringList{"提示|没有找到编号为“99”的采集器，未修改。"});
    QCOMPARE(rows("select * from datacollect"), before);
}

void RegistersTest::collectorDeleteRemovesEveryRowWithTheSerial()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("1", "SAME"))).ok);
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("2", "SAME"))).ok);
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("3", "OTHER"))).ok);
    Form1 page;
    child<QLineEdit>(&page, "lineEdit_3")->setText("SAME");
    prompts::queueAnswer(true);
    click(&page, "pushButton_8");
    QCOMPARE(asked(), QStringList{"提示|确定删除指定设备？"});
    QCOMPARE(firstLines(), QStringList{"提示|删除成功！"});
    QCOMPARE(rows("select serialnum from datacollect"), (storage::Rows{{"OTHER"}}));
    QCOMPARE(child<QTableWidget>(&page, "twshow")->rowCount(), 1);
}

void RegistersTest::collectorDeleteAndClearAskFirst()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("1", "A"))).ok);
    Form1 page;
    click(&page, "pushButton_8");
    QCOMPARE(firstLines(), QStringList{"提示|未选择采集器！"});
    QVERIFY(asked().isEmpty());
    child<QLineEdit>(&page, "lineEdit_3")->setText("A");
    prompts::queueAnswer(false);
    click(&page, "pushButton_8");
    prompts::queueAnswer(false);
    click(&page, "pushButton_5");
    QCOMPARE(asked(),
             (QStringList{"提示|确定删除指定设备？", "提示|该操作会清空所有设备数据，是否继续？"}));
    QCOMPARE(rows("select count(*) from datacollect").value(0).value(0), QString("1"));
    prompts::queueAnswer(true);
    click(&page, "pushButton_5");
    QCOMPARE(rows("select count(*) from datacollect").value(0).value(0), QString("0"));
    QCOMPARE(firstLines().last(), QString("提示|全清成功！"));
    QVERIFY(child<QLineEdit>(&page, "lineEdit_3")->text().isEmpty());
}

void RegistersTest::collectorRowClickFillsTheForm()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(collectorRow("5", "SN5", "Five"))).ok);
    Form1 page;
    auto *list = child<QTableWidget>(&page, "twshow");
    QMetaObject::invokeMethod(&page, "on_twshow_cellClicked", Q_ARG(int, 0), Q_ARG(int, 3));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit")->text(), QString("5"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_3")->text(), QString("SN5"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_10")->text(), QString("1.5"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_12")->text(), QString("2"));
    QCOMPARE(child<QDateEdit>(&page, "dateEdit")->date(), QDate(2025, 6, 30));
    QCOMPARE(list->rowCount(), 1);
}

void RegistersTest::collectorDateCellNotADate()
{
    TempDatabase db;
    storage::Row row = collectorRow("5", "SN5");
    row[14] = "30/06/2025";
    QVERIFY(storage::insertCollector(storage::Collector::fromRow(row)).ok);
    Form1 page;
    auto *date = child<QDateEdit>(&page, "dateEdit");
    date->setDate(QDate(2024, 2, 3));
    QMetaObject::invokeMethod(&page, "on_twshow_cellClicked", Q_ARG(int, 0), Q_ARG(int, 0));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_3")->text(), QString("SN5"));
    QVERIFY(date->date().isValid());
    QCOMPARE(date->date(), QDate(2024, 2, 3));
}

void RegistersTest::collectorSelectionWritesOnlyItsColumn()
{
    TempDatabase db;
    QVERIFY(storage::selectEquipment("E1", "20", "50").ok);
    QVERIFY(storage::storeChannelLayout(storage::Device::A, {}, "4", "4;0;0;", "0000").ok);
    Form1 page;
    click(&page, "pushButton_6");
    QCOMPARE(firstLines(), QStringList{"提示|未选择采集器！"});
    QCOMPARE(storage::readSelection().value.datacollect, QString());
    child<QLineEdit>(&page, "lineEdit_3")->setText("O'Brien-1");
    click(&page, "pushButton_6");
    QCOMPARE(firstLines().last(), QString("提示|选择成功！"));
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.datacollect, QString("O'Brien-1"));
    QCOMPARE(s.equipdata, QString("E1"));
    QCOMPARE(s.roadA, QString("4;0;0;"));
}

void RegistersTest::collectorFailureIsReportedNotSuccess()
{
    TempDatabase db;
    QVERIFY(sql(
        "create trigger ro before insert on datacollect begin select raise(abort, 'full'); end"));
    QVERIFY(sql(
        "create trigger ro2 before update on secdevice begin select raise(abort, 'locked'); end"));
    Form1 page;
    child<QLineEdit>(&page, "lineEdit_3")->setText("X");
    click(&page, "pushButton_3");
    click(&page, "pushButton_6");
    const QStringList boxes = shown();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0].startsWith("失败|") && boxes[0].contains("full"));
    QVERIFY(boxes[1].startsWith("失败|") && boxes[1].contains("locked"));
    QCOMPARE(rows("select count(*) from datacollect").value(0).value(0), QString("0"));
}

// ---- scan ----

static void choosePort(Form1 &page, const QString &path)
{
    click(&page, "pushButton_2");
    auto *ports = child<QComboBox>(&page, "comboBox_2");
    const int index = ports->findText(path);
    QVERIFY(index >= 0);
    ports->setCurrentIndex(index);
}

// Presses "扫描端口" and waits until the scan has said how it went.
static void scan(Form1 &page)
{
    const int before = prompts::aboutTexts().size();
    click(&page, "pushButton");
    waitUntil([&] { return prompts::aboutTexts().size() > before; }, 5000);
}

// A collector page whose chosen port is a started simulator.
struct ScanRig
{
    TempDatabase db;
    std::unique_ptr<sim::CollectorSim> collector;
    std::unique_ptr<Form1> page;

    bool build(const sim::Options &opt)
    {
        collector = startSim(opt);
        if (!collector)
            return false;
        setExtraPorts({collector->portPath()});
        page = std::make_unique<Form1>();
        choosePort(*page, collector->portPath());
        return child<QComboBox>(page.get(), "comboBox_2")->currentText() == collector->portPath();
    }
    ~ScanRig() { setExtraPorts({}); }
    QLineEdit *serial() const { return child<QLineEdit>(page.get(), "lineEdit_3"); }
};

void RegistersTest::scanReadsEachModelsSerial_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::newRow("M702") << "M702"
                          << "ORV7020001";
    QTest::newRow("M701-TC") << "M701-TC"
                             << "TCX0000042";
    QTest::newRow("M701-RTD") << "M701-RTD"
                              << "RTD0000007";
}

void RegistersTest::scanReadsEachModelsSerial()
{
    QFETCH(QString, model);
    QFETCH(QString, serial);
    sim::Options opt;
    QVERIFY(rtu::familyFromModel(model, &opt.family));
    opt.serial = serial;
    opt.chunks = 2; // and in pieces
    ScanRig rig;
    QVERIFY(rig.build(opt));
    child<QComboBox>(rig.page.get(), "comboBox")->setCurrentText(model);
    scan(*rig.page);
    QCOMPARE(firstLines(), QStringList{"提示|成功！"});
    QCOMPARE(rig.serial()->text(), serial);
    QCOMPARE(rig.collector->receivedFrames(),
             QStringList{rtu::hexText(rtu::frame::identify(opt.family))});
}

void RegistersTest::scanWithoutReplyKeepsThePreviousSerial()
{
    sim::Options opt;
    opt.silentAfter = 0;
    ScanRig rig;
    QVERIFY(rig.build(opt));
    rig.serial()->setText("KEEP-ME");
    scan(*rig.page);
    QCOMPARE(firstLines(), QStringList{"提示|扫描失败！"});
    QCOMPARE(rig.serial()->text(), QString("KEEP-ME"));
}

void RegistersTest::scanWithCorruptedReplyFails()
{
    sim::Options opt;
    opt.corruptEvery = 1;
    ScanRig rig;
    QVERIFY(rig.build(opt));
    scan(*rig.page);
    QCOMPARE(firstLines(), QStringList{"提示|扫描失败！"});
    QVERIFY(rig.serial()->text().isEmpty());

    // An exception reply is too short to hold a serial number.
    rig.collector->options().corruptEvery = 0;
    rig.collector->options().exceptionReplies = true;
    scan(*rig.page);
    QCOMPARE(firstLines().last(), QString("提示|扫描失败！"));
}

void RegistersTest::scanOnAPortThatCannotOpen()
{
    TempDatabase db;
    setExtraPorts({"/dev/orven-missing-port"});
    Form1 page;
    choosePort(page, "/dev/orven-missing-port");
    child<QLineEdit>(&page, "lineEdit_3")->setText("SN-OLD");
    scan(page);
    QCOMPARE(firstLines(), QStringList{"提示|连接失败！"});
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_3")->text(), QString("SN-OLD"));
    QVERIFY(child<QPushButton>(&page, "pushButton")->isEnabled());
    setExtraPorts({});
}

void RegistersTest::scanButtonIsDisabledDuringTheScan()
{
    TempDatabase db;
    auto collector = startSim();
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    Form1 page;
    choosePort(page, collector->portPath());
    auto *scan = child<QPushButton>(&page, "pushButton");
    bool disabledDuring = false;
    int extraClicks = 0;
    QTimer::singleShot(200, [&] {
        disabledDuring = !scan->isEnabled();
        scan->click(); // ignored while disabled
        ++extraClicks;
    });
    ::scan(page);
    QVERIFY(disabledDuring);
    QCOMPARE(extraClicks, 1);
    QCOMPARE(collector->receivedFrames().size(), 1);
    QCOMPARE(firstLines(), QStringList{"提示|成功！"});
    QVERIFY(scan->isEnabled());
    setExtraPorts({});
}

// ---- equipment ----

static QStringList gridRow(Form2 &page, int row)
{
    auto *grid = child<QTableWidget>(&page, "twShow");
    QStringList cells;
    for (int c = 1; c < grid->columnCount(); ++c)
        cells << (grid->item(row, c) ? grid->item(row, c)->text() : QString());
    return cells;
}

static void setRanges(Form2 &page, const QString &t1, const QString &t2, const QString &h1,
                      const QString &h2)
{
    child<QLineEdit>(&page, "lineEdit_10")->setText(t1);
    child<QLineEdit>(&page, "lineEdit_11")->setText(t2);
    child<QLineEdit>(&page, "lineEdit_12")->setText(h1);
    child<QLineEdit>(&page, "lineEdit_13")->setText(h2);
}

static void fillEquipment(Form2 &page, const QString &name, const QString &count)
{
    child<QLineEdit>(&page, "lineEdit")->setText("Client");
    child<QLineEdit>(&page, "lineEdit_3")->setText(name);
    setRanges(page, "10", "50", "30", "90");
    child<QLineEdit>(&page, "lineEdit_14")->setText(count);
}

void RegistersTest::equipmentGridFollowsTheCount()
{
    TempDatabase db;
    Form2 page;
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_15")->text(), QString("25"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_4")->text(), QString("60"));
    setRanges(page, "10", "50", "30", "90");
    child<QLineEdit>(&page, "lineEdit_14")->setText("5");
    auto *grid = child<QTableWidget>(&page, "twShow");
    QCOMPARE(grid->columnCount(), 6);
    QCOMPARE(grid->horizontalHeaderItem(0)->text(), QString("类别"));
    QCOMPARE(grid->horizontalHeaderItem(5)->text(), QString("检点5"));
    QCOMPARE(grid->item(0, 0)->text(), QString("温度(℃)"));
    QCOMPARE(grid->item(1, 0)->text(), QString("湿度(%RH)"));
    QCOMPARE(gridRow(page, 0), (QStringList{"10", "20", "30", "40", "50"}));
    QCOMPARE(gridRow(page, 1), (QStringList{"30", "45", "60", "75", "90"}));
    child<QLineEdit>(&page, "lineEdit_14")
        ->setText("abc"); // the validator would refuse; the slot copes
    QCOMPARE(grid->columnCount(), 0);
    QVERIFY(shown().isEmpty());
}

// No year of manufacture until one is entered: the record keeps it empty
// (a certificate then prints "—"), and one entered is kept and shown again.
void RegistersTest::equipmentYearOfManufactureStaysEmptyUntilEntered()
{
    TempDatabase db;
    Form2 page;
    auto *date = child<QDateEdit>(&page, "dateEdit");
    QCOMPARE(date->text(), QString("未填写"));
    fillEquipment(page, "Untouched", "2");
    click(&page, "pushButton");
    date->setDate(QDate(2021, 3, 1));
    fillEquipment(page, "Dated", "2");
    click(&page, "pushButton");
    QCOMPARE(storage::equipmentRecord("Untouched").value.madedate, QString());
    QCOMPARE(storage::equipmentRecord("Dated").value.madedate, QString("2021-03"));
    auto *list = child<QTableWidget>(&page, "twdetail");
    for (int row = 0; row < list->rowCount(); ++row) {
        QMetaObject::invokeMethod(&page, "on_twdetail_cellClicked", Q_ARG(int, row), Q_ARG(int, 0));
        const bool dated = list->item(row, 3)->text() == "Dated";
        QCOMPARE(date->text(), dated ? QString("2021-03") : QString("未填写"));
    }
}

void RegistersTest::equipmentEmptyRangeMessageOnEveryChange()
{
    // Typing "10" used to open two boxes; the hint now stands beside the field.
    TempDatabase db;
    Form2 page;
    setRanges(page, "10", "", "30", "90");
    QTest::keyClicks(child<QLineEdit>(&page, "lineEdit_14"), "10");
    QVERIFY(shown().isEmpty());
    QCOMPARE(child<QLabel>(&page, "label_hint")->text(), QString("温湿度范围不得为空!"));
    child<QLineEdit>(&page, "lineEdit_14")->setText("4");
    QVERIFY(shown().isEmpty());
    auto *grid = child<QTableWidget>(&page, "twShow");
    QCOMPARE(grid->columnCount(), 5);
    QCOMPARE(grid->item(0, 0)->text(), QString("温度(℃)"));
    QCOMPARE(gridRow(page, 0), QStringList(QStringList() << ""
                                                         << ""
                                                         << ""
                                                         << ""));
}

void RegistersTest::equipmentCategorySwitchesFields()
{
    TempDatabase db;
    Form2 page;
    setRanges(page, "10", "30", "40", "80");
    child<QComboBox>(&page, "comboBox_2")->setCurrentText("温度");
    for (const char *name : {"lineEdit_8", "lineEdit_12", "lineEdit_13"}) {
        QVERIFY(!child<QLineEdit>(&page, name)->isEnabled());
        QCOMPARE(child<QLineEdit>(&page, name)->text(), QString("0"));
    }
    child<QLineEdit>(&page, "lineEdit_14")->setText("3");
    QCOMPARE(gridRow(page, 0), (QStringList{"10", "20", "30"}));
    QCOMPARE(gridRow(page, 1), (QStringList{"N", "N", "N"}));
    child<QComboBox>(&page, "comboBox_2")->setCurrentText("湿度");
    QVERIFY(child<QLineEdit>(&page, "lineEdit_12")->isEnabled());
    QVERIFY(!child<QLineEdit>(&page, "lineEdit_10")->isEnabled());
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_11")->text(), QString("0"));
    child<QComboBox>(&page, "comboBox_2")->setCurrentText("温湿度");
    QVERIFY(child<QLineEdit>(&page, "lineEdit_10")->isEnabled());
    QVERIFY(child<QLineEdit>(&page, "lineEdit_8")->isEnabled());
}

void RegistersTest::equipmentSavedTwiceGivesTwoRowsModifiedAndDeletedTogether()
{
    TempDatabase db;
    {
        // Saving a name again asks (No is the default) and replaces on Yes.
        Form2 page;
        fillEquipment(page, "Chamber", "5");
        click(&page, "pushButton");
        child<QLineEdit>(&page, "lineEdit")->setText("Client two");
        click(&page, "pushButton");
        QCOMPARE(asked().last(), QString("提示|该设备名称已存在，是否覆盖？\nChamber"));
        QCOMPARE(prompts::recordsOf(prompts::Kind::Question).last().destructive, true);
        QCOMPARE(rows("select companyname from equipdata"), (storage::Rows{{"Client"}}));
        prompts::queueAnswer(true);
        click(&page, "pushButton");
        QCOMPARE(rows("select companyname from equipdata"), (storage::Rows{{"Client two"}}));
    }
    // Two rows of one name come only from older files: modify updates both,
    // delete removes both.
    QVERIFY(storage::insertEquipment(storage::Equipment::fromRow(rows("select * from equipdata").value(0))).ok);
    prompts::clearRecords();
    Form2 page;
    fillEquipment(page, "Chamber", "5");
    auto *list = child<QTableWidget>(&page, "twdetail");
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(list->columnCount(), 18);
    QCOMPARE(list->item(1, 0)->text(), QString("2"));
    QCOMPARE(list->item(0, 3)->text(), QString("Chamber"));
    QCOMPARE(list->item(0, 17)->text(), QString("BLOB"));
    QCOMPARE(rows("select tem1,tem5,tem6,hum2,adjustnum from equipdata").value(0),
             (storage::Row{"10", "50", "", "45", "5"}));
    child<QLineEdit>(&page, "lineEdit")->setText("Client three");
    click(&page, "pushButton_2");
    QCOMPARE(rows("select companyname from equipdata"),
             (storage::Rows{{"Client three"}, {"Client three"}}));
    prompts::queueAnswer(true);
    click(&page, "pushButton_7");
    QCOMPARE(rows("select count(*) from equipdata").value(0).value(0), QString("0"));
    QCOMPARE(firstLines(), (QStringList{"提示|修改成功！", "提示|删除成功！"}));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_3")->text(), QString("Chamber")); // fields kept
}

void RegistersTest::equipmentModifyAfterEditingTheNameChangesNothing()
{
    TempDatabase db;
    Form2 page;
    fillEquipment(page, "Chamber", "2");
    click(&page, "pushButton");
    const storage::Rows before = rows("select * from equipdata");
    child<QLineEdit>(&page, "lineEdit_3")->setText("Renamed");
    child<QLineEdit>(&page, "lineEdit")->setText("Changed");
    click(&page, "pushButton_2");
    QCOMPARE(firstLines().last(), QString("提示|没有找到名称为“Renamed”的试验设备，未修改。"));
    QCOMPARE(rows("select * from equipdata"), before);
}

void RegistersTest::equipmentCountOutsideOneToTenIsRefused_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("11") << "11";
    QTest::newRow("0") << "0";
    QTest::newRow("empty") << "";
}

void RegistersTest::equipmentCountOutsideOneToTenIsRefused()
{
    QFETCH(QString, count);
    TempDatabase db;
    Form2 page;
    fillEquipment(page, "Chamber", "2");
    click(&page, "pushButton");
    prompts::clearRecords();
    child<QLineEdit>(&page, "lineEdit_14")->setText(count);
    click(&page, "pushButton");
    click(&page, "pushButton_2");
    const QStringList boxes = shown();
    QCOMPARE(boxes.size(), 2);
    for (const QString &b : boxes)
        QVERIFY2(b.startsWith("失败|"), qPrintable(b));
    QCOMPARE(rows("select adjustnum from equipdata"), (storage::Rows{{"2"}}));
}

void RegistersTest::equipmentRowClickShowsStoredPoints()
{
    TempDatabase db;
    const storage::Equipment row =
        equipmentRow({"Oven", "Client", "Addr", "温湿度", "M-1", "E-1", "<2立方米", "9", "3",
                      "Maker", "2019-07", "10", "50", "30", "90", "3"},
                     {"11", "22", "33"}, {"31", "42", "53"});
    QVERIFY(storage::insertEquipment(row).ok);
    Form2 page;
    QMetaObject::invokeMethod(&page, "on_twdetail_cellClicked", Q_ARG(int, 0), Q_ARG(int, 5));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_3")->text(), QString("Oven"));
    QCOMPARE(child<QComboBox>(&page, "comboBox")->currentText(), QString("<2立方米"));
    QCOMPARE(child<QDateEdit>(&page, "dateEdit")->date().toString("yyyy-MM"), QString("2019-07"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_5")->text(), QString("E-1"));
    QCOMPARE(child<QLineEdit>(&page, "lineEdit_6")->text(), QString("M-1"));
    QCOMPARE(gridRow(page, 0), (QStringList{"11", "22", "33"}));
    QCOMPARE(gridRow(page, 1), (QStringList{"31", "42", "53"}));
}

void RegistersTest::equipmentQuotesStoredUnchanged()
{
    TempDatabase db;
    Form2 page;
    fillEquipment(page, "O'Brien's \"Oven\"; 50%", "1");
    child<QLineEdit>(&page, "lineEdit_2")->setText("x'); delete from equipdata; --");
    click(&page, "pushButton");
    QCOMPARE(rows("select name,address from equipdata"),
             (storage::Rows{{"O'Brien's \"Oven\"; 50%", "x'); delete from equipdata; --"}}));
    child<QLineEdit>(&page, "lineEdit_9")->setText("Maker'");
    click(&page, "pushButton_2");
    QCOMPARE(rows("select madecompanyname from equipdata"), (storage::Rows{{"Maker'"}}));
}

void RegistersTest::equipmentSelectionWritesEquipmentAndAmbientOnly()
{
    TempDatabase db;
    QVERIFY(storage::selectCollector("SN-9").ok);
    QVERIFY(storage::storeChannelLayout(storage::Device::B, {}, "2", "0;2;0;", "11").ok);
    Form2 page;
    child<QLineEdit>(&page, "lineEdit_3")->setText("Chamber");
    child<QLineEdit>(&page, "lineEdit_15")->setText("22.5");
    child<QLineEdit>(&page, "lineEdit_4")->setText("48");
    click(&page, "pushButton_4");
    QCOMPARE(firstLines(), QStringList{"提示|选择成功！"});
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.equipdata, QString("Chamber"));
    QCOMPARE(s.datacollect, QString("SN-9"));
    QCOMPARE(s.roadB, QString("0;2;0;"));
    QCOMPARE(s.roadtypeB, QString("11"));
    QCOMPARE(rows("select * from envirdata"), (storage::Rows{{"22.5", "48"}}));
}

void RegistersTest::equipmentEmptyNameSelectsAndDeletesNothing()
{
    TempDatabase db;
    Form2 page;
    click(&page, "pushButton_4");
    click(&page, "pushButton_7");
    QCOMPARE(firstLines(), (QStringList{"提示|未选择实验设备！", "提示|未选择设备！"}));
    QVERIFY(asked().isEmpty());
    QCOMPARE(rows("select * from envirdata"), (storage::Rows{{"25", "60"}}));
    QCOMPARE(storage::readSelection().value.equipdata, QString());
}

void RegistersTest::equipmentClearAllWithACount()
{
    TempDatabase db;
    QVERIFY(storage::selectEquipment("Kept", "20", "50").ok);
    Form2 page;
    fillEquipment(page, "Chamber", "3");
    click(&page, "pushButton");
    prompts::clearRecords();
    prompts::queueAnswer(true);
    click(&page, "pushButton_3");
    QCOMPARE(firstLines(), QStringList{"提示|全清成功！"});
    QCOMPARE(rows("select count(*) from equipdata").value(0).value(0), QString("0"));
    QCOMPARE(child<QTableWidget>(&page, "twShow")->columnCount(), 0);
    QVERIFY(child<QLineEdit>(&page, "lineEdit_15")->text().isEmpty());
    QCOMPARE(storage::readSelection().value.equipdata, QString("Kept"));
}

QTEST_MAIN(RegistersTest)
// The standard's stability (collector page) and the set value's resolution
// (equipment page): saved with their record in one go, shown again when the
// row is clicked, changed by 修改, kept with the records at processing.
void RegistersTest::whatTheBudgetsNeedIsKeptBesideTheRecords()
{
    TempDatabase db;
    {
        Form1 page;
        fillCollector(page, collectorRow("1", "SN1"));
        child<QLineEdit>(&page, "lineEdit_stabilityT")->setText("0.02");
        click(&page, "pushButton_3");
        QCOMPARE(storage::collectorExtra("SN1").value, (storage::CollectorExtra{"0.02", ""}));
        child<QLineEdit>(&page, "lineEdit_stabilityH")->setText("0.5");
        click(&page, "pushButton_4");
        QCOMPARE(storage::collectorExtra("SN1").value, (storage::CollectorExtra{"0.02", "0.5"}));
    }
    {
        Form2 page;
        fillEquipment(page, "Chamber", "2");
        child<QLineEdit>(&page, "lineEdit_settingT")->setText("0.1");
        click(&page, "pushButton");
        QCOMPARE(storage::equipmentExtra("Chamber").value.settingT, QString("0.1"));
    }
    Form1 collectors;
    QMetaObject::invokeMethod(&collectors, "on_twshow_cellClicked", Q_ARG(int, 0), Q_ARG(int, 0));
    QCOMPARE(child<QLineEdit>(&collectors, "lineEdit_stabilityH")->text(), QString("0.5"));
    Form2 equipment;
    QMetaObject::invokeMethod(&equipment, "on_twdetail_cellClicked", Q_ARG(int, 0), Q_ARG(int, 0));
    QCOMPARE(child<QLineEdit>(&equipment, "lineEdit_settingT")->text(), QString("0.1"));
    const base::Result<storage::Snapshot> kept = storage::currentRecords("Chamber", {"SN1"});
    QVERIFY(kept.ok);
    QCOMPARE(kept.value.collectorExtras, (QList<storage::CollectorExtra>{{"0.02", "0.5"}}));
    QCOMPARE(kept.value.equipmentExtra.settingT, QString("0.1"));
    storage::Snapshot back;
    QVERIFY(storage::Snapshot::fromJson(kept.value.toJson(), &back));
    QCOMPARE(back.collectorExtras, kept.value.collectorExtras);
}

// The working space and layout on the equipment page, each channel's
// location on the channel page, both in the records a run keeps.
void RegistersTest::theLayoutIsStoredAndCapturedWithTheRun()
{
    TempDatabase db;
    {
        Form2 page;
        fillEquipment(page, "Chamber", "2");
        for (const auto &[name, value] : {std::pair<const char *, const char *>{"lineEdit_width", "1"},
                                          {"lineEdit_depth", "0.8"},
                                          {"lineEdit_height", "1.2"}})
            child<QLineEdit>(&page, name)->setText(value);
        QCOMPARE(child<QLabel>(&page, "label_volume")->text(), QString("容积 0.96 m³（规范 9 点）"));
        child<QComboBox>(&page, "comboBox_layout")->setCurrentIndex(1);
        click(&page, "pushButton");
        click(&page, "pushButton_4"); // selected for the run
    }
    QCOMPARE(storage::equipmentExtra("Chamber").value.layout, QString("9"));
    {
        Form3 page;
        child<QLineEdit>(&page, "lenum")->setText("2");
        auto *table = child<QTableWidget>(&page, "twShow");
        QMetaObject::invokeMethod(&page, "on_twShow_cellDoubleClicked", Q_ARG(int, 0),
                                  Q_ARG(int, 14));
        auto *box = qobject_cast<QComboBox *>(table->cellWidget(0, 14));
        QVERIFY(box);
        QCOMPARE(box->count(), 10); // none, then the 9 locations
        QVERIFY(box->findText("O（中心）") > 0);
        box->setCurrentText("O（中心）");
    }
    QCOMPARE(storage::channelLocations(storage::Device::A).value,
             (QMap<QString, QString>{{"101", "O"}}));
    const base::Result<storage::Snapshot> kept = storage::currentRecords("Chamber", {});
    storage::Snapshot back;
    QVERIFY(kept.ok && storage::Snapshot::fromJson(kept.value.toJson(), &back));
    QCOMPARE(back.locationsA, (QMap<QString, QString>{{"101", "O"}}));
    QCOMPARE(back.equipmentExtra.layout, QString("9"));
    QCOMPARE(back.equipmentExtra.height, QString("1.2"));
    // Own locations as typed: name x y z, fractions of the working space,
    // or metres once its sides are known; kept as fractions either way.
    QCOMPARE(Form2::parseLocations("O 0.5 0.5 0.5; P 0 1 0.2").value.size(), 2);
    for (const char *bad : {"O 0.5 0.5", "O 0.5 0.5 1.5", "O a b c", "O 0 0 0; O 1 1 1"})
        QVERIFY2(!Form2::parseLocations(bad).ok, bad);
    const QVector<double> space{0.8, 0.6, 1.2};
    const base::Result<QList<storage::Location>> metres =
        Form2::parseLocations("O 0.4 0.3 0.6; P 0.8 0 1.2", space);
    QVERIFY(metres.ok);
    QCOMPARE(metres.value[1], (storage::Location{"P", 1.0, 0.0, 1.0}));
    QCOMPARE(Form2::locationsText(metres.value, space), QString("O 0.4 0.3 0.6; P 0.8 0 1.2"));
    QVERIFY(!Form2::parseLocations("P 0.9 0 0", space).ok); // wider than the space
}

#include "tst_registers.moc"
