#pragma once

// The custom report: a copy of the user's template "test.xls" whose first
// sheet has its placeholders ("#R001#" ... "#R0028#" one value each,
// "#R0101#" ... "#R1201#" one value per channel, written to the right)
// replaced by the calibration's data in rows 1 to 30 and columns 1 to 30;
// any other text starting with "#" there is emptied. LibreOffice turns the
// template into .xlsx in a private folder, the first sheet's XML is patched
// and LibreOffice turns the result back into .xls, so the template's fonts,
// borders, merged cells, widths and other sheets stay as they were.

#include "office/export.h"
#include "results/calibration.h"
#include "storage/records.h"

#include <QHash>

namespace office {

struct CustomReportJob
{
    storage::RunHeader header;
    storage::Equipment equipment;                  // empty: none
    storage::Collector collector;                  // empty: none
    QList<storage::ChannelRow> channelsA, channelsB; // deviceA and deviceB
    QString templatePath;
    QString target; // .xls
    int timeoutMs = 180000;
};

struct Placeholders
{
    QHash<QString, QString> scalars;   // "#R001#" -> value
    QHash<QString, QStringList> lists; // "#R0101#" -> entries
};
Placeholders placeholderValues(const CustomReportJob &job);

// The first sheet's XML with its placeholders replaced. `sharedStrings` are
// the workbook's shared strings (the texts of cells of type "s").
base::Result<QByteArray> fillSheetXml(const QByteArray &sheetXml,
                                         const QStringList &sharedStrings,
                                         const Placeholders &values);
QStringList readSharedStrings(const QByteArray &xml);

// Two files are the same when they resolve to one (links followed).
bool sameFile(const QString &a, const QString &b);

base::Status writeCustomReport(const CustomReportJob &job,
                                  const Progress &progress = Progress());

} // namespace office
