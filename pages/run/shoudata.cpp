#include "pages/run/shoudata.h"

#include "pages/busyguard.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/run/livetablemodel.h"
#include "ui_shoudata.h"

#include <QHeaderView>
#include <QTableWidget>

using acquisition::RunSession;
using acquisition::RunState;

shoudata::shoudata(QWidget *parent)
    : QWidget(parent), ui(new Ui::shoudata), m_session(new RunSession(this)),
      m_model(new LiveTableModel(m_session, this))
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    ui->twshow->setModel(m_model);
    ui->twshow->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->lineEdit->setValidator(pagekit::numberValidator(ui->lineEdit));
    pagekit::fillPorts(ui->comboBox_3);
    pagekit::fillPorts(ui->comboBox_4);
    ui->checkBox->setChecked(true);
    ui->tbnum->verticalHeader()->hide();
    ui->pushButton_2->setEnabled(false);
    ui->comboBox_6->setEnabled(false);

    connect(m_session, &RunSession::started, this, &shoudata::onStarted);
    connect(m_session, &RunSession::startFailed, this, &shoudata::onStartFailed);
    connect(m_session, &RunSession::stopped, this, &shoudata::onStopped);
    connect(m_session, &RunSession::tableReset, this, &shoudata::onTableReset);
    connect(m_session, &RunSession::sampleAdded, this, &shoudata::onSampleAdded);
    connect(m_session, &RunSession::countersChanged, this, &shoudata::updateStatus);
    connect(m_session, &RunSession::storeChanged, this, &shoudata::updateStatus);
    connect(m_session, &RunSession::lineFailed, this, &shoudata::updateStatus);

    const storage::Status loaded = m_session->loadSelection();
    if (!loaded)
        pagekit::reportFailure(this, QStringLiteral("读取当前选择失败"), loaded.error);
    showSetPoints();
    ui->comboBox_5->addItems(m_session->collectorSerials());
    const int index = ui->comboBox_5->findText(m_session->selectedCollector());
    if (index >= 0)
        ui->comboBox_5->setCurrentIndex(index);
    selectPortFor(ui->comboBox_5->currentText(), ui->comboBox_3);
    updateStatus();
}

shoudata::~shoudata()
{
    m_busy.reset();
    delete ui;
}

shoudata::CollectorStats shoudata::stats(int collector) const
{
    const acquisition::CollectorCounters c = m_session->counters(collector);
    return CollectorStats{c.answered, c.missed, c.rejected};
}

void shoudata::showSetPoints()
{
    const int n = m_session->pointCount();
    QStringList headers{QStringLiteral("类别")};
    for (int k = 1; k <= n; ++k)
        headers << QStringLiteral("检点%1").arg(k);
    ui->tbnum->setColumnCount(n + 1);
    ui->tbnum->setRowCount(2);
    ui->tbnum->setHorizontalHeaderLabels(headers);
    ui->tbnum->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tbnum->setItem(0, 0, new QTableWidgetItem(QStringLiteral("温度")));
    ui->tbnum->setItem(1, 0, new QTableWidgetItem(QStringLiteral("湿度")));
    const QStringList tem = m_session->setPointsT();
    const QStringList hum = m_session->setPointsH();
    for (int k = 1; k <= n; ++k) {
        ui->tbnum->setItem(0, k, new QTableWidgetItem(tem.value(k - 1)));
        ui->tbnum->setItem(1, k, new QTableWidgetItem(hum.value(k - 1)));
        ui->comboBox_2->addItem(QStringLiteral("检点%1").arg(k));
    }
}

void shoudata::selectPortFor(const QString &serial, QComboBox *ports)
{
    const int i = m_session->collectorSerials().indexOf(serial);
    if (i >= 0)
        pagekit::selectText(ports, m_session->collectorPorts().value(i));
}

void shoudata::on_comboBox_5_currentIndexChanged(int)
{
    selectPortFor(ui->comboBox_5->currentText(), ui->comboBox_3);
}

void shoudata::on_checkBox_2_stateChanged(int arg1)
{
    ui->comboBox_6->clear();
    if (arg1 == Qt::Checked) {
        ui->comboBox_6->setEnabled(true);
        const storage::Status st = m_session->reloadCollectors();
        if (!st)
            pagekit::reportFailure(this, QStringLiteral("读取采集器列表失败"), st.error);
        ui->comboBox_6->addItems(m_session->collectorSerials());
    } else {
        ui->comboBox_6->setEnabled(false);
    }
}

void shoudata::on_comboBox_6_currentIndexChanged(int)
{
    if (ui->checkBox_2->isChecked())
        selectPortFor(ui->comboBox_6->currentText(), ui->comboBox_4);
}

void shoudata::on_pushButton_6_clicked()
{
    pagekit::fillPorts(ui->comboBox_3);
}

void shoudata::on_pushButton_7_clicked()
{
    pagekit::fillPorts(ui->comboBox_4);
}

void shoudata::on_pushButton_5_clicked()
{
    hide();
}

void shoudata::on_lineEdit_textChanged(const QString &arg1)
{
    if (!arg1.isEmpty() && arg1.toInt() <= 0) {
        ui->lineEdit->clear();
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("扫描间隔不得低于1秒！"));
    }
}

QList<QWidget *> shoudata::exchangeControls() const
{
    return {ui->pushButton,   ui->pushButton_2, ui->pushButton_4, ui->comboBox_2, ui->checkBox,
            ui->checkBox_2,   ui->comboBox_3,   ui->comboBox_4,   ui->comboBox_5, ui->comboBox_6,
            ui->pushButton_6, ui->pushButton_7, ui->lineEdit};
}

