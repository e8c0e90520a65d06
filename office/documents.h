#pragma once

// The texts of the calibration record and the calibration certificate, one
// per bookmark, from a calibration's own header, its equipment, collector
// and laboratory records, its samples and its results.

#include "office/docxfill.h"
#include "results/calibration.h"
#include "storage/records.h"

#include <QString>
#include <QStringList>

namespace office {

// The records a document is written from; an empty record is missing.
struct DocumentSources
{
    storage::Equipment equipment;
    storage::Collector collector;
    storage::Company company;
};

enum class DocumentKind { Record, Certificate };

QString templateName(DocumentKind kind); // "M702.docx", "databook.docx"

// The records the document needs that are missing, named for the operator;
// empty when nothing is missing.
QString missingRecords(DocumentKind kind, const storage::RunHeader &header,
                       const DocumentSources &sources);
// Points without samples and kinds without channels that the equipment type
// asks for, one line each; empty when every figure has a value.
QStringList figureGaps(const storage::RunHeader &header,
                       const QVector<results::PointResult> &points);

// The blanks-padded texts. A figure without a value reads "无数据".
QString recordBlock(const results::Calibration &calibration, const results::PointResult &point,
                    const QVector<int> &samples);
QString certificateBlock(const storage::RunHeader &header, const results::PointResult &point);
QString nextCalibrationDate(const QString &dtbegin); // start + 365 days, "yyyy-MM-dd"

QList<Insertion> recordInsertions(const results::Calibration &calibration,
                                  const QVector<results::PointResult> &points,
                                  const DocumentSources &sources);
QList<Insertion> certificateInsertions(const storage::RunHeader &header,
                                       const QVector<results::PointResult> &points,
                                       const DocumentSources &sources);

} // namespace office
