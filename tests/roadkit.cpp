#include "tests/roadkit.h"

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/run/shoudata.h"
#include "tests/testkit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableView>
#include <QTableWidget>

namespace testkit {

namespace {

template <typename Page> Page *open(MainWindow &w, const char *action)
{
    w.findChild<QAction *>(QLatin1String(action))->trigger();
    return qobject_cast<Page *>(w.pages()->currentWidget());
}

bool choose(QComboBox *box, const QString &text)
{
    const int i = box->findText(text);
    box->setCurrentIndex(i);
    return i >= 0;
}

} // namespace

QList<QStringList> roadLayout(rtu::Family family, int thermometers)
{
    if (family != rtu::Family::M702)
        thermometers = 2;
    QList<QStringList> rows;
    for (int i = 0; i < thermometers + 2; ++i) {
        QStringList row;
        const QString ch = QString::number(101 + i);
        switch (family) {
        case rtu::Family::M702:
            row = i < thermometers ? QStringList{ch, QStringLiteral("铂电阻"), QStringLiteral("PT100-385"),
                                      QStringLiteral("四线制")}
                        : QStringList{ch, QStringLiteral("直流电压-H"), QString(), QString()};
            break;
        case rtu::Family::M701TC:
            row = QStringList{ch, QStringLiteral("TC"), QStringLiteral("K"), QString()};
            break;
        case rtu::Family::M701RTD:
            row = QStringList{ch, QStringLiteral("RTD"),
                              i == 1 ? QStringLiteral("ITS90") : QStringLiteral("RTD"),
                              QStringLiteral("四线制")};
            break;
        }
        row << QStringLiteral("1") << QStringLiteral("0")
            << (family == rtu::Family::M701TC ? QString() : QStringLiteral("100"));
        while (row.size() < 14)
            row << QString();
        if (row[2] == QLatin1String("ITS90"))
            for (int c = 9; c < 14; ++c)
                row[c] = QStringLiteral("0.001");
        rows << row;
    }
    return rows;
}

namespace {

QString modelOf(rtu::Family family)
{
    switch (family) {
    case rtu::Family::M701TC:
        return QStringLiteral("M701-TC");
    case rtu::Family::M701RTD:
        return QStringLiteral("M701-RTD");
    case rtu::Family::M702:
        break;
    }
    return QStringLiteral("M702");
}

// Records one collector by scanning its port; empty when it worked.
QString recordCollector(Form1 *page, sim::CollectorSim &collector, int number,
                        bool standardsData = false)
{
    if (standardsData) {
        const QList<QPair<const char *, const char *>> fields{
            {"lineEdit_4", "0.1"},  {"lineEdit_5", "1.5"},  {"lineEdit_6", "0.01"},
            {"lineEdit_7", "0.1"},  {"lineEdit_8", "ZS-2026-0815"},
            {"lineEdit_9", "0.05"}, {"lineEdit_11", "2"},   {"lineEdit_10", "0.8"},
            {"lineEdit_12", "2"},   {"lineEdit_stabilityT", "0.02"},
            {"lineEdit_stabilityH", "0.3"}};
        for (const auto &f : fields)
            child<QLineEdit>(page, f.first)->setText(QLatin1String(f.second));
        child<QDateEdit>(page, "dateEdit")->setDate(QDate::currentDate().addYears(1));
    }
    child<QLineEdit>(page, "lineEdit")->setText(QString::number(number));
    child<QLineEdit>(page, "lineEdit_2")->setText(QStringLiteral("Logger %1").arg(number));
    if (!choose(child<QComboBox>(page, "comboBox"), modelOf(collector.options().family)))
        return QStringLiteral("the model is not offered");
    if (!choose(child<QComboBox>(page, "comboBox_2"), collector.portPath()))
        return QStringLiteral("the collector's port is not listed");
    if (!clickAndWait(page, QStringLiteral("pushButton")))
        return QStringLiteral("the scan did not end");
    if (child<QLineEdit>(page, "lineEdit_3")->text() != collector.options().serial)
        return QStringLiteral("the scan found no serial number");
    click(page, QStringLiteral("pushButton_3"));
    return {};
}

// Writes the family's layout into one collector as the shown device.
QString downloadLayout(Form3 *layout, sim::CollectorSim &collector, int thermometers = 2)
{
    const QList<QStringList> rows = roadLayout(collector.options().family, thermometers);
    child<QLineEdit>(layout, "lenum")->setText(QString::number(rows.size()));
    auto *table = child<QTableWidget>(layout, "twShow");
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table->item(r, c)->setText(rows[r][c]);
    if (!choose(child<QComboBox>(layout, "comboBox"), collector.portPath()))
        return QStringLiteral("the layout page does not list the collector's port");
    if (!clickAndWait(layout, QStringLiteral("pushButton_2")))
        return QStringLiteral("the download did not end");
    return {};
}

} // namespace

QString walkTheRoad(MainWindow &w, sim::CollectorSim &collector, const Road &road)
{
    // Collectors: scan, save; the first one selected.
    auto *collectors = open<Form1>(w, "action");
    if (!collectors)
        return QStringLiteral("no collector page");
    if (road.second)
        if (QString e = recordCollector(collectors, *road.second, 2); !e.isEmpty())
            return QStringLiteral("second collector: ") + e;
    if (QString e = recordCollector(collectors, collector, 1, road.standardsData); !e.isEmpty())
        return e;
    click(collectors, QStringLiteral("pushButton_6"));

    // Equipment with its calibration points, selected with the ambient values.
    auto *equipment = open<Form2>(w, "action_2");
    child<QLineEdit>(equipment, "lineEdit_3")->setText(road.equipment);
    child<QLineEdit>(equipment, "lineEdit_10")->setText(QStringLiteral("20"));
    child<QLineEdit>(equipment, "lineEdit_11")->setText(QStringLiteral("40"));
    child<QLineEdit>(equipment, "lineEdit_12")->setText(QStringLiteral("40"));
    child<QLineEdit>(equipment, "lineEdit_13")->setText(QStringLiteral("80"));
    child<QLineEdit>(equipment, "lineEdit_14")->setText(QString::number(road.points));
    if (road.standardsData) {
        child<QLineEdit>(equipment, "lineEdit_settingT")->setText(QStringLiteral("0.1"));
        child<QLineEdit>(equipment, "lineEdit_settingH")->setText(QStringLiteral("1"));
    }
    if (road.nineLocations) {
        child<QLineEdit>(equipment, "lineEdit_width")->setText(QStringLiteral("1"));
        child<QLineEdit>(equipment, "lineEdit_depth")->setText(QStringLiteral("0.8"));
        child<QLineEdit>(equipment, "lineEdit_height")->setText(QStringLiteral("1.2"));
        child<QComboBox>(equipment, "comboBox_layout")->setCurrentIndex(1);
    }
    click(equipment, QStringLiteral("pushButton"));
    click(equipment, QStringLiteral("pushButton_4"));

    // Layouts: device one, then device two on the second collector.
    auto *layout = open<Form3>(w, "action_7");
    const int thermometers = road.nineLocations ? 9 : 2;
    if (QString e = downloadLayout(layout, collector, thermometers); !e.isEmpty())
        return e;
    if (road.nineLocations) {
        // Where each probe sits: a thermometer at each location in the
        // list's order, the transmitters at the centre and at A.
        auto *table = child<QTableWidget>(layout, "twShow");
        const int where = table->columnCount() - 1;
        for (int r = 0; r < thermometers + 2; ++r) {
            QMetaObject::invokeMethod(layout, "on_twShow_cellDoubleClicked", Q_ARG(int, r),
                                      Q_ARG(int, where));
            auto *box = qobject_cast<QComboBox *>(table->cellWidget(r, where));
            if (!box || box->count() != 10)
                return QStringLiteral("row %1 offers no nine locations").arg(r + 1);
            if (r < thermometers)
                box->setCurrentIndex(r + 1);
            else
                box->setCurrentIndex(box->findText(r == thermometers ? QStringLiteral("O（中心）")
                                                                    : QStringLiteral("A")));
        }
    }
    if (road.second) {
        click(layout, QStringLiteral("pushButton_5"));
        if (QString e = downloadLayout(layout, *road.second); !e.isEmpty())
            return QStringLiteral("second collector: ") + e;
    }

    // Every point, then processing.
    auto *run = open<shoudata>(w, "action_3");
    child<QLineEdit>(run, "lineEdit")->setText(QStringLiteral("1"));
    child<QSpinBox>(run, "spinBox_settle")->setValue(road.settleMinutes);
    if (road.second) {
        child<QCheckBox>(run, "checkBox_2")->setChecked(true);
        if (!choose(child<QComboBox>(run, "comboBox_6"), road.second->options().serial))
            return QStringLiteral("the run page does not offer the second collector");
        if (!choose(child<QComboBox>(run, "comboBox_4"), road.second->portPath()))
            return QStringLiteral("the run page does not list the second collector's port");
    }
    const QAbstractItemModel *live = child<QTableView>(run, "twshow")->model();
    for (int point = 0; point < road.points; ++point) {
        const int before = live->rowCount();
        click(run, QStringLiteral("pushButton"));
        if (!run->isRunning())
            return QStringLiteral("point %1 did not start").arg(point + 1);
        if (!waitUntil([&] { return live->rowCount() >= before + road.rowsPerPoint; }, road.waitMs))
            return QStringLiteral("point %1 got too few rows").arg(point + 1);
        if (point + 1 == road.points && road.whileRunning)
            road.whileRunning(run);
        click(run, QStringLiteral("pushButton_2"));
        if (!waitUntil([&] { return !run->isRunning(); }, 2000))
            return QStringLiteral("point %1 did not stop").arg(point + 1);
    }
    click(run, QStringLiteral("pushButton_4"));
    return {};
}

} // namespace testkit
