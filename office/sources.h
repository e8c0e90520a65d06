#pragma once

// The records every export of a calibration is written from, read in one
// place for the query page and orven-report alike.

#include "base/result.h"
#include "office/documents.h"
#include "results/evaluation.h"

namespace storage {
class SampleReader;
}

namespace office {

struct ExportRecords
{
    DocumentSources sources;                         // equipment, collector, laboratory
    QList<storage::Collector> collectors;            // every collector of the run
    QList<storage::CollectorExtra> collectorExtras;  // parallel to collectors, when kept
    storage::EquipmentExtra equipmentExtra; // its working space and layout among it
    QMap<QString, QString> locationsA, locationsB; // channel number → location
    QList<storage::ChannelRow> channelsA, channelsB; // the channel tables (custom report)
    // True: the records as they were when the calibration was processed;
    // false: today's (a calibration processed before they were kept).
    bool asProcessed = false;
    // Records taken after processing by an explicit choice: who chose, and
    // when ("yyyy-MM-dd HH:mm:ss"); empty otherwise.
    QString adoptedBy, adoptedAt;
    // Today's records, read now: neither kept nor adopted.
    bool isTodays() const { return !asProcessed && adoptedBy.isEmpty(); }
};
// What the certificate says of records taken after processing; empty for
// records kept at processing.
QString adoptedRecordsText(const ExportRecords &records);

// What an export's success message adds for records that are today's.
QString todaysRecordsNote();

// What the run's standards bring to the budgets (each collector's record
// with its stability, the equipment's set-value resolution).
results::StandardData standardDataOf(const ExportRecords &records,
                                     const results::ChannelLayout &layout);

// The records of the calibration `header` from the open `reader`.
base::Result<ExportRecords> readExportRecords(storage::SampleReader &reader,
                                              const storage::RunHeader &header);

} // namespace office
