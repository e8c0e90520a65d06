#include "app/startpanel.h"

#include "storage/statements.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
struct Definition
{
    const char *title;
    const char *what;
    const char *action;
};
const Definition kSteps[] = {
    {"检定单位", "填写本实验室的名称、地址和授权证书号（证书上要用）。", "action_5"},
    {"采集器", "登记采集器：选串口，“扫描端口”读出序列号，保存后“选定采集器”。", "action"},
    {"试验设备", "登记被校设备和校准点，填环境温湿度，“选定试验设备”。", "action_2"},
    {"通道配置", "设定每个通道的探头类型，选串口后“设置通道”写入采集器。", "action_7"},
    {"校准", "逐个校准点“开始”“停止”，最后点“数据处理”。", "action_3"},
    {"数据查询", "查看结果，导出校准记录、证书和原始数据。", "action_4"},
};
} // namespace

StartPanel::StartPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StartPanel"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(60, 30, 60, 30);
    auto *title = new QLabel(QStringLiteral("一次校准的六个步骤"), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    title->setFont(big);
    outer->addWidget(title);
    auto *hint = new QLabel(
        QStringLiteral("按顺序完成下列步骤；已完成的步骤打 ✔。也可以用上方工具栏打开各页面。"),
        this);
    outer->addWidget(hint);
    outer->addSpacing(12);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);
    int row = 0;
    for (const Definition &d : kSteps) {
        Step s;
        s.mark = new QLabel(this);
        s.mark->setObjectName(QStringLiteral("mark_%1").arg(row));
        QFont markFont = s.mark->font();
        markFont.setPointSize(markFont.pointSize() + 4);
        s.mark->setFont(markFont);
        s.button = new QPushButton(
            QStringLiteral("%1. %2").arg(row + 1).arg(QString::fromUtf8(d.title)), this);
        s.button->setObjectName(QStringLiteral("step_%1").arg(row));
        s.button->setMinimumWidth(140);
        s.detail = new QLabel(QString::fromUtf8(d.what), this);
        s.detail->setWordWrap(true);
        grid->addWidget(s.mark, row, 0);
        grid->addWidget(s.button, row, 1);
        grid->addWidget(s.detail, row, 2);
        const QString action = QString::fromLatin1(d.action);
        connect(s.button, &QPushButton::clicked, this, [this, action] { emit openPage(action); });
        m_steps.push_back(s);
        ++row;
    }
    grid->setColumnStretch(2, 1);
    outer->addLayout(grid);
    outer->addStretch(1);
    refresh();
}

bool StartPanel::stepDone(int index) const
{
    return index >= 0 && size_t(index) < m_steps.size() && m_steps[size_t(index)].done;
}

void StartPanel::refresh()
{
    const base::Result<storage::Progress> p = storage::readProgress();
    const bool done[] = {
        p.value.company, !p.value.collector.isEmpty(), !p.value.equipment.isEmpty(),
        p.value.layout,  p.value.processed > 0,        p.value.processed > 0};
    for (size_t i = 0; i < m_steps.size(); ++i) {
        m_steps[i].done = p.ok && done[i];
        m_steps[i].mark->setText(m_steps[i].done ? QStringLiteral("✔") : QStringLiteral("○"));
        m_steps[i].mark->setStyleSheet(m_steps[i].done ? QStringLiteral("color: #1e8c3c;")
                                                       : QStringLiteral("color: #888888;"));
    }
    if (p.ok) {
        if (!p.value.collector.isEmpty())
            m_steps[1].detail->setText(QStringLiteral("已选定采集器 %1（%2）")
                                           .arg(p.value.collector, p.value.collectorName));
        if (!p.value.equipment.isEmpty())
            m_steps[2].detail->setText(QStringLiteral("已选定试验设备 %1").arg(p.value.equipment));
        if (p.value.processed > 0)
            m_steps[4].detail->setText(
                QStringLiteral("已处理 %1 次校准；继续校准请打开“校准”页面。")
                    .arg(p.value.processed));
    }
}
