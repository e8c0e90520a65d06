#pragma once

// Running a statement on a given connection (the server's sessions, the
// migration's, a reader's): used inside the storage layer only.

#include "storage/records.h"
#include "storage/result.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

namespace storage {

// "?,?,?" for `n` values.
QString placeholders(int n);

// Prepares `sql` on the query's connection, binds `binds` and runs it; a
// statement without values (a definition, a setting) is run unprepared.
// False with the driver's reason in `why`.
bool runQuery(QSqlQuery &q, const QString &sql, const QVariantList &binds, QString *why);

// The rows of a select that ran on `q` (at most `limit`, all when
// negative), values as text; the query's error says whether all came.
Rows fetchRows(QSqlQuery &q, int limit = -1);

// Every row of a select (at most `limit`, all when negative), values as text.
Result<Rows> rowsOn(const QSqlDatabase &db, const QString &sql, const QVariantList &binds = {},
                    int limit = -1);

// The socket of a server session (-1 for another driver or a closed one),
// and cutting it off from another thread: a statement blocked on a server
// that does not answer then ends at once with an error.
int socketOf(const QSqlDatabase &db);
void cutOff(int socket);

} // namespace storage
