#include "office/issuing.h"
#include "office/wordpdf.h"

#include "office/export.h"
#include "office/zippackage.h"
#include "storage/statements.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace office {

namespace {

const QString kLayout = QStringLiteral("standard");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QJsonObject objectOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QString compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// The parts of the content an operator can change, as the amendment
// question names them.
const QList<QPair<QString, QString>> &contentParts()
{
    static const QList<QPair<QString, QString>> parts{
        {QStringLiteral("method"), QStringLiteral("评定方法")},
        {QStringLiteral("settings"), QStringLiteral("评定设置（中心通道、时间窗口、输入量）")},
        {QStringLiteral("signers"), QStringLiteral("签署人")},
        {QStringLiteral("records"), QStringLiteral("设备、标准器或单位记录")},
        {QStringLiteral("remarks"), QStringLiteral("标准器的说明")},
    };
    return parts;
}

base::Result<QByteArray> readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return base::failure(QStringLiteral("不能读取 %1").arg(path));
    return f.readAll();
}

base::Status writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() ||
        !f.flush())
        return base::Status::failure(QStringLiteral("不能写入 %1").arg(path));
    return {};
}

// Puts the Word file `docx` at `target`, or its PDF drawn directly; the
// PDF's bytes as written (empty for a .docx).
base::Result<QByteArray> deliver(const QByteArray &docx, const QString &target,
                                 const base::Progress &progress)
{
    if (isWordFile(target)) {
        if (const base::Status st = writeAll(target, docx); !st)
            return base::failure(st.error);
        return QByteArray();
    }
    const base::Result<QList<ZipEntry>> package = readZipBytes(docx);
    if (!package)
        return base::failure(package.error);
    const base::Status st = writeWordPdf(package.value, target, progress);
    if (!st)
        return base::failure(st.error);
    return readAll(target);
}

} // namespace

QString todaysRecordsRefusal()
{
    return QStringLiteral(
        "这次校准处理时没有保存当时的设备、标准器和单位记录，标准格式证书不按现在的记录出具；"
        "如确认现在的记录适用于这次校准，可明确选择采用（记下由谁、何时决定，并在证书上注明）。");
}

QString secondCollectorMissing(const results::ChannelLayout &layout, const QStringList &serials)
{
    for (int c = 0; c < layout.collectors.size(); ++c)
        if (layout.collectors[c] > serials.size())
            return QStringLiteral("这次校准有第二台采集器的通道，须指明第二台采集器的序列号，"
                                  "其通道才有各自标准器的记录");
    return QString();
}

QString certificateContent(const CertificateRequest &request)
{
    const StandardCertificateJob &job = request.job;
    storage::Snapshot records;
    records.taken = job.records.adoptedAt;
    records.adoptedBy = job.records.adoptedBy;
    records.equipment = job.records.sources.equipment;
    records.collectors = job.records.collectors;
    records.collectorExtras = job.records.collectorExtras;
    records.equipmentExtra = job.records.equipmentExtra;
    records.locationsA = job.records.locationsA;
    records.locationsB = job.records.locationsB;
    records.company = job.records.sources.company;
    records.channelsA = job.records.channelsA;
    records.channelsB = job.records.channelsB;
    return compact(QJsonObject{
        {QStringLiteral("layout"), kLayout},
        {QStringLiteral("method"), results::methodName(request.settings.method)},
        {QStringLiteral("settings"), objectOf(request.settings.toJson())},
        {QStringLiteral("signers"),
         QJsonObject{{QStringLiteral("calibrator"), job.signers.calibrator},
                     {QStringLiteral("checker"), job.signers.checker},
                     {QStringLiteral("approver"), job.signers.approver}}},
        {QStringLiteral("records"), objectOf(records.toJson())},
        {QStringLiteral("remarks"), QJsonArray::fromStringList(job.standardRemarks)},
    });
}

Signers signersOf(const storage::Certificate &certificate)
{
    const QJsonObject s = objectOf(certificate.content).value(QStringLiteral("signers")).toObject();
    return Signers{s.value(QStringLiteral("calibrator")).toString(),
                   s.value(QStringLiteral("checker")).toString(),
                   s.value(QStringLiteral("approver")).toString()};
}

base::Result<CertificatePlan> planCertificate(const CertificateRequest &request,
                                              const QDateTime &now)
{
    const StandardCertificateJob &job = request.job;
    if (job.records.isTodays())
        return base::failure(todaysRecordsRefusal());
    const QString content = certificateContent(request);
    CertificatePlan plan;
    plan.issueDate = now.toString(QStringLiteral("yyyy-MM-dd"));
    QJsonObject issued = objectOf(content);
    issued.insert(QStringLiteral("issueDate"), plan.issueDate);
    const base::Result<storage::Certificate> planned = storage::nextCertificate(
        job.calibration.header.dtbegin, results::methodName(request.settings.method), kLayout, now,
        sha256(content.toUtf8()), compact(issued));
    if (!planned)
        return base::failure(planned.error);
    plan.certificate = planned.value;
    if (plan.certificate.isCopy()) {
        plan.inForce = plan.certificate;
        plan.issueDate =
            objectOf(plan.certificate.content).value(QStringLiteral("issueDate")).toString();
        const base::Result<QList<storage::IssuedFile>> kept =
            storage::issuedFiles(plan.certificate.number);
        if (!kept)
            return base::failure(kept.error);
        plan.kept = kept.value;
        bool hasWord = false;
        for (const storage::IssuedFile &f : plan.kept)
            hasWord = hasWord || f.name == QLatin1String("docx");
        if (!hasWord)
            return base::failure(QStringLiteral("证书 %1 的文件没有保存，不能出具副本")
                                     .arg(plan.certificate.number));
        return plan;
    }
    if (plan.certificate.replaces.isEmpty())
        return plan;
    const base::Result<storage::Certificate> inForce =
        storage::certificateInForce(job.calibration.header.dtbegin);
    if (!inForce)
        return base::failure(inForce.error);
    plan.inForce = inForce.value;
    const QJsonObject before = objectOf(plan.inForce.content);
    if (before.isEmpty()) {
        plan.changed << QStringLiteral("原证书出具时没有保存其文件，不能复制");
        return plan;
    }
    for (const auto &part : contentParts())
        if (before.value(part.first) != issued.value(part.first))
            plan.changed << part.second;
    return plan;
}

