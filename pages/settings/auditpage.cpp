#include "pages/settings/auditpage.h"

#include "office/auditworkbook.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

AuditPage::AuditPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AuditPage"));
    auto edit = [this](const char *name, const QString &hint) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setPlaceholderText(hint);
        connect(e, &QLineEdit::returnPressed, this, &AuditPage::refresh);
        return e;
    };
    m_operator = edit("lineEdit_auditOperator", QStringLiteral("操作员"));
    m_object =
        edit("lineEdit_auditObject", QStringLiteral("对象（如 校准 2024-05-01、采集器 SN-1）"));
    m_from = edit("lineEdit_auditFrom", QStringLiteral("自（yyyy-MM-dd）"));
    m_to = edit("lineEdit_auditTo", QStringLiteral("至（yyyy-MM-dd）"));
    auto *find = new QPushButton(QStringLiteral("查询"), this);
    find->setObjectName(QStringLiteral("pushButton_auditFind"));
    auto *save = new QPushButton(QStringLiteral("导出"), this);
    save->setObjectName(QStringLiteral("pushButton_auditExport"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("pushButton_auditClose"));
    m_check = new QLabel(this);
    m_check->setObjectName(QStringLiteral("label_auditCheck"));
    m_table = new QTableWidget(0, 8, this);
    m_table->setObjectName(QStringLiteral("tableWidget_audit"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("时间"),
                                        QStringLiteral("工作站"), QStringLiteral("操作员"),
                                        QStringLiteral("操作"), QStringLiteral("对象"),
                                        QStringLiteral("之前"), QStringLiteral("之后")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto *filters = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(m_operator), static_cast<QWidget *>(m_object),
                       static_cast<QWidget *>(m_from), static_cast<QWidget *>(m_to),
                       static_cast<QWidget *>(find), static_cast<QWidget *>(save),
                       static_cast<QWidget *>(close)})
        filters->addWidget(w);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_check);
    layout->addWidget(m_table);
    connect(find, &QPushButton::clicked, this, &AuditPage::refresh);
    connect(save, &QPushButton::clicked, this, &AuditPage::exportRows);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    refresh();
}

void AuditPage::refresh()
{
    // "至" a day means through that day.
    const QString to = m_to->text().trimmed();
    const base::Result<QList<storage::AuditRow>> rows = storage::auditRows(
        m_from->text().trimmed(), to.size() == 10 ? to + QStringLiteral(" 23:59:59") : to,
        m_object->text().trimmed());
    if (!rows) {
        pagekit::reportFailure(this, QStringLiteral("读取审计记录失败"), rows.error);
        return;
    }
    const QString who = m_operator->text().trimmed();
    m_rows.clear();
    for (const storage::AuditRow &r : rows.value)
        if (who.isEmpty() || r.operatorName.contains(who))
            m_rows << r;
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    m_checkText = check ? check.value.said() : QStringLiteral("不能检查：") + check.error;
    m_check->setText(m_checkText + QStringLiteral("；显示 %1 条").arg(m_rows.size()));
    m_check->setStyleSheet(check && check.value.whole()
                               ? QString()
                               : QStringLiteral("color: #c0392b; font-weight: bold;"));
    m_table->setRowCount(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i) {
        const storage::AuditRow &r = m_rows[i];
        const QStringList cells{QString::number(r.seq),
                                r.at,
                                r.station,
                                r.operatorName,
                                r.action,
                                r.object,
                                r.before,
                                r.after};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c].left(300));
            item->setToolTip(cells[c].left(3000));
            m_table->setItem(i, c, item);
        }
    }
    m_table->resizeColumnsToContents();
}

void AuditPage::exportRows()
{
    const QString file =
        prompts::saveFileName(this, QStringLiteral("导出审计记录"), QStringLiteral("审计记录.xlsx"),
                              QStringLiteral("Excel 工作簿(*.xlsx)"));
    if (file.isEmpty())
        return;
    const base::Status st = office::writeAuditWorkbook(m_rows, m_checkText, file);
    if (!st) {
        pagekit::reportFailure(this, QStringLiteral("导出失败"), st.error);
        return;
    }
    const base::Status noted =
        storage::appendAudit(QStringLiteral("导出审计记录"), QStringLiteral("审计记录"), QString(),
                             QStringLiteral("%1 条").arg(m_rows.size()));
    if (!noted) {
        pagekit::reportFailure(this, QStringLiteral("导出失败"), noted.error);
        return;
    }
    prompts::about(this, QStringLiteral("提示"), QStringLiteral("导出成功!"));
}