void shoudata::setRunControls(bool running)
{
    ui->comboBox_2->setEnabled(!running);
    ui->pushButton->setEnabled(!running);
    ui->pushButton_4->setEnabled(!running);
    ui->pushButton_2->setEnabled(running);
    // The mode, collectors, ports and interval are fixed while a run goes on.
    const QList<QWidget *> setup{ui->checkBox,   ui->checkBox_2,   ui->comboBox_3,   ui->comboBox_4,
                                 ui->comboBox_5, ui->pushButton_6, ui->pushButton_7, ui->lineEdit};
    for (QWidget *w : setup)
        w->setEnabled(!running);
    ui->comboBox_6->setEnabled(!running && ui->checkBox_2->isChecked());
}

void shoudata::on_pushButton_clicked()
{
    if (m_session->isActive() || !ui->checkBox->isChecked())
        return;
    if (ui->comboBox_2->count() == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有可用的校准点，请先选定带校准点的试验设备。"));
        return;
    }
    const bool first =
        ui->comboBox_2->currentText() == QStringLiteral("检点1") || !m_session->hasTable();
    if (first && hasUnprocessedRows() &&
        !prompts::question(
            this, QStringLiteral("提示"),
            QStringLiteral("表格中有尚未处理的数据，从检点1重新开始将清空表格。是否继续？")))
        return;
    if (!first && ui->checkBox_2->isChecked() != m_session->tableHoldsTwo()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("采集器数量与本次校准开始时不同，请从检点1重新开始。"));
        return;
    }
    if (ui->lineEdit->text().isEmpty())
        ui->lineEdit->setText(QStringLiteral("120"));

    acquisition::StartRequest request;
    request.two = ui->checkBox_2->isChecked();
    request.port1 = ui->comboBox_3->currentText();
    request.port2 = ui->comboBox_4->currentText();
    request.point = ui->comboBox_2->currentText();
    request.intervalSeconds = qMax(1, ui->lineEdit->text().toInt());
    request.collectorSerial = ui->comboBox_5->currentText();
    m_busy = std::make_unique<BusyGuard>(this, exchangeControls());
    updateStatus();
    m_session->start(request);
}

void shoudata::onStarted()
{
    m_busy.reset();
    setRunControls(true);
    updateStatus();
}

void shoudata::onStartFailed(const QString &message)
{
    m_busy.reset();
    setRunControls(false);
    updateStatus();
    prompts::about(this, QStringLiteral("提示"), message);
}

void shoudata::on_pushButton_2_clicked()
{
    if (m_session->state() != RunState::Running)
        return;
    m_advanceOnStop = true;
    m_busy = std::make_unique<BusyGuard>(this, exchangeControls());
    m_session->stop();
}

void shoudata::stopRun()
{
    m_advanceOnStop = false;
    m_session->abort();
}

void shoudata::onStopped()
{
    m_busy.reset();
    setRunControls(false);
    if (m_advanceOnStop) {
        m_advanceOnStop = false;
        const int next = ui->comboBox_2->currentIndex() + 1;
        ui->comboBox_2->setCurrentIndex(next < ui->comboBox_2->count() ? next : 0);
    }
    updateStatus();
}

void shoudata::onTableReset()
{
    // 135 pixels, or wider when the font needs it to show the whole time.
    const int timeWidth =
        ui->twshow->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16;
    ui->twshow->setColumnWidth(0, qMax(135, timeWidth));
    ui->twshow->scrollToBottom();
}

void shoudata::onSampleAdded()
{
    ui->twshow->scrollToBottom();
    updateStatus();
    emit sampleAdded();
}

void shoudata::updateStatus()
{
    auto part = [](const QString &name, const acquisition::CollectorCounters &s) {
        QString text = QStringLiteral("%1：应答 %2 次，未应答 %3 次，拒收 %4 次")
                           .arg(name)
                           .arg(s.answered)
                           .arg(s.missed)
                           .arg(s.rejected);
        if (s.lastException >= 0)
            text += QStringLiteral("（异常码 %1）").arg(s.lastException, 2, 16, QLatin1Char('0'));
        return text;
    };
    QStringList parts{part(QStringLiteral("设备一"), m_session->counters(1))};
    if (m_session->twoCollectors())
        parts << part(QStringLiteral("设备二"), m_session->counters(2));
    if (m_session->unstoredCount() > 0)
        parts << QStringLiteral("未能保存 %1 条（等待重试）：%2")
                     .arg(m_session->unstoredCount())
                     .arg(m_session->lastStoreError());
    if (!m_session->lineError().isEmpty())
        parts << m_session->lineError();
    ui->label_status->setText(parts.join(QStringLiteral("；")));
    const bool alarm = m_session->unstoredCount() > 0 || !m_session->lineError().isEmpty();
    ui->label_status->setStyleSheet(alarm ? QStringLiteral("color: #c0392b; font-weight: bold;")
                                          : QString());
}

void shoudata::on_pushButton_4_clicked()
{
    RunSession::Processing p = m_session->process(false);
    if (p.outcome == RunSession::Processing::NeedsConfirmation) {
        if (!prompts::question(this, QStringLiteral("提示"), p.message))
            return;
        p = m_session->process(true);
    }
    updateStatus();
    switch (p.outcome) {
    case RunSession::Processing::Busy:
        return;
    case RunSession::Processing::Done:
    case RunSession::Processing::NoData:
    case RunSession::Processing::NoType:
        prompts::about(this, QStringLiteral("提示"), p.message);
        return;
    case RunSession::Processing::Unstored:
    case RunSession::Processing::Failed:
    case RunSession::Processing::NeedsConfirmation:
        pagekit::reportFailure(this, QStringLiteral("处理失败"), p.message);
        return;
    }
}