base::Result<QByteArray> stampCopy(const QByteArray &docx)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-export-XXXXXX"));
    if (!dir.isValid())
        return base::failure(QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("copy.docx"));
    base::Result<QList<ZipEntry>> entries = readZipBytes(docx);
    if (!entries)
        return base::failure(entries.error);
    const QByteArray stamp =
        "<w:r><w:rPr><w:b/><w:color w:val=\"C00000\"/><w:sz w:val=\"24\"/><w:szCs w:val=\"24\"/>"
        "</w:rPr><w:t xml:space=\"preserve\">  副本</w:t></w:r>";
    const base::Result<bool> stamped =
        fillEntry(entries.value, QStringLiteral("word/header1.xml"),
                  [&](const QByteArray &xml) -> base::Result<QByteArray> {
                      const int end = xml.lastIndexOf("</w:p>");
                      if (end < 0)
                          return base::failure(QStringLiteral("证书的页眉无法识别"));
                      QByteArray out = xml;
                      out.insert(end, stamp);
                      return out;
                  });
    if (!stamped)
        return base::failure(stamped.error);
    if (!stamped.value)
        return base::failure(QStringLiteral("证书没有页眉，不能标注副本"));
    if (const base::Status st = writeZip(path, entries.value); !st)
        return base::failure(st.error);
    return readAll(path);
}

base::Result<QList<storage::IssuedFile>> produceCertificate(CertificateRequest request,
                                                            const CertificatePlan &plan,
                                                            const base::Progress &progress)
{
    StandardCertificateJob &job = request.job;
    const QString target = job.target;
    if (const base::Status st = checkTarget(target); !st)
        return base::failure(st.error);
    if (plan.certificate.isCopy()) {
        // The document as issued, stamped; nothing evaluated again.
        if (progress.stage)
            progress.stage(QStringLiteral("正在出具副本…"));
        QByteArray original;
        for (const storage::IssuedFile &f : plan.kept)
            if (f.name == QLatin1String("docx"))
                original = f.bytes;
        const base::Result<QByteArray> copy = stampCopy(original);
        if (!copy)
            return base::failure(copy.error);
        const base::Result<QByteArray> delivered = deliver(copy.value, target, progress);
        if (!delivered)
            return base::failure(delivered.error);
        return QList<storage::IssuedFile>();
    }

    if (progress.stage)
        progress.stage(QStringLiteral("正在评定…"));
    job.certificate = plan.certificate;
    job.issueDate = plan.issueDate;
    job.evaluation = results::evaluate(job.calibration, request.recorded,
                                       standardDataOf(job.records, job.calibration.layout),
                                       request.settings, progress.cancel);
    if (progress.cancelled())
        return base::failure(QStringLiteral("已取消"));
    // Never issued wrong: nothing is written, no number taken.
    if (const QStringList refused = certificateRefusals(job); !refused.isEmpty())
        return base::failure(QStringLiteral("不能出具证书：\n") + refused.join(QLatin1Char('\n')));
    if (progress.stage)
        progress.stage(QStringLiteral("正在生成证书…"));
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-export-XXXXXX"));
    if (!dir.isValid())
        return base::failure(QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QString docx = dir.filePath(QStringLiteral("certificate.docx"));
    if (const base::Status st = writeZip(docx, standardCertificatePackage(job)); !st)
        return base::failure(st.error);
    const base::Result<QByteArray> wordBytes = readAll(docx);
    if (!wordBytes)
        return base::failure(wordBytes.error);
    QList<storage::IssuedFile> files{
        storage::IssuedFile{QStringLiteral("docx"), wordBytes.value, sha256(wordBytes.value)}};
    const base::Result<QByteArray> pdf = deliver(wordBytes.value, target, progress);
    if (!pdf)
        return base::failure(pdf.error);
    if (!pdf.value.isEmpty())
        files << storage::IssuedFile{QStringLiteral("pdf"), pdf.value, sha256(pdf.value)};
    if (!job.signatures.isEmpty()) {
        // The signatures as given, kept with the documents they are printed on.
        QJsonArray signatures;
        for (const storage::Signature &sig : job.signatures)
            signatures.append(QJsonObject{{QStringLiteral("name"), sig.name},
                                          {QStringLiteral("role"), sig.role},
                                          {QStringLiteral("meaning"), sig.meaning},
                                          {QStringLiteral("at"), sig.at},
                                          {QStringLiteral("hash"), sig.hash}});
        const QByteArray json = QJsonDocument(signatures).toJson(QJsonDocument::Compact);
        files << storage::IssuedFile{QStringLiteral("signatures"), json, sha256(json)};
    }
    return files;
}

base::Result<storage::Certificate> enterCertificate(const CertificatePlan &plan,
                                                    const QList<storage::IssuedFile> &files,
                                                    const QString &target)
{
    const base::Result<storage::Certificate> issued =
        storage::issueCertificate(plan.certificate, files);
    if (!issued)
        QFile::remove(target);
    return issued;
}

} // namespace office
