#pragma once

// The workstation's own certificate layout ("标准格式证书"): a Word file
// written part by part (WordprocessingML), with what ISO/IEC 17025 7.8
// asks of a calibration certificate as far as the records allow: the
// laboratory, the certificate number and "第 x 页 共 y 页" on every page, the
// customer and the item, the dates, the method, the conditions, every
// standard of the run with its certificate and U, the traceability, the
// results as one table per kind with U (k=2), the closing statements and
// the signatures.

#include "base/result.h"
#include "base/task.h"
#include "office/sources.h"
#include "office/zippackage.h"
#include "results/evaluation.h"
#include "storage/statements.h"

namespace office {

struct Signers
{
    QString calibrator, checker, approver;
};
// The names entered at the last export (per user), and keeping them.
Signers rememberedSigners();
void rememberSigners(const Signers &signers);

struct StandardCertificateJob
{
    results::Calibration calibration; // its header (samples are not needed)
    results::Evaluation evaluation;   // the method's figures with their budgets
    ExportRecords records;
    storage::Certificate certificate; // number, and the one it replaces
    Signers signers;
    // Electronic signatures (a laboratory that signs in): printed under the
    // signers; none, nothing is said about them.
    QList<storage::Signature> signatures;
    QString issueDate;           // "yyyy-MM-dd"
    QStringList standardRemarks; // e.g. a collector certificate expired before the run
    QString target;              // .docx, or .pdf through LibreOffice
    int timeoutMs = 180000;
};

// Why this job must not be issued as a certificate (empty: it may): a
// figure printed without its U (an input of its budget is missing, the
// standard's U for one), or a reading its kind cannot mean (relative
// humidity outside 0-100 %RH, a temperature outside -200-1372 ℃) behind a
// deviation. Asked before a number is taken.
QStringList certificateRefusals(const StandardCertificateJob &job);

// The method as the certificate names it ("JJF 1101-2019《…》"). The record's
// own figures are certified under JJF 1101-2019.
QString methodTitle(results::Method method);
// The method a certificate is evaluated under.
results::Method certifiedMethod(results::Method chosen);

// Remarks on the run's standards: a certificate that expired before the
// calibration's first sample, or that has no validity date. Empty when all
// are in order.
QStringList standardProblems(const QList<storage::Collector> &collectors,
                             const QString &dtbegin);

// The conditions of the run the certificate lists: the centre location,
// the sampling interval, scans and duration per point, the load state.
QList<QPair<QString, QString>> conditionRows(const results::Evaluation &evaluation);
// Where the run departs from what the method asks (locations, 30 minutes
// of data per point), as the certificate states it; empty when it does not.
QStringList methodDeviations(const results::Evaluation &evaluation);

// The recommended date of the next calibration: the issue date plus the
// interval the customer asked for (kept with the equipment); empty when
// none was asked.
QString nextCalibrationDate(const StandardCertificateJob &job);

// Why these cannot sign a certificate electronically (empty: they can): the
// three are named, and are three different operators.
QString signersRefusal(const Signers &signers);

// What the certificate prints of its electronic signatures; empty: none.
QString signaturesText(const QList<storage::Signature> &signatures);

// What an amendment prints under its number.
QString replacesText(const QString &number);

// The package's parts ([Content_Types].xml, document, header, footer,
// styles, relationships).
QList<ZipEntry> standardCertificatePackage(const StandardCertificateJob &job);

base::Status writeStandardCertificate(const StandardCertificateJob &job,
                                      const base::Progress &progress = base::Progress());

} // namespace office
