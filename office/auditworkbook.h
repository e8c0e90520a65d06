#pragma once

// The audit trail as a workbook: one row per change, as the trail holds it,
// and the result of the chain's check above them.

#include "base/result.h"
#include "storage/statements.h"

namespace office {

base::Status writeAuditWorkbook(const QList<storage::AuditRow> &rows, const QString &check,
                                const QString &target);

} // namespace office
