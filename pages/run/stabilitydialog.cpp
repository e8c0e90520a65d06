#include "pages/run/stabilitydialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

StabilityDialog::StabilityDialog(acquisition::RunMonitor *monitor, QWidget *parent)
    : QDialog(parent), m_monitor(monitor)
{
    setObjectName(QStringLiteral("StabilityDialog"));
    setWindowTitle(QStringLiteral("稳定判据"));
    const acquisition::MonitorSettings s = monitor->settings();
    m_window = new QDoubleSpinBox(this);
    m_window->setObjectName(QStringLiteral("window"));
    m_window->setRange(0.1, 1440);
    m_window->setDecimals(1);
    m_window->setSuffix(QStringLiteral(" 分钟"));
    m_window->setValue(s.windowSeconds / 60.0);
    m_samples = new QSpinBox(this);
    m_samples->setObjectName(QStringLiteral("samples"));
    m_samples->setRange(2, 100000);
    m_samples->setValue(s.minSamples);
    m_limitT = new QDoubleSpinBox(this);
    m_limitT->setObjectName(QStringLiteral("limitT"));
    m_limitT->setRange(0.001, 100);
    m_limitT->setDecimals(3);
    m_limitT->setSuffix(QStringLiteral(" ℃"));
    m_limitT->setValue(s.limitT);
    m_limitH = new QDoubleSpinBox(this);
    m_limitH->setObjectName(QStringLiteral("limitH"));
    m_limitH->setRange(0.001, 100);
    m_limitH->setDecimals(3);
    m_limitH->setSuffix(QStringLiteral(" %RH"));
    m_limitH->setValue(s.limitH);
    m_misses = new QSpinBox(this);
    m_misses->setObjectName(QStringLiteral("misses"));
    m_misses->setRange(1, 1000);
    m_misses->setValue(s.missAlarm);

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("稳定判断时间窗："), m_window);
    form->addRow(QStringLiteral("时间窗内至少样本数："), m_samples);
    form->addRow(QStringLiteral("温度通道最大变化："), m_limitT);
    form->addRow(QStringLiteral("湿度通道最大变化："), m_limitH);
    form->addRow(QStringLiteral("连续无应答报警次数："), m_misses);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void StabilityDialog::apply()
{
    acquisition::MonitorSettings s;
    s.windowSeconds = m_window->value() * 60.0;
    s.minSamples = m_samples->value();
    s.limitT = m_limitT->value();
    s.limitH = m_limitH->value();
    s.missAlarm = m_misses->value();
    s.save();
    m_monitor->setSettings(s);
}
