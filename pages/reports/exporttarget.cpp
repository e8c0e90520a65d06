#include "pages/reports/exporttarget.h"

#include "office/export.h"
#include "pages/prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace exporttarget {

static const char *const kFolderKey = "exports/folder";

QString proposedName(const QString &what, const storage::RunHeader &header)
{
    QStringList parts{what};
    if (!header.equipname.trimmed().isEmpty())
        parts << header.equipname.trimmed();
    const QString date = header.dtbegin.left(10);
    if (!date.isEmpty())
        parts << date;
    QString name = parts.join(QLatin1Char('_'));
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]")),
                 QStringLiteral("-"));
    return name;
}

QString filterOf(Format format)
{
    switch (format) {
    case Format::Pdf:
        return QStringLiteral("PDF 文件 (*.pdf)");
    case Format::Docx:
        return QStringLiteral("Word 文档 (*.docx)");
    case Format::Xlsx:
        return QStringLiteral("Excel 工作簿 (*.xlsx)");
    case Format::Xls:
        return QStringLiteral("Excel 97-2003 工作簿 (*.xls)");
    }
    return QString();
}

QString suffixOf(Format format)
{
    switch (format) {
    case Format::Pdf:
        return QStringLiteral("pdf");
    case Format::Docx:
        return QStringLiteral("docx");
    case Format::Xlsx:
        return QStringLiteral("xlsx");
    case Format::Xls:
        return QStringLiteral("xls");
    }
    return QString();
}

QString lastFolder()
{
    const QString folder = QSettings().value(QLatin1String(kFolderKey)).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void rememberFolder(const QString &folder)
{
    QSettings().setValue(QLatin1String(kFolderKey), folder);
}

QString ask(QWidget *parent, const QString &what, const storage::RunHeader &header,
            const QList<Format> &formats, Format *chosen)
{
    if (formats.isEmpty())
        return QString();
    QStringList filters, suffixes;
    for (Format f : formats) {
        filters << filterOf(f);
        suffixes << suffixOf(f);
    }
    const QString proposed = QDir(lastFolder()).filePath(proposedName(what, header) +
                                                         QLatin1Char('.') + suffixes.first());
    QString filter;
    QString file = prompts::saveFileName(parent, QStringLiteral("保存%1").arg(what), proposed,
                                         filters.join(QStringLiteral(";;")), &filter);
    if (file.isEmpty())
        return QString();
    file = QFileInfo(office::withSuffix(file, filter, suffixes)).absoluteFilePath();
    rememberFolder(QFileInfo(file).absolutePath());
    const int index = suffixes.indexOf(QFileInfo(file).suffix().toLower());
    if (chosen)
        *chosen = formats.value(qMax(0, index));
    const base::Status target = office::checkTarget(file);
    if (!target) {
        prompts::about(parent, QStringLiteral("失败"), target.error);
        return QString();
    }
    return file;
}

} // namespace exporttarget
