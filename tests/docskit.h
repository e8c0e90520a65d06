#pragma once

// A processed calibration with its equipment, collector and laboratory
// records, for the document and workbook tests.

#include "tests/calibkit.h"

namespace testkit {

struct DocumentRig
{
    CalibrationFixture fixture;
    storage::RunHeader header;
    storage::Equipment equipment;
    storage::Collector collector;
    storage::Collector collector2; // a run's second collector, when its serial is set
    storage::Company company;
    // Beside the records: entered as negligible (0) unless a test says more.
    storage::CollectorExtra extra{"0", "0"}, extra2{"0", "0"};
    storage::EquipmentExtra equipmentExtra; // the set value's resolution 0

    // False: a calibration processed before the records were kept with it.
    bool keepRecords = true;

    DocumentRig();
    // Writes the records and the calibration into the open test database.
    bool store();
};

// A laboratory's own copy of the installed template `name` in `dir`, its
// title changed (so it is no longer the installed one); empty on failure.
QString ownTemplate(const QString &name, const QString &dir);

} // namespace testkit
