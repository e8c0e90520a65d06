#include "tests/docskit.h"

#include "tests/testkit.h"

namespace testkit {

DocumentRig::DocumentRig()
{
    spec.begin = "2024-05-01 10:00:00";
    spec.equipType = "温湿度";
    spec.equipment = "恒温恒湿箱 <A&B>";
    spec.collector = "ORV7020001";
    spec.channels = QStringList{"101", "102", "103"};
    spec.kindsA = "2;1;0;";
    spec.typesA = "001";
    spec.tem = QStringList{"25", "40", "60"};
    spec.hum = QStringList{"50", "60", "70"};
    spec.stepSeconds = 60;
    spec.add(1, "25.000;25.400;50.000;", 2);
    spec.add(1, "25.100;25.300;51.000;", 1);
    spec.add(2, "40.000;40.200;60.500;", 2);
    spec.add(3, "60.000;60.100;70.000;", 2);
    equipment =
        equipmentRow({spec.equipment, "客户 \"甲\"", "上海市 1 号", "温湿度", "HW-100", "EQ-7",
                      "<2立方米", "9", "3", "制造厂", "2020-01", "20", "60", "40", "80", "2"},
                     {"99", "98"}, {"97", "96"});
    collector = storage::Row{"1",    "采集器一", "M702", "/dev/ttyS0", spec.collector,
                             "0.1",  "1.5",      "0.01", "0.1",        "ZS-2024-001",
                             "0.05", "0.8",      "2",    "2",          "2025-06-30"};
    company = storage::Row{"某计量院", "021-1234", "021-5678", "实验路 8 号",
                           "200000",   "www.x.cn", "实验室",   "(沪)法计(2024)01"};
}

bool DocumentRig::store()
{
    if (!storage::insertEquipment(equipment).ok || !storage::insertCollector(collector).ok ||
        !storage::saveCompany(company).ok)
        return false;
    header = insertCalibration(spec);
    return !header.dtbegin.isEmpty();
}

} // namespace testkit
