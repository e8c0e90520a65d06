#pragma once

// The records every export of a calibration is written from, read in one
// place for the query page and orven-report alike.

#include "base/result.h"
#include "office/documents.h"

namespace storage {
class SampleReader;
}

namespace office {

struct ExportRecords
{
    DocumentSources sources;                         // equipment, collector, laboratory
    QList<storage::ChannelRow> channelsA, channelsB; // the channel tables (custom report)
};

// The records of the calibration `header` from the open `reader`.
base::Result<ExportRecords> readExportRecords(storage::SampleReader &reader,
                                              const storage::RunHeader &header);

} // namespace office
