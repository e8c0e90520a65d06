#pragma once

// Office packages (.docx, .xlsx) are zip files of XML parts. These read a
// package whole and write one, through libzip.

#include "storage/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace office {

struct ZipEntry
{
    QString name;
    QByteArray data;
};

base::Result<QList<ZipEntry>> readZip(const QString &path);
// Writes the entries in order to `path` (replacing it).
base::Status writeZip(const QString &path, const QList<ZipEntry> &entries);

} // namespace office
