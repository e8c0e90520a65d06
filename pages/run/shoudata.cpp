#include "pages/run/shoudata.h"

#include "storage/spool.h"

#include "pages/busyguard.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/reports/chamberview.h"
#include "pages/run/curvewindow.h"
#include "pages/run/livetablemodel.h"
#include "pages/run/runtexts.h"
#include "pages/run/stabilitydialog.h"
#include "results/calibration.h"
#include "storage/statements.h"
#include "ui_shoudata.h"

#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>

using acquisition::RunSession;
using acquisition::RunState;

shoudata::shoudata(QWidget *parent, const acquisition::SessionParts &parts)
    : QWidget(parent), ui(new Ui::shoudata), m_session(new RunSession(this, parts)),
      m_model(new LiveTableModel(m_session, this)),
      m_monitor(new acquisition::RunMonitor(m_session, this)),
      m_countdown(m_session->clock()->makeTimer(this))
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
    connect(m_monitor, &acquisition::RunMonitor::changed, this, &shoudata::updatePanel);
    connect(m_session, &RunSession::stateChanged, this, &shoudata::updatePanel);
    connect(m_session, &RunSession::settlingReading, this, &shoudata::updatePanel);
    // The settling time is the operator's, kept between runs.
    ui->spinBox_settle->setValue(
        QSettings().value(QStringLiteral("run/settleMinutes"), ui->spinBox_settle->value()).toInt());
    connect(ui->spinBox_settle, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [](int minutes) { QSettings().setValue(QStringLiteral("run/settleMinutes"), minutes); });
    // The countdown to the next sample.
    connect(m_countdown, &base::Timer::timeout, this, &shoudata::updatePanel);
    m_countdown->start(1000);
    connect(ui->comboBox_2, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &shoudata::updatePanel);
    ui->tbLive->verticalHeader()->hide();
    ui->tbLive->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tbLive->verticalHeader()->setDefaultSectionSize(22);

    const base::Status loaded = m_session->loadSelection();
    if (!loaded)
        pagekit::reportFailure(this, QStringLiteral("读取当前选择失败"), loaded.error);
    showSetPoints();
    ui->comboBox_5->addItems(m_session->collectorSerials());
    const int index = ui->comboBox_5->findText(m_session->selectedCollector());
    if (index >= 0)
        ui->comboBox_5->setCurrentIndex(index);
    selectPortFor(ui->comboBox_5->currentText(), ui->comboBox_3);
    updateStatus();
    updatePanel();
}

shoudata::~shoudata()
{
    m_busy.reset();
    if (m_curves)
        delete m_curves;
    if (m_chamber)
        delete m_chamber;
    delete ui;
}

CurveWindow *shoudata::curveWindow() const
{
    return m_curves.data();
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
        const base::Status st = m_session->reloadCollectors();
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
    pagekit::fillPorts(ui->comboBox_3, true);
}

void shoudata::on_pushButton_7_clicked()
{
    pagekit::fillPorts(ui->comboBox_4, true);
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
            ui->pushButton_6, ui->pushButton_7, ui->lineEdit,     ui->spinBox_settle};
}

void shoudata::setRunControls(bool running)
{
    ui->comboBox_2->setEnabled(!running);
    ui->pushButton->setEnabled(!running);
    ui->pushButton_4->setEnabled(!running);
    ui->pushButton_discard->setEnabled(!running && m_session->hasUnprocessedSamples());
    ui->pushButton_2->setEnabled(running);
    // The mode, collectors, ports and interval are fixed while a run goes on.
    const QList<QWidget *> setup{ui->checkBox,   ui->checkBox_2,   ui->comboBox_3,   ui->comboBox_4,
                                 ui->comboBox_5, ui->pushButton_6, ui->pushButton_7, ui->lineEdit,
                                 ui->spinBox_settle};
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
            QStringLiteral("表格中有尚未处理的数据，从检点1重新开始将清空表格。是否继续？"), true))
        return;
    if (!first && ui->checkBox_2->isChecked() != m_session->tableHoldsTwo()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("采集器数量与本次校准开始时不同，请从检点1重新开始。"));
        return;
    }
    if (!certificatesAccepted())
        return;
    if (ui->lineEdit->text().isEmpty())
        ui->lineEdit->setText(QStringLiteral("120"));

    acquisition::StartRequest request;
    request.two = ui->checkBox_2->isChecked();
    request.port1 = ui->comboBox_3->currentText();
    request.port2 = ui->comboBox_4->currentText();
    request.point = qMax(1, acquisition::pointOfLabel(ui->comboBox_2->currentText()));
    request.intervalSeconds = qMax(1, ui->lineEdit->text().toInt());
    request.settleSeconds = ui->spinBox_settle->value() * 60;
    request.collectorSerial = ui->comboBox_5->currentText();
    request.collectorSerial2 = ui->comboBox_6->currentText();
    m_busy = std::make_unique<BusyGuard>(this, exchangeControls());
    updateStatus();
    m_session->start(request);
}

