#pragma once

// Runs a storage body inside one transaction on the default connection:
// commits when it succeeds, rolls back otherwise.

#include "storage/result.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace storage {

template <typename F> Status inTransaction(F body)
{
    QSqlDatabase db = QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    if (!db.transaction()) {
        const QString reason = db.lastError().text().trimmed();
        return Status::failure(reason.isEmpty() ? QStringLiteral("cannot begin a transaction")
                                                : reason);
    }
    Status st = body();
    if (!st) {
        db.rollback();
        return st;
    }
    if (!db.commit()) {
        const QString reason = db.lastError().text();
        db.rollback();
        return Status::failure(reason);
    }
    return {};
}

} // namespace storage
