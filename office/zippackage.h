#pragma once

// Office packages (.docx, .xlsx) are zip files of XML parts. These read a
// package whole and write one, through libzip.

#include "storage/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace office {

struct ZipEntry
{
    QString name;
    QByteArray data;
};

base::Result<QList<ZipEntry>> readZip(const QString &path);
// The same from the package's bytes in memory.
base::Result<QList<ZipEntry>> readZipBytes(const QByteArray &bytes);
// Replaces the data of the entry `name` by what `fill` makes of it; false
// when the package has no such entry, the failure of `fill` as it came.
base::Result<bool> fillEntry(QList<ZipEntry> &entries, const QString &name,
                             const std::function<base::Result<QByteArray>(const QByteArray &)> &fill);
// Writes the entries in order to `path` (replacing it).
base::Status writeZip(const QString &path, const QList<ZipEntry> &entries);

} // namespace office