void shoudata::onStarted()
{
    m_busy.reset();
    m_allDone = false;
    setRunControls(true);
    updateStatus();
}

void shoudata::onStartFailed(const acquisition::StartFailure &failure)
{
    m_busy.reset();
    setRunControls(false);
    updateStatus();
    prompts::about(this, QStringLiteral("提示"), runtexts::startFailure(failure));
}

bool shoudata::certificatesAccepted()
{
    QStringList serials{ui->comboBox_5->currentText()};
    if (ui->checkBox_2->isChecked())
        serials << ui->comboBox_6->currentText();
    const QDate today = QDate::currentDate();
    for (const QString &serial : serials) {
        if (serial.isEmpty())
            continue;
        const base::Result<storage::Collector> record = storage::collectorRecord(serial);
        const QDate valid = QDate::fromString(record.value.todata, QStringLiteral("yyyy-MM-dd"));
        if (!valid.isValid() || valid >= today)
            continue;
        if (!prompts::question(this, QStringLiteral("提示"),
                               QStringLiteral("采集器 %1 的校准证书已于 %2 过期，用它得到的数据"
                                              "不能溯源。\n是否仍然开始？")
                                   .arg(serial, valid.toString(QStringLiteral("yyyy-MM-dd"))),
                               true))
            return false;
    }
    return true;
}

void shoudata::on_pushButton_settleNow_clicked()
{
    m_session->endSettling();
}

void shoudata::on_pushButton_2_clicked()
{
    if (m_session->state() != RunState::Running)
        return;
    if (m_monitor->state().pointSamples == 0 &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("%1 还没有保存任何数据。\n确定停止并进入下一个校准点吗？")
                               .arg(acquisition::pointLabel(m_session->currentPoint())),
                           true))
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

bool shoudata::restoreRun(const QList<storage::Sample> &samples, QString *why)
{
    if (!m_session->restore(samples, why))
        return false;
    ui->comboBox_2->clear();
    showSetPoints();
    ui->checkBox_2->setChecked(m_session->tableHoldsTwo());
    const int last = m_session->currentPoint();
    ui->comboBox_2->setCurrentIndex(last < ui->comboBox_2->count() ? last : 0);
    setRunControls(false);
    updateStatus();
    updatePanel();
    return true;
}

