#include "tests/roadkit.h"

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/run/shoudata.h"
#include "tests/testkit.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
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

QString walkTheRoad(MainWindow &w, sim::CollectorSim &collector, const Road &road)
{
    // Collector: scan, save, select.
    auto *collectors = open<Form1>(w, "action");
    if (!collectors)
        return QStringLiteral("no collector page");
    child<QLineEdit>(collectors, "lineEdit")->setText(QStringLiteral("1"));
    child<QLineEdit>(collectors, "lineEdit_2")->setText(QStringLiteral("Logger"));
    if (!choose(child<QComboBox>(collectors, "comboBox_2"), collector.portPath()))
        return QStringLiteral("the collector's port is not listed");
    if (!clickAndWait(collectors, QStringLiteral("pushButton")))
        return QStringLiteral("the scan did not end");
    if (child<QLineEdit>(collectors, "lineEdit_3")->text() != collector.options().serial)
        return QStringLiteral("the scan found no serial number");
    click(collectors, QStringLiteral("pushButton_3"));
    click(collectors, QStringLiteral("pushButton_6"));

    // Equipment with its calibration points, selected with the ambient values.
    auto *equipment = open<Form2>(w, "action_2");
    child<QLineEdit>(equipment, "lineEdit_3")->setText(road.equipment);
    child<QLineEdit>(equipment, "lineEdit_10")->setText(QStringLiteral("20"));
    child<QLineEdit>(equipment, "lineEdit_11")->setText(QStringLiteral("40"));
    child<QLineEdit>(equipment, "lineEdit_12")->setText(QStringLiteral("40"));
    child<QLineEdit>(equipment, "lineEdit_13")->setText(QStringLiteral("80"));
    child<QLineEdit>(equipment, "lineEdit_14")->setText(QString::number(road.points));
    click(equipment, QStringLiteral("pushButton"));
    click(equipment, QStringLiteral("pushButton_4"));

    // Layout: two resistance thermometers and two humidity transmitters.
    auto *layout = open<Form3>(w, "action_7");
    child<QLineEdit>(layout, "lenum")->setText(QStringLiteral("4"));
    auto *table = child<QTableWidget>(layout, "twShow");
    for (int r = 2; r < 4; ++r) {
        table->item(r, 1)->setText(QStringLiteral("直流电压-H"));
        table->item(r, 2)->setText(QString());
        table->item(r, 3)->setText(QString());
    }
    if (!choose(child<QComboBox>(layout, "comboBox"), collector.portPath()))
        return QStringLiteral("the layout page does not list the collector's port");
    if (!clickAndWait(layout, QStringLiteral("pushButton_2")))
        return QStringLiteral("the download did not end");

    // Every point, then processing.
    auto *run = open<shoudata>(w, "action_3");
    child<QLineEdit>(run, "lineEdit")->setText(QStringLiteral("1"));
    const QAbstractItemModel *live = child<QTableView>(run, "twshow")->model();
    for (int point = 0; point < road.points; ++point) {
        const int before = live->rowCount();
        click(run, QStringLiteral("pushButton"));
        if (!run->isRunning())
            return QStringLiteral("point %1 did not start").arg(point + 1);
        if (!waitUntil([&] { return live->rowCount() >= before + road.rowsPerPoint; }, road.waitMs))
            return QStringLiteral("point %1 got too few rows").arg(point + 1);
        click(run, QStringLiteral("pushButton_2"));
        if (!waitUntil([&] { return !run->isRunning(); }, 2000))
            return QStringLiteral("point %1 did not stop").arg(point + 1);
    }
    click(run, QStringLiteral("pushButton_4"));
    return {};
}

} // namespace testkit
