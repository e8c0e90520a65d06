#include "office/export.h"
#include "office/wordpdf.h"

#include "office/conversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace office {

bool isWordFile(const QString &path)
{
    return path.endsWith(QLatin1String(".docx"), Qt::CaseInsensitive);
}

QString withSuffix(const QString &name, const QString &selectedFilter, const QStringList &allowed)
{
    if (name.isEmpty())
        return name;
    const QString suffix = QFileInfo(name).suffix();
    for (const QString &a : allowed)
        if (suffix.compare(a, Qt::CaseInsensitive) == 0)
            return name;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(selectedFilter);
    const QString add = m.hasMatch() ? m.captured(1) : allowed.value(0);
    return add.isEmpty() ? name : name + QLatin1Char('.') + add;
}

base::Status checkTarget(const QString &path)
{
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    if (!dir.exists())
        return base::Status::failure(
            QStringLiteral("目标文件夹不存在：%1").arg(QDir::toNativeSeparators(dir.path())));
    const QString name = info.fileName();
    const QString busy = QStringLiteral("不能替换 %1（文件被占用或只读）");
    if (info.exists()) {
        // Root may write anything; a file nobody may write is still read-only.
        const QFile::Permissions write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        if (!info.isWritable() || !(info.permissions() & write) || info.isDir())
            return base::Status::failure(busy.arg(QDir::toNativeSeparators(path)));
    }
    // LibreOffice's lock, and Microsoft Office's owner file, which drops up
    // to two leading characters of a long name.
    QStringList locks{QStringLiteral(".~lock.") + name + QLatin1Char('#'),
                      QStringLiteral("~$") + name};
    if (name.size() > 2)
        locks << QStringLiteral("~$") + name.mid(1) << QStringLiteral("~$") + name.mid(2);
    for (const QString &lock : locks)
        if (dir.exists(lock))
            return base::Status::failure(busy.arg(QDir::toNativeSeparators(path)) +
                                            QStringLiteral("：它正在办公软件中打开（%1）").arg(lock));
    return {};
}

base::Status replaceFile(const QString &from, const QString &to)
{
    const QString part = to + QStringLiteral(".orven-part");
    QFile::remove(part);
    if (!QFile::copy(from, part))
        return base::Status::failure(QStringLiteral("不能写入 %1").arg(to));
    if (QFile::exists(to) && !QFile::remove(to)) {
        QFile::remove(part);
        return base::Status::failure(QStringLiteral("不能替换 %1（文件被占用或只读）").arg(to));
    }
    if (!QFile::rename(part, to)) {
        QFile::remove(part);
        return base::Status::failure(QStringLiteral("不能写入 %1").arg(to));
    }
    return {};
}

base::Status writeDocument(const DocumentJob &job, const Progress &progress)
{
    auto stage = [&](const QString &s) {
        if (progress.stage)
            progress.stage(s);
    };
    const base::Status cancelled = base::Status::failure(QStringLiteral("已取消"));
    if (job.templatePath.isEmpty() || !QFileInfo(job.templatePath).isFile())
        return base::Status::failure(
            QStringLiteral("找不到模板文件 %1").arg(QDir::toNativeSeparators(job.templatePath)));
    if (const base::Status st = checkTarget(job.target); !st)
        return st;

    stage(QStringLiteral("正在生成文字…"));
    QList<Insertion> texts =
        job.kind == DocumentKind::Record
            ? recordInsertions(job.calibration, job.points, job.sources)
            : certificateInsertions(job.calibration.header, job.points, job.sources);
    if (progress.cancelled())
        return cancelled;

    stage(QStringLiteral("正在填写 Word 模板…"));
    // The installed templates are drawn to PDF directly; a laboratory's own
    // template goes through LibreOffice, which reads whatever Word writes.
    if (!isWordFile(job.target) && isInstalledTemplate(job.templatePath)) {
        base::Result<QList<ZipEntry>> package = readZip(job.templatePath);
        if (!package)
            return package.status();
        const base::Result<bool> filled = fillEntry(
            package.value, QStringLiteral("word/document.xml"),
            [&](const QByteArray &xml) { return fillDocumentXml(xml, texts); });
        if (!filled)
            return filled.status();
        texts.clear();
        return writeWordPdf(std::move(package.value), job.target, progress);
    }
    return writeWordOrPdf(job.target, job.timeoutMs, progress, [&](const QString &docx) {
        return fillDocx(job.templatePath, docx, texts);
    });
}

base::Status writeWordOrPdf(const QString &target, int timeoutMs, const Progress &progress,
                            const std::function<base::Status(const QString &docx)> &makeDocx)
{
    if (isWordFile(target))
        return makeDocx(target);
    // A PDF: the Word file goes to a private folder first.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-export-XXXXXX"));
    if (!dir.isValid())
        return base::Status::failure(
            QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QString docx = dir.path() + QLatin1Char('/') + QFileInfo(target).completeBaseName() +
                         QStringLiteral(".docx");
    base::Status st = makeDocx(docx);
    if (!st)
        return st;
    if (progress.cancelled())
        return base::Status::failure(QStringLiteral("已取消"));
    if (findSoffice().isEmpty())
        return base::Status::failure(sofficeMissingText(true));
    if (progress.stage)
        progress.stage(QStringLiteral("正在用 LibreOffice 转换为 PDF…"));
    Conversion conversion(docx, QStringLiteral("pdf"), timeoutMs);
    QString error;
    if (!conversion.run(&error, progress.cancel))
        return base::Status::failure(error);
    return replaceFile(conversion.output(), target);
}

} // namespace office