void shoudata::onStopped()
{
    m_busy.reset();
    setRunControls(false);
    bool allDone = false;
    if (m_advanceOnStop) {
        m_advanceOnStop = false;
        const int next = ui->comboBox_2->currentIndex() + 1;
        allDone = next >= ui->comboBox_2->count();
        ui->comboBox_2->setCurrentIndex(allDone ? 0 : next);
    }
    m_allDone = allDone;
    updateStatus();
    updatePanel();
    if (allDone)
        prompts::about(
            this, QStringLiteral("提示"),
            QStringLiteral("全部 %1 个校准点已经完成。\n下一步：点“数据处理”保存这次校准。"
                           "（从检点1重新开始将清空表格。）")
                .arg(ui->comboBox_2->count()));
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
    ui->pushButton_discard->setEnabled(!m_session->isActive() &&
                                       m_session->hasUnprocessedSamples());
    auto part = [](const QString &name, const acquisition::CollectorCounters &s) {
        QString text = QStringLiteral("%1：应答 %2 次，未应答 %3 次，拒收 %4 次")
                           .arg(name)
                           .arg(s.answered)
                           .arg(s.missed)
                           .arg(s.rejected);
        if (s.rejected > 0 && s.lastRefusal != acquisition::Refusal::None)
            text += QStringLiteral("（最近一次：%1）")
                        .arg(runtexts::refusal(s.lastRefusal, s.lastException));
        else if (s.lastException >= 0)
            text += QStringLiteral("（异常码 %1）").arg(s.lastException, 2, 16, QLatin1Char('0'));
        return text;
    };
    QStringList parts{part(QStringLiteral("设备一"), m_session->counters(1))};
    if (m_session->twoCollectors())
        parts << part(QStringLiteral("设备二"), m_session->counters(2));
    if (m_session->unstoredCount() > 0)
        parts << QStringLiteral("未能保存 %1 条（自 %2 起等待重试）：%3")
                     .arg(m_session->unstoredCount())
                     .arg(m_session->unstoredSince().mid(11), m_session->lastStoreError());
    // On a server every sample passes through the spool on its way: said
    // once the server does not take them (or they wait a while).
    const storage::SpoolState spooled = storage::spoolState();
    const bool spoolShown =
        spooled.waiting > 0 &&
        (!spooled.lastError.isEmpty() ||
         QDateTime::fromString(spooled.since, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                 .secsTo(QDateTime::currentDateTime()) > 5);
    // The whole reason: the label shortens it and keeps it whole in its tooltip.
    if (spoolShown)
        parts << QStringLiteral("%1 条样本暂存在本机（自 %2 起，服务器接收后发送%3）")
                     .arg(spooled.waiting)
                     .arg(spooled.since.mid(11),
                          spooled.lastError.isEmpty()
                              ? QString()
                              : QStringLiteral("；") +
                                    spooled.lastError.simplified());
    if (!m_session->lineError().isEmpty())
        parts << QStringLiteral("%1串口故障：%2")
                     .arg(runtexts::collectorName(m_session->lineFaultCollector()),
                          m_session->lineError());
    pagekit::elideText(ui->label_status, parts.join(QStringLiteral("；")));
    const bool alarm =
        m_session->unstoredCount() > 0 || !m_session->lineError().isEmpty() || spoolShown;
    ui->label_status->setStyleSheet(alarm ? QStringLiteral("color: #c0392b; font-weight: bold;")
                                          : QString());
}

static QString duration(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void shoudata::updatePanel()
{
    const acquisition::LiveState &st = m_monitor->state();
    const bool running = m_session->state() == RunState::Running;
    QString setText;
    const QString point = running ? acquisition::pointLabel(m_session->currentPoint())
                                  : ui->comboBox_2->currentText();
    const int number = acquisition::pointOfLabel(point);
    const QString setT = m_monitor->setPointT(number), setH = m_monitor->setPointH(number);
    if (!point.isEmpty())
        setText = QStringLiteral("设定 %1℃ / %2%RH")
                      .arg(setT.isEmpty() ? QStringLiteral("—") : setT,
                           setH.isEmpty() ? QStringLiteral("—") : setH);
    const bool settling = m_session->isSettling();
    ui->pushButton_settleNow->setEnabled(settling);
    if (settling) {
        const qint64 now = m_session->clock()->now();
        pagekit::elideText(ui->label_point,
                           QStringLiteral("%1  %2    稳定等待中：还有 %3 开始记录（读数只显示，不保存）")
                               .arg(point, setText,
                                    duration((m_session->settledAt() - now + 999) / 1000)));
    } else if (running) {
        const qint64 now = m_session->clock()->now();
        const qint64 next = m_session->nextTick();
        pagekit::elideText(
            ui->label_point,
            QStringLiteral("%1  %2    本点已 %3，样本 %4    下次采样 %5")
                .arg(point, setText, duration((now - st.pointStarted) / 1000))
                .arg(st.pointSamples)
                .arg(next > 0 ? duration((next - now + 999) / 1000) : QStringLiteral("—")));
    } else if (m_allDone && hasUnprocessedRows()) {
        pagekit::elideText(
            ui->label_point,
            QStringLiteral("全部校准点已经完成。下一步：点“数据处理”保存这次校准。"));
    } else {
        pagekit::elideText(
            ui->label_point,
            point.isEmpty()
                ? QStringLiteral("未在校准。")
                : QStringLiteral("未在校准。下一个校准点：%1（%2）").arg(point, setText));
    }
    const bool stable = st.stable;
    pagekit::elideText(ui->label_stability,
                       settling ? runtexts::settling(m_session->settlingReadings(),
                                                     m_session->lastSettlingReading(),
                                                     m_session->humidityChannels())
                       : running || st.pointSamples > 0 ? runtexts::stability(st.stability)
                                                        : QString());
    ui->label_stability->setStyleSheet(stable ? QStringLiteral("color: #1e8c3c; font-weight: bold;")
                                              : QStringLiteral("color: #b9770e;"));
    QStringList alarms;
    for (const acquisition::Alarm &a : st.alarms)
        alarms << runtexts::alarm(a);
    ui->label_alarm->setText(alarms.join(QStringLiteral("；")));
    ui->label_alarm->setToolTip(alarms.join(QLatin1Char('\n')));
    ui->label_alarm->setStyleSheet(QStringLiteral("color: #c0392b; font-weight: bold;"));
    ui->frame_live->setStyleSheet(st.alarms.isEmpty()
                                      ? QString()
                                      : QStringLiteral("QFrame#frame_live { background: #fdecea; "
                                                       "border: 2px solid #c0392b; }"));

    const QStringList headers{QStringLiteral("参数"),      QStringLiteral("平均值"),
                              QStringLiteral("最大值"),    QStringLiteral("最小值"),
                              QStringLiteral("平均-设定"), QStringLiteral("均匀度"),
                              QStringLiteral("波动度(±)")};
    if (ui->tbLive->columnCount() != headers.size()) {
        ui->tbLive->setColumnCount(headers.size());
        ui->tbLive->setHorizontalHeaderLabels(headers);
    }
    QList<QPair<QString, const acquisition::LiveKind *>> kinds;
    if (st.t.present)
        kinds << qMakePair(QStringLiteral("温度(℃)"), &st.t);
    if (st.h.present)
        kinds << qMakePair(QStringLiteral("湿度(%RH)"), &st.h);
    ui->tbLive->setRowCount(kinds.size());
    auto shown = [](const results::Figure &v) { return v.ok ? v.text() : QStringLiteral("—"); };
    for (int r = 0; r < kinds.size(); ++r) {
        const results::KindFigures &f = kinds[r].second->figures;
        const QStringList cells{kinds[r].first,
                                shown(f.mean),
                                shown(f.max),
                                shown(f.min),
                                shown(kinds[r].second->deviation),
                                shown(f.uniformity),
                                shown(f.fluctuation)};
        for (int c = 0; c < cells.size(); ++c) {
            QTableWidgetItem *item = ui->tbLive->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignCenter);
                ui->tbLive->setItem(r, c, item);
            }
            item->setText(cells[c]);
        }
    }
}

