#pragma once

// Moving a station's ORVDB.db3 into the laboratory's server: the records,
// the station's own tables, every processed calibration with its samples
// (each calibration its own run), the evaluation settings, the records kept
// at processing and the certificate register. Running it again copies
// nothing twice.

#include "storage/result.h"

#include <QString>
#include <functional>

namespace storage {

struct MigrationSummary
{
    int collectors = 0, equipment = 0, company = 0, stationRows = 0;
    int calibrations = 0, calibrationsThere = 0; // copied, already on the server
    qint64 samples = 0;
    qint64 outside = 0; // samples of no processed calibration: not copied
    int kept = 0;       // evaluation settings, snapshots, certificates
};

using MigrationProgress = std::function<void(const QString &what, int done, int total)>;

Result<MigrationSummary> migrateToServer(const QString &file, const QString &url,
                                         const QString &station,
                                         const MigrationProgress &progress = {});

} // namespace storage
