#include "tests/docskit.h"

#include "tests/testkit.h"

#include "office/templates.h"
#include "office/zippackage.h"

namespace testkit {

DocumentRig::DocumentRig()
{
    fixture.begin = "2024-05-01 10:00:00";
    equipmentExtra.settingT = equipmentExtra.settingH = "0";
    fixture.equipType = "温湿度";
    fixture.equipment = "恒温恒湿箱 <A&B>";
    fixture.collector = "ORV7020001";
    fixture.channels = QStringList{"101", "102", "103"};
    fixture.kindsA = "2;1;0;";
    fixture.typesA = "001";
    fixture.tem = QStringList{"25", "40", "60"};
    fixture.hum = QStringList{"50", "60", "70"};
    fixture.stepSeconds = 60;
    fixture.add(1, "25.000;25.400;50.000;", 2);
    fixture.add(1, "25.100;25.300;51.000;", 1);
    fixture.add(2, "40.000;40.200;60.500;", 2);
    fixture.add(3, "60.000;60.100;70.000;", 2);
    equipment =
        equipmentRow({fixture.equipment, "客户 \"甲\"", "上海市 1 号", "温湿度", "HW-100", "EQ-7",
                      "<2立方米", "9", "3", "制造厂", "2020-01", "20", "60", "40", "80", "2"},
                     {"99", "98"}, {"97", "96"});
    collector = storage::Collector::fromRow(
        storage::Row{"1", "采集器一", "M702", "/dev/ttyS0", fixture.collector, "0.1", "1.5", "0.01",
                     "0.1", "ZS-2024-001", "0.05", "0.8", "2", "2", "2025-06-30"});
    company =
        storage::Company::fromRow(storage::Row{"某计量院", "021-1234", "021-5678", "实验路 8 号",
                                               "200000", "www.x.cn", "实验室", "(沪)法计(2024)01"});
}

bool DocumentRig::store()
{
    if (!storage::insertEquipment(equipment).ok || !storage::insertCollector(collector).ok ||
        !storage::saveCompany(company).ok ||
        !storage::saveCollectorExtra(collector.serialnum, extra).ok ||
        !storage::saveEquipmentExtra(equipment.name, equipmentExtra).ok)
        return false;
    if (!collector2.serialnum.isEmpty() &&
        !storage::saveCollectorExtra(collector2.serialnum, extra2).ok)
        return false;
    if (!collector2.serialnum.isEmpty() && !storage::insertCollector(collector2).ok)
        return false;
    header = insertCalibration(fixture);
    if (header.dtbegin.isEmpty())
        return false;
    if (!keepRecords)
        return true;
    // The records kept with it, as processing keeps them.
    QStringList serials{header.collector};
    if (!collector2.serialnum.isEmpty())
        serials << collector2.serialnum;
    const base::Result<storage::Snapshot> records =
        storage::currentRecords(header.equipname, serials);
    return records.ok && storage::storeCalibration(header, records.value, true).ok;
}

QString ownTemplate(const QString &name, const QString &dir)
{
    base::Result<QList<office::ZipEntry>> package = office::readZip(office::findTemplate(name));
    if (!package)
        return QString();
    const base::Result<bool> changed = office::fillEntry(
        package.value, QStringLiteral("word/document.xml"),
        [](const QByteArray &xml) -> base::Result<QByteArray> {
            QByteArray out = xml;
            out.replace("<w:body>", "<w:body><w:p><w:r><w:t>本实验室</w:t></w:r></w:p>");
            return out;
        });
    const QString path = dir + QLatin1Char('/') + name;
    if (!changed || !changed.value || !office::writeZip(path, package.value))
        return QString();
    return path;
}

} // namespace testkit