void shoudata::on_pushButton_curves_clicked()
{
    if (!m_curves) {
        m_curves = new CurveWindow(m_monitor);
        m_curves->setAttribute(Qt::WA_DeleteOnClose);
        m_curves->placeBeside(this);
    }
    m_curves->show();
    m_curves->raise();
}

// The chamber with this point's running means, redrawn with every scan.
void shoudata::on_pushButton_chamber_clicked()
{
    if (!m_chamber) {
        m_chamber = new ChamberWindow(QStringLiteral("布点图（实时）"), false);
        m_chamber->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_chamber, &ChamberWindow::choiceChanged, this, &shoudata::refreshChamber);
        connect(m_monitor, &acquisition::RunMonitor::changed, m_chamber,
                [this] { refreshChamber(); });
        connect(m_chamber->view(), &ChamberView::channelClicked, this, &shoudata::selectChannel);
    }
    // The selected equipment's layout and this station's channel locations.
    const base::Result<storage::Selection> sel = storage::readSelection();
    const base::Result<storage::EquipmentExtra> extra =
        storage::equipmentExtra(sel.value.equipdata);
    const base::Result<QMap<QString, QString>> a = storage::channelLocations(storage::Device::A);
    const base::Result<QMap<QString, QString>> b = storage::channelLocations(storage::Device::B);
    for (const base::Status &st : {sel.status(), extra.status(), a.status(), b.status()})
        if (!st)
            pagekit::reportFailure(this, QStringLiteral("读取布点失败"), st.error);
    m_chamber->setLayout(results::chamberLayout(extra.value), a.value, b.value);
    m_chamber->show();
    m_chamber->raise();
    refreshChamber();
}

