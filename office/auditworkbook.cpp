#include "office/auditworkbook.h"

#include "office/export.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <xlsxwriter.h>

namespace office {

base::Status writeAuditWorkbook(const QList<storage::AuditRow> &rows, const QString &check,
                                const QString &target)
{
    using base::Status;
    if (const Status st = checkTarget(target); !st)
        return st;
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orven-xlsx-XXXXXX"));
    if (!dir.isValid())
        return Status::failure(QStringLiteral("不能建立临时目录：%1").arg(dir.errorString()));
    const QString file = dir.filePath(QStringLiteral("audit.xlsx"));
    lxw_workbook *wb = workbook_new(QFile::encodeName(file).constData());
    if (!wb)
        return Status::failure(QStringLiteral("不能建立工作簿"));
    lxw_format *bold = workbook_add_format(wb);
    format_set_bold(bold);
    lxw_worksheet *ws = workbook_add_worksheet(wb, "审计记录");
    auto put = [ws](int row, int col, const QString &text, lxw_format *format) {
        // A cell holds at most 32,767 characters (a whole channel table may not).
        const QString shown = text.size() > 32000 ? text.left(32000) + QStringLiteral("…") : text;
        worksheet_write_string(ws, lxw_row_t(row), lxw_col_t(col), shown.toUtf8().constData(),
                               format);
    };
    put(0, 0, check, bold);
    const QStringList headers{
        QStringLiteral("序号"),   QStringLiteral("时间"), QStringLiteral("工作站"),
        QStringLiteral("操作员"), QStringLiteral("操作"), QStringLiteral("对象"),
        QStringLiteral("之前"),   QStringLiteral("之后"), QStringLiteral("SHA-256")};
    for (int c = 0; c < headers.size(); ++c)
        put(1, c, headers[c], bold);
    worksheet_freeze_panes(ws, 2, 0);
    worksheet_set_column(ws, 1, 1, 20, nullptr);
    worksheet_set_column(ws, 4, 5, 24, nullptr);
    for (int r = 0; r < rows.size(); ++r) {
        const storage::AuditRow &a = rows[r];
        worksheet_write_number(ws, lxw_row_t(r + 2), 0, double(a.seq), nullptr);
        const QStringList cells{a.at,     a.station, a.operatorName, a.action,
                                a.object, a.before,  a.after,        a.hash};
        for (int c = 0; c < cells.size(); ++c)
            put(r + 2, c + 1, cells[c], nullptr);
    }
    const lxw_error closed = workbook_close(wb);
    if (closed != LXW_NO_ERROR)
        return Status::failure(
            QStringLiteral("不能写入工作簿：%1").arg(QString::fromUtf8(lxw_strerror(closed))));
    return replaceFile(file, target);
}

} // namespace office
