// The query page's standard certificate: numbered in the register, signed
// by the names entered (and remembered), evaluated under the method chosen
// in the results view.

#include "pages/reports/evaluationview.h"
#include "pages/reports/exporttarget.h"
#include "pages/reports/form6.h"

#include "office/conversion.h"
#include "office/standardcertificate.h"
#include "pages/prompts.h"
#include "storage/statements.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString sha256Of(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

bool Form6::standardsAccepted(const office::ExportRecords &records, const QString &dtbegin,
                              const QString &question, QStringList *problems)
{
    const QStringList found = office::standardProblems(records.collectors, dtbegin);
    if (problems)
        *problems = found;
    return found.isEmpty() ||
           prompts::question(this, QStringLiteral("提示"),
                             found.join(QLatin1Char('\n')) + QLatin1Char('\n') + question, true);
}

QString Form6::exportedText(const QString &text, const office::ExportRecords &records) const
{
    return records.asProcessed ? text : text + QLatin1Char('\n') + office::todaysRecordsNote();
}

void Form6::on_pushButton_standard_clicked()
{
    if (!readyToExport())
        return;
    const storage::RunHeader header = loadedCalibration()->header;
    office::ExportRecords records;
    if (!readExportRecords(&records))
        return;
    // Points without samples are left out, with a remark.
    const QStringList gaps = office::figureGaps(header, m_results);
    if (!gaps.isEmpty() &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("以下校准点没有可用的数据：\n%1\n证书中不列出这些数值，"
                                          "并在结果表下注明。是否继续？")
                               .arg(gaps.join(QLatin1Char('\n')))))
        return;
    // Standards out of date: asked; stated when going on.
    QStringList problems;
    if (!standardsAccepted(records, header.dtbegin,
                           QStringLiteral("仍要出具证书吗？证书中将注明这一情况。"), &problems))
        return;
    const office::Signers last = office::rememberedSigners();
    QStringList names{last.calibrator, last.checker, last.approver};
    if (!prompts::fields(
            this, QStringLiteral("证书签署"),
            QStringLiteral("证书上列出的人员（留空则印空白签名线）"),
            {QStringLiteral("校准员"), QStringLiteral("核验员"), QStringLiteral("批准人")}, &names))
        return;
    office::rememberSigners(office::Signers{names.value(0), names.value(1), names.value(2)});
    const QString file = exporttarget::ask(this, QStringLiteral("校准证书"), header,
                                           {exporttarget::Format::Pdf, exporttarget::Format::Docx});
    if (file.isEmpty())
        return;
    if (!office::isWordFile(file) && office::findSoffice().isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), office::sofficeMissingText(true));
        return;
    }
    results::EvaluationSettings settings = m_view->settings();
    settings.method = office::certifiedMethod(settings.method);
    const QDateTime now = QDateTime::currentDateTime();
    // The number the document will carry; it is taken only once the
    // document is written (a failed export uses up no number).
    const base::Result<storage::Certificate> certificate = storage::nextCertificate(
        header.dtbegin, results::methodName(settings.method), QStringLiteral("standard"), now);
    if (!certificate) {
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("不能给出证书编号：%1").arg(certificate.error));
        return;
    }
    office::StandardCertificateJob job;
    job.calibration = *loadedCalibration();
    job.records = records;
    job.certificate = certificate.value;
    job.signers = office::Signers{names.value(0), names.value(1), names.value(2)};
    job.issueDate = now.toString(QStringLiteral("yyyy-MM-dd"));
    job.standardRemarks = problems;
    job.target = file;
    const QVector<results::PointResult> recorded = m_results;
    auto hash = std::make_shared<QString>();
    runTask(
        QStringLiteral("导出标准格式证书"),
        [job, recorded, settings, hash](const office::Progress &progress) mutable {
            if (progress.stage)
                progress.stage(QStringLiteral("正在评定…"));
            job.evaluation = results::evaluate(job.calibration, recorded,
                                               results::StandardData::fromCollectors(
                                                   job.records.collectors, job.calibration.layout),
                                               settings, progress.cancel);
            // Never issued wrong: nothing is written, no number taken.
            if (const QStringList refused = office::certificateRefusals(job); !refused.isEmpty())
                return base::Status::failure(QStringLiteral("不能出具证书：\n") +
                                             refused.join(QLatin1Char('\n')));
            const base::Status st = office::writeStandardCertificate(job, progress);
            if (st)
                *hash = sha256Of(job.target);
            return st;
        },
        [this, job, hash, records, settings, now] {
            const QJsonObject files{{QStringLiteral("file"), QFileInfo(job.target).fileName()},
                                    {QStringLiteral("sha256"), *hash}};
            const base::Result<storage::Certificate> issued = storage::issueCertificate(
                job.calibration.header.dtbegin, results::methodName(settings.method), QStringLiteral("standard"), now,
                QString::fromUtf8(QJsonDocument(files).toJson(QJsonDocument::Compact)),
                job.certificate.number);
            if (!issued) {
                // Not registered: the file must not go out as a certificate.
                QFile::remove(job.target);
                prompts::about(this, QStringLiteral("失败"),
                               QStringLiteral("证书没有登记，文件已删除：%1").arg(issued.error));
                return;
            }
            const QString text =
                QStringLiteral("导出成功!\n证书编号 %1%2")
                    .arg(issued.value.number,
                         issued.value.prints > 1 ? QStringLiteral("（副本）") : QString());
            prompts::about(this, QStringLiteral("提示"), exportedText(text, records));
        });
}
