#pragma once

// One workstation per database: a second start by the same user on the same
// database is refused, so two windows never write one calibration.

#include <QLockFile>
#include <QString>
#include <memory>

namespace app {

// Locks `databasePath` + ".lock". Null, with the operator's text in `why`,
// when another running workstation holds it. A lock left by a process that
// no longer runs is taken over.
std::unique_ptr<QLockFile> lockDatabase(const QString &databasePath, QString *why);

} // namespace app
