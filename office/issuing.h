#pragma once

// Issuing the standard certificate, for the query page and orven-report
// alike: what the register gives (the original, a copy, an amendment), the
// document written (refused, with every reason, before any number is
// taken) and the register entry with the documents as issued.
//
// plan() and enter() read and write the register on the caller's thread;
// produce() runs on a worker thread (or the tool's) and touches no database.

#include "base/result.h"
#include "base/task.h"
#include "office/standardcertificate.h"

#include <QDateTime>

namespace office {

struct CertificateRequest
{
    // Calibration with its samples, records, signers, remarks on the
    // standards and the target; the number comes from the plan.
    StandardCertificateJob job;
    results::EvaluationSettings settings; // under the certified method
    QVector<results::PointResult> recorded;
};

struct CertificatePlan
{
    storage::Certificate certificate; // isCopy(): a copy of the one in force
    storage::Certificate inForce;     // the calibration's certificate in force, if any
    QList<storage::IssuedFile> kept;  // a copy's documents as issued
    QString issueDate;                // "yyyy-MM-dd"
    // What differs from the certificate in force (an amendment), as the
    // operator reads it: "评定方法", "签署人", ...
    QStringList changed;
};

// Why the standard layout is not issued on today's records (a calibration
// processed before records were kept, and nobody chose to take today's).
QString todaysRecordsRefusal();

// Why records cannot be taken with only `serials` (collector one first):
// the calibration has channels of a collector not named. Empty when all are.
QString secondCollectorMissing(const results::ChannelLayout &layout, const QStringList &serials);

// Everything the content is made from, as JSON (without the issue date).
QString certificateContent(const CertificateRequest &request);
// The signers an issued certificate names.
Signers signersOf(const storage::Certificate &certificate);

base::Result<CertificatePlan> planCertificate(const CertificateRequest &request,
                                              const QDateTime &now);

// Writes the target: a copy is the document as issued with "副本" on
// every page; otherwise the evaluation, the refusals and the document.
// Returns the documents to keep in the register (none for a copy).
base::Result<QList<storage::IssuedFile>> produceCertificate(CertificateRequest request,
                                                           const CertificatePlan &plan,
                                                           const base::Progress &progress);

// Enters the plan in the register with the documents; when refused, the
// target is removed (it must not go out as a certificate).
base::Result<storage::Certificate> enterCertificate(const CertificatePlan &plan,
                                                    const QList<storage::IssuedFile> &files,
                                                    const QString &target);

// The Word file `docx` marked as a copy in the header of every page.
base::Result<QByteArray> stampCopy(const QByteArray &docx);

} // namespace office
