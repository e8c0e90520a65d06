#pragma once

// The raw-data workbook (.xlsx): sheet 1 is the query page's sample table as
// shown (headers in row 1, the values as numbers in "0.000"), sheet "结果"
// the calibration's header data and results, sheet "曲线" a line chart of
// every channel over time. Written with libxlsxwriter in constant-memory
// mode, row by row.

#include "office/export.h"
#include "results/calibration.h"

namespace office {

struct RawWorkbookJob
{
    results::Calibration calibration;
    QVector<results::PointResult> points;
    QString target; // .xlsx
    // Where the probes sat (kept with the records): a sheet of its own when
    // there is a layout.
    storage::EquipmentExtra equipment;
    QMap<QString, QString> locationsA, locationsB;
};

base::Status writeRawWorkbook(const RawWorkbookJob &job, const Progress &progress = Progress());

} // namespace office
