#include "office/sources.h"

#include "storage/samplereader.h"

namespace office {

QString todaysRecordsNote()
{
    return QStringLiteral("这次校准处理时没有保存当时的记录，文件按现在的设备、采集器和单位记录生成。");
}

QString adoptedRecordsText(const ExportRecords &records)
{
    if (records.adoptedBy.isEmpty())
        return QString();
    return QStringLiteral("该校准处理时没有保存当时的记录；本证书所依据的设备、标准器和单位记录由 %1 于 "
                          "%2 确认采用当时的现行记录。")
        .arg(records.adoptedBy, records.adoptedAt);
}

results::StandardData standardDataOf(const ExportRecords &records,
                                     const results::ChannelLayout &layout)
{
    return results::StandardData::fromCollectors(records.collectors, layout,
                                                 records.collectorExtras, records.equipmentExtra);
}

base::Result<ExportRecords> readExportRecords(storage::SampleReader &reader,
                                              const storage::RunHeader &header)
{
    const base::Result<storage::FoundSnapshot> kept = reader.snapshot(header.dtbegin);
    if (!kept)
        return base::failure(kept.error);
    ExportRecords r;
    if (kept.value.found) {
        const storage::Snapshot &s = kept.value.snapshot;
        r.sources = DocumentSources{s.equipment, s.collectors.value(0), s.company};
        r.collectors = s.collectors;
        r.collectorExtras = s.collectorExtras;
        r.equipmentExtra = s.equipmentExtra;
        r.locationsA = s.locationsA;
        r.locationsB = s.locationsB;
        r.channelsA = s.channelsA;
        r.channelsB = s.channelsB;
        r.asProcessed = s.adoptedBy.isEmpty();
        r.adoptedBy = s.adoptedBy;
        r.adoptedAt = s.adoptedBy.isEmpty() ? QString() : s.taken;
        return r;
    }
    const base::Result<storage::Equipment> equipment = reader.equipmentRecord(header.equipname);
    const base::Result<storage::Collector> collector = reader.collectorRecord(header.collector);
    const base::Result<storage::Company> company = reader.companyRecord();
    const base::Result<QList<storage::ChannelRow>> a = reader.channelRows(false);
    const base::Result<QList<storage::ChannelRow>> b = reader.channelRows(true);
    for (const base::Status &st :
         {equipment.status(), collector.status(), company.status(), a.status(), b.status()})
        if (!st)
            return base::failure(st.error);
    r.sources = DocumentSources{equipment.value, collector.value, company.value};
    r.collectors << collector.value;
    r.channelsA = a.value;
    r.channelsB = b.value;
    return r;
}

} // namespace office