void shoudata::refreshChamber()
{
    if (!m_chamber || !m_chamber->isVisible())
        return;
    const acquisition::CurveStore &store = m_monitor->curves();
    const int point = m_monitor->state().point;
    QVector<double> sum(store.channels(), 0);
    QVector<int> n(store.channels(), 0);
    for (int i = 0; i < store.samples(); ++i) {
        if (store.point(i) != point)
            continue;
        for (int c = 0; c < store.channels(); ++c)
            if (const float v = store.value(c, i); !std::isnan(v)) {
                sum[c] += v;
                ++n[c];
            }
    }
    QVector<results::ChannelMean> means;
    for (int c = 0; c < store.channels(); ++c)
        means << results::ChannelMean{store.names().value(c), store.kind(c),
                                      n[c] ? sum[c] / n[c] : NAN};
    m_chamber->showPicture(results::chamberPicture(
        m_chamber->chamberLayout(),
        results::locationsByName(store.names(), m_chamber->locationsA(), m_chamber->locationsB()),
        means, m_chamber->kind(),
        point > 0 ? m_monitor->setValue(m_chamber->humidity(), point) : NAN));
}

void shoudata::selectChannel(const QString &channel)
{
    const int c = m_monitor->curves().names().indexOf(channel);
    if (c < 0)
        return;
    // The table's first two columns are the time and the point.
    ui->twshow->selectColumn(c + 2);
    ui->twshow->scrollTo(m_model->index(qMax(0, m_model->rowCount() - 1), c + 2));
    if (m_curves)
        m_curves->highlightChannel(c);
}

void shoudata::on_pushButton_settings_clicked()
{
    auto *dialog = new StabilityDialog(m_monitor, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void shoudata::on_pushButton_discard_clicked()
{
    if (!m_session->hasUnprocessedSamples() || m_session->isActive())
        return;
    const int n = m_session->samples().size();
    if (!prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("放弃本次校准？\n已采集的 %1 条样本不用于任何校准，"
                                          "也不再提示处理（样本仍留在数据库中）。")
                               .arg(n),
                           true))
        return;
    const base::Status st = m_session->discard();
    if (!st) {
        pagekit::reportFailure(this, QStringLiteral("放弃失败"), st.error);
        return;
    }
    ui->comboBox_2->setCurrentIndex(0);
    setRunControls(false);
    prompts::about(this, QStringLiteral("提示"),
                   QStringLiteral("已放弃本次校准：%1 条样本留在数据库中，不用于任何校准。"
                                  "\n下一次从检点1开始。")
                       .arg(n));
}

void shoudata::on_pushButton_4_clicked()
{
    RunSession::Processing p = m_session->process(false);
    if (p.outcome == RunSession::Processing::NeedsConfirmation) {
        if (!prompts::question(this, QStringLiteral("提示"), runtexts::processing(p), true))
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
        prompts::about(this, QStringLiteral("提示"), runtexts::processing(p));
        return;
    case RunSession::Processing::Unstored:
    case RunSession::Processing::Failed:
    case RunSession::Processing::NeedsConfirmation:
        pagekit::reportFailure(this, QStringLiteral("处理失败"), runtexts::processing(p));
        return;
    }
}
