// The query page's standard certificate: numbered in the register, signed
// by the names entered (and remembered), evaluated under the method chosen
// in the results view.

#include "pages/reports/evaluationview.h"
#include "pages/reports/exporttarget.h"
#include "pages/reports/form6.h"

#include "office/conversion.h"
#include "office/issuing.h"
#include "office/standardcertificate.h"
#include "pages/prompts.h"
#include "storage/statements.h"

#include <QDateTime>

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
    return !records.isTodays() ? text : text + QLatin1Char('\n') + office::todaysRecordsNote();
}

// A calibration processed before records were kept: the standard layout
// only on records somebody chose to take, recorded with who and when.
bool Form6::adoptTodaysRecords(office::ExportRecords *records)
{
    const storage::RunHeader &header = loadedCalibration()->header;
    if (!prompts::question(this, QStringLiteral("提示"),
                           office::todaysRecordsRefusal() +
                               QStringLiteral("\n\n是否采用现在的记录出具这份证书？")))
        return false;
    const results::ChannelLayout &layout = loadedCalibration()->layout;
    const bool two = !office::secondCollectorMissing(layout, {header.collector}).isEmpty();
    QStringList labels{QStringLiteral("确认人")};
    QStringList values{office::rememberedSigners().calibrator};
    if (two) {
        labels << QStringLiteral("第二台采集器序列号");
        values << QString();
    }
    if (!prompts::fields(this, QStringLiteral("采用现在的记录"),
                         QStringLiteral("写明由谁决定采用（证书上注明）"), labels, &values))
        return false;
    QStringList serials{header.collector};
    if (two)
        serials << values.value(1).trimmed();
    const base::Result<storage::Snapshot> adopted =
        storage::adoptTodaysRecords(header.dtbegin, serials, values.value(0));
    if (!adopted) {
        prompts::about(this, QStringLiteral("失败"), adopted.error);
        return false;
    }
    return readExportRecords(records);
}

void Form6::on_pushButton_standard_clicked()
{
    if (!readyToExport())
        return;
    const storage::RunHeader header = loadedCalibration()->header;
    office::ExportRecords records;
    if (!readExportRecords(&records))
        return;
    if (records.isTodays() && !adoptTodaysRecords(&records))
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
    // Signed as the certificate in force was, unless changed here.
    const base::Result<storage::Certificate> inForce = storage::certificateInForce(header.dtbegin);
    if (!inForce) {
        prompts::about(this, QStringLiteral("失败"), inForce.error);
        return;
    }
    const office::Signers last = inForce.value.content.isEmpty() ? office::rememberedSigners()
                                                                 : office::signersOf(inForce.value);
    // A laboratory that signs in signs its certificates: three operators,
    // each with the role and their own password at this moment.
    const base::Result<storage::AccessSettings> access = storage::accessSettings();
    const bool signing = access && access.value.signInRequired;
    const QStringList roles{QStringLiteral("校准员"), QStringLiteral("核验员"),
                            QStringLiteral("批准人")};
    QStringList labels, names;
    for (int i = 0; i < roles.size(); ++i) {
        labels << roles[i];
        names << QStringList{last.calibrator, last.checker, last.approver}[i];
        if (signing) {
            labels << roles[i] + QStringLiteral("密码");
            names << QString();
        }
    }
    if (!prompts::fields(this, QStringLiteral("证书签署"),
                         signing ? QStringLiteral("三位签署人各自输入本人密码（电子签名）")
                                 : QStringLiteral("证书上列出的人员（留空则印空白签名线）"),
                         labels, &names))
        return;
    const int step = signing ? 2 : 1;
    const office::Signers signers{names.value(0), names.value(step), names.value(2 * step)};
    if (const QString refused = office::signersRefusal(signers); signing && !refused.isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), refused);
        return;
    }
    office::rememberSigners(signers);
    const QString file = exporttarget::ask(this, QStringLiteral("校准证书"), header,
                                           {exporttarget::Format::Pdf, exporttarget::Format::Docx});
    if (file.isEmpty())
        return;
    office::CertificateRequest request;
    request.job.calibration = *loadedCalibration();
    request.job.records = records;
    request.job.signers = signers;
    request.job.standardRemarks = problems;
    request.job.target = file;
    request.settings = m_view->settings();
    request.settings.method = office::certifiedMethod(request.settings.method);
    request.recorded = m_results;
    // What the register gives: the same content again is a copy of the
    // document as issued, other content an amendment.
    const base::Result<office::CertificatePlan> plan =
        office::planCertificate(request, QDateTime::currentDateTime());
    if (!plan) {
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("不能出具证书：%1").arg(plan.error));
        return;
    }
    if (signing && !plan.value.certificate.isCopy()) {
        // Each signs the content's digest; a refusal stops the issue.
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < roles.size(); ++i) {
            const base::Result<storage::Signature> signature =
                storage::signAs(names.value(2 * i), names.value(2 * i + 1), roles[i],
                                plan.value.certificate.fingerprint, now);
            if (!signature) {
                prompts::about(this, QStringLiteral("失败"),
                               QStringLiteral("不能出具证书：%1").arg(signature.error));
                return;
            }
            request.job.signatures << signature.value;
        }
    }
    const QString replaced = plan.value.certificate.replaces;
    if (!replaced.isEmpty() &&
        !prompts::question(
            this, QStringLiteral("提示"),
            QStringLiteral("这次校准已出具证书 %1，现在的内容与它不同：\n%2\n\n将出具新编号的证书，"
                           "注明“%3”，证书 %1 在登记册中作废。是否继续？")
                .arg(replaced, plan.value.changed.join(QLatin1Char('\n')),
                     office::replacesText(replaced)),
            true))
        return;
    auto files = std::make_shared<QList<storage::IssuedFile>>();
    const office::CertificatePlan planned = plan.value;
    runTask(
        QStringLiteral("导出标准格式证书"),
        [request, planned, files](const office::Progress &progress) {
            const base::Result<QList<storage::IssuedFile>> written =
                office::produceCertificate(request, planned, progress);
            if (written)
                *files = written.value;
            return written.status();
        },
        [this, planned, files, file, records] {
            const base::Result<storage::Certificate> issued =
                office::enterCertificate(planned, *files, file);
            if (!issued) {
                prompts::about(this, QStringLiteral("失败"),
                               QStringLiteral("证书没有登记，文件已删除：%1").arg(issued.error));
                return;
            }
            QString text = QStringLiteral("导出成功!\n证书编号 %1").arg(issued.value.number);
            if (issued.value.isCopy())
                text += QStringLiteral("（副本，与原证书一致）");
            if (!issued.value.replaces.isEmpty())
                text += QLatin1Char('\n') + office::replacesText(issued.value.replaces);
            prompts::about(this, QStringLiteral("提示"), exportedText(text, records));
        });
}
