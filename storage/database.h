#pragma once

#include "storage/result.h"

#include <QString>

namespace storage {

// "ORVDB.db3" beside the program.
QString defaultDatabasePath();

// Opens `path` as the default connection and makes sure the nine tables, the
// two single rows and the time indexes exist. Existing tables and rows are
// used as they are. The connection stays registered even when this fails, so
// later statements fail (and report) instead of crashing.
Status openDatabase(const QString &path);

// Creates what is missing on the default connection.
Status ensureSchema();

// Closes and removes the default connection (tests reopen with another file).
void closeDatabase();

} // namespace storage
