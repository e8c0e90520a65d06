// Developer tool: renders every page into PNG files (run under Xvfb with a
// CJK font) so layouts can be looked at. Usage: pageshots OUTDIR

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/channels/form4.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/prompts.h"
#include "pages/reports/budgetdialog.h"
#include "pages/reports/evaluationview.h"
#include "pages/reports/chamberview.h"
#include "pages/reports/form6.h"
#include "pages/run/curvewindow.h"
#include "pages/settings/about.h"
#include "pages/settings/form5.h"
#include "storage/database.h"
#include "tests/runkit.h"

#include <QApplication>
#include <QComboBox>
#include <QTableWidget>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The templates the build made, as the tests find them.
    if (qEnvironmentVariableIsEmpty("ORVEN_TEMPLATES"))
        qputenv("ORVEN_TEMPLATES", ORVEN_APP_DIR);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(out);
    prompts::setScripted(true);
    QTemporaryDir dir;
    storage::openDatabase(dir.path() + QStringLiteral("/ORVDB.db3"));
    storage::saveAccessSettings({false, 15}); // the pages, not the sign-in

    const QList<QPair<QString, std::function<QWidget *()>>> pages = {
        {QStringLiteral("form1"), [] { return new Form1; }},
        {QStringLiteral("form2"), [] { return new Form2; }},
        {QStringLiteral("form3"),
         [] {
             auto *page = new Form3;
             page->findChild<QLineEdit *>(QStringLiteral("lenum"))->setText(QStringLiteral("16"));
             return page;
         }},
        {QStringLiteral("form4"), [] { return new Form4; }},
        {QStringLiteral("form5"), [] { return new Form5; }},
        {QStringLiteral("about"), [] { return new about; }},
    };
    // The main window as it opens, and a question as the operator sees it.
    {
        prompts::loadQtTranslations();
        MainWindow w(dir.path() + QStringLiteral("/ORVDB.db3"));
        w.show();
        QApplication::processEvents();
        w.grab().save(out + QStringLiteral("/main-window.png"));
        std::unique_ptr<QMessageBox> box(
            prompts::questionBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("该操作会清空所有设备数据，是否继续？"), true));
        box->show();
        QApplication::processEvents();
        box->grab().save(out + QStringLiteral("/question.png"));
        storage::openDatabase(dir.path() + QStringLiteral("/ORVDB.db3"));
    }
    for (const auto &p : pages) {
        QWidget *w = p.second();
        w->show();
        QApplication::processEvents();
        w->grab().save(out + QLatin1Char('/') + p.first + QStringLiteral(".png"));
        delete w;
    }
    storage::closeDatabase();

    // The run page during a run against two simulated collectors.
    testkit::RunRig rig;
    testkit::RunRig::Setup setup = testkit::RunRig::realSetup(); // shown as the program runs it
    setup.channelsA = QStringList{"101", "102", "103", "104"};
    setup.flagsA = QStringLiteral("0011");
    setup.channelsB = QStringList{"101", "102"};
    setup.exactValues = false;
    setup.options.humidityChannels = {103, 104};
    if (rig.build(setup)) {
        rig.page->show();
        acquisition::MonitorSettings quick;
        quick.windowSeconds = 4; // a short stability window, so the shots come quickly
        quick.minSamples = 4;
        rig.page->monitor()->setSettings(quick);
        rig.start();
        rig.waitRows(2, 10000);
        rig.page->grab().save(out + QStringLiteral("/shoudata-not-stable.png"));
        testkit::waitUntil([&] { return rig.page->monitor()->state().stable; }, 15000);
        rig.page->grab().save(out + QStringLiteral("/shoudata.png"));
        testkit::click(rig.page.get(), QStringLiteral("pushButton_curves"));
        if (CurveWindow *curves = rig.page->curveWindow()) {
            curves->resize(1100, 650);
            testkit::waitUntil([&] { return false; }, 300);
            curves->grab().save(out + QStringLiteral("/curves.png"));
            curves->close();
        }
        rig.sim2->setSilent(true);
        testkit::waitUntil([&] { return !rig.page->monitor()->state().alarms.isEmpty(); }, 10000);
        rig.page->grab().save(out + QStringLiteral("/shoudata-alarm.png"));
        rig.sim2->setSilent(false);
        testkit::waitUntil([&] { return rig.page->monitor()->state().alarms.isEmpty(); }, 10000);
        rig.stop();
        // Another point, then processing, then the query page with the result.
        rig.start();
        rig.waitRows(12, 15000);
        rig.stop();
        // The records the documents are written from, kept at processing.
        storage::replaceCollector({"1", "采集器一", "M702", rig.sim1->portPath(), "SIM0000001",
                                  "0.1", "1.5", "0.01", "0.1", "ZS-2024-001", "0.05", "0.8", "2",
                                  "2", "2027-06-30"});
        storage::replaceCollector({"2", "采集器二", "M702", rig.sim2->portPath(), "SIM0000002",
                                  "0.1", "1.5", "0.01", "0.1", "ZS-2024-002", "0.06", "1.0", "2",
                                  "2", "2027-03-31"});
        storage::saveCompany({"某市计量测试研究院", "021-12345678", "021-87654321", "实验路 8 号",
                              "200000", "www.example.cn", "实验室", "(沪)法计(2024)01001号"});
        // The standards' stability and the set value's resolution, as entered.
        storage::saveCollectorExtra(QStringLiteral("SIM0000001"), {QStringLiteral("0.02"), QStringLiteral("0.3")});
        storage::saveCollectorExtra(QStringLiteral("SIM0000002"), {QStringLiteral("0.03"), QStringLiteral("0.3")});
        storage::EquipmentExtra chamber;
        chamber.settingT = QStringLiteral("0.1");
        chamber.settingH = QStringLiteral("1");
        // Its working space and the method's 9 locations, each probe placed.
        chamber.width = QStringLiteral("1.0");
        chamber.depth = QStringLiteral("0.8");
        chamber.height = QStringLiteral("1.2");
        chamber.layout = QStringLiteral("9");
        storage::saveEquipmentExtra(storage::readSelection().value.equipdata, chamber);
        storage::storeChannelLocations(storage::Device::A, {{QStringLiteral("101"), QStringLiteral("A")},
                                                            {QStringLiteral("102"), QStringLiteral("O")},
                                                            {QStringLiteral("103"), QStringLiteral("O")},
                                                            {QStringLiteral("104"), QStringLiteral("G")}});
        storage::storeChannelLocations(storage::Device::B, {{QStringLiteral("101"), QStringLiteral("C")},
                                                            {QStringLiteral("102"), QStringLiteral("F")}});
        rig.process();
        Form6 query;
        query.show();
        QMetaObject::invokeMethod(&query, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
        testkit::waitUntil([&] { return query.loadedCalibration() != nullptr; }, 10000);
        query.grab().save(out + QStringLiteral("/form6.png"));
        testkit::click(&query, QStringLiteral("pushButton_results"));
        QApplication::processEvents();
        query.grab().save(out + QStringLiteral("/form6-results.png"));
        testkit::click(&query, QStringLiteral("pushButton_chamber"));
        if (ChamberView *chamber = query.chamberView()) {
            QApplication::processEvents();
            chamber->window()->grab().save(out + QStringLiteral("/chamber.png"));
            chamber->window()->hide();
        }

        // The record and the certificate of that calibration, as PDF.
        // The results under every method, now that the collector is on
        // record; the DKD-R 5-7 correction's budget.
        QMetaObject::invokeMethod(&query, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
        testkit::waitUntil([&] { return query.loadedCalibration() != nullptr; }, 10000);
        testkit::click(&query, QStringLiteral("pushButton_results"));
        EvaluationView *ev = query.evaluationView();
        auto *methods = query.findChild<QComboBox *>(QStringLiteral("comboBox_method"));
        for (results::Method m : results::allMethods()) {
            methods->setCurrentText(results::methodName(m));
            testkit::waitUntil([&] { return !ev->isEvaluating() && ev->evaluation().method == m; },
                               10000);
            if (m == results::Method::Dkd57) {
                auto *table = query.findChild<QTableWidget *>(QStringLiteral("tbresult"));
                table->item(0, 3)->setText(QStringLiteral("19.900"));
                testkit::waitUntil([&] { return false; }, 300);
                testkit::waitUntil([&] { return !ev->isEvaluating(); }, 10000);
                if (ev->openBudget(0, 4)) {
                    ev->budgetDialog()->resize(900, 470);
                    QApplication::processEvents();
                    ev->budgetDialog()->grab().save(out + QStringLiteral("/budget-dkd.png"));
                    ev->budgetDialog()->hide();
                }
                if (ev->openBudget(0, 6)) {
                    QApplication::processEvents();
                    ev->budgetDialog()->grab().save(out + QStringLiteral("/budget-inhomogeneity.png"));
                    ev->budgetDialog()->hide();
                }
            }
            QApplication::processEvents();
            query.grab().save(out + QStringLiteral("/form6-") + results::methodKey(m) +
                              QStringLiteral(".png"));
        }
        methods->setCurrentText(results::methodName(results::Method::Recorded));
        testkit::waitUntil([&] { return !ev->isEvaluating(); }, 10000);
        for (const char *name : {"record", "certificate"}) {
            const QString file =
                out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".pdf");
            prompts::queueAnswer(true); // points without samples
            prompts::queueFileName(file);
            testkit::click(&query, QLatin1String(name) == QLatin1String("record")
                                       ? QStringLiteral("pushButton")
                                       : QStringLiteral("pushButton_2"));
            testkit::waitUntil([&] { return !query.isExporting(); }, 120000);
            prompts::dropQueuedAnswers(); // a failed export leaves its name to nobody
        }
        // The workstation's own certificate, signed.
        prompts::queueAnswer(true); // points without samples
        prompts::queueFields({QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五")});
        prompts::queueFileName(out + QStringLiteral("/standard.pdf"));
        testkit::click(&query, QStringLiteral("pushButton_standard"));
        testkit::waitUntil([&] { return !query.isExporting(); }, 120000);
        prompts::dropQueuedAnswers();
        // Its copy (the same content), then an amendment (another approver).
        for (const QString &approver : {QStringLiteral("王五"), QStringLiteral("孙七")}) {
            prompts::queueAnswer(true); // points without samples
            prompts::queueFields({QStringLiteral("张三"), QStringLiteral("李四"), approver});
            prompts::queueFileName(out + (approver == QStringLiteral("王五")
                                              ? QStringLiteral("/standard-copy.pdf")
                                              : QStringLiteral("/standard-amended.pdf")));
            prompts::queueAnswer(true); // the amendment
            testkit::click(&query, QStringLiteral("pushButton_standard"));
            testkit::waitUntil([&] { return !query.isExporting(); }, 120000);
            prompts::dropQueuedAnswers();
        }
        // The raw workbook and the custom report of the same calibration.
        prompts::queueFileName(out + QStringLiteral("/raw.xlsx"));
        testkit::click(&query, QStringLiteral("pushButton_6"));
        testkit::waitUntil([&] { return !query.isExporting(); }, 120000);
        prompts::dropQueuedAnswers();
        prompts::queueFileName(out + QStringLiteral("/report.xls"));
        testkit::click(&query, QStringLiteral("pushButton_8"));
        testkit::waitUntil([&] { return !query.isExporting(); }, 120000);
        for (const QString &line : prompts::aboutTexts())
            qInfo().noquote() << line;
    }
    return 0;
}
