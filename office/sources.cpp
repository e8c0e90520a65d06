#include "office/sources.h"

#include "storage/samplereader.h"

namespace office {

base::Result<ExportRecords> readExportRecords(storage::SampleReader &reader,
                                              const storage::RunHeader &header)
{
    const base::Result<storage::Equipment> equipment = reader.equipmentRecord(header.equipname);
    const base::Result<storage::Collector> collector = reader.collectorRecord(header.collector);
    const base::Result<storage::Company> company = reader.companyRecord();
    const base::Result<QList<storage::ChannelRow>> a = reader.channelRows(false);
    const base::Result<QList<storage::ChannelRow>> b = reader.channelRows(true);
    for (const base::Status &st :
         {equipment.status(), collector.status(), company.status(), a.status(), b.status()})
        if (!st)
            return base::failure(st.error);
    ExportRecords r;
    r.sources = DocumentSources{equipment.value, collector.value, company.value};
    r.channelsA = a.value;
    r.channelsB = b.value;
    return r;
}

} // namespace office
