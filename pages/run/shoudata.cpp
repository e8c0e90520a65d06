#include "pages/run/shoudata.h"

#include "acquisition/runregistry.h"
#include "link/commands.h"
#include "link/serialline.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/run/acquisition.h"
#include "storage/statements.h"
#include "ui_shoudata.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTimer>
#include <QtDebug>

using acquisition::Verdict;

static const char *const kTimeFormat = "yyyy-MM-dd HH:mm:ss";

shoudata::shoudata(QWidget *parent) : QWidget(parent), ui(new Ui::shoudata)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    ui->lineEdit->setValidator(pagekit::numberValidator(ui->lineEdit));
    pagekit::fillPorts(ui->comboBox_3);
    pagekit::fillPorts(ui->comboBox_4);
    ui->checkBox->setChecked(true);
    ui->tbnum->verticalHeader()->hide();
    ui->pushButton_2->setEnabled(false);
    ui->comboBox_6->setEnabled(false);

    m_secondSend = new QTimer(this);
    m_secondSend->setSingleShot(true);
    m_secondSend->setInterval(500);
    connect(m_secondSend, &QTimer::timeout, this, &shoudata::sendSecond);
    m_replyClock.start();

    loadSetPoints();
    readLayout();
    loadCollectors(&collectorSerials, &collectorPorts);
    ui->comboBox_5->addItems(collectorSerials);
    const storage::Result<storage::Selection> sel = storage::readSelection();
    const int index = ui->comboBox_5->findText(sel.value.datacollect);
    if (index >= 0)
        ui->comboBox_5->setCurrentIndex(index);
    selectPortFor(ui->comboBox_5->currentText(), ui->comboBox_3);
    updateStatus();
}

shoudata::~shoudata()
{
    acquisition::setRunActive(this, false);
    closeLines();
    delete ui;
}

bool shoudata::m702() const
{
    return rtu::familyFromProbeType(headType) == rtu::Family::M702;
}

bool shoudata::hasUnprocessedRows() const
{
    return ui->twshow->rowCount() > 0 && !m_processed;
}

void shoudata::loadSetPoints()
{
    const storage::Result<storage::Selection> sel = storage::readSelection();
    if (!sel)
        pagekit::reportFailure(this, QStringLiteral("读取当前选择失败"), sel.error);
    equipmentName = sel.value.equipdata;
    pointCount = storage::equipmentPointCount(equipmentName).value.toInt();
    if (pointCount < 0)
        pointCount = 0;
    const storage::SetPoints sp = storage::equipmentSetPoints(equipmentName).value;

    QStringList headers{QStringLiteral("类别")};
    for (int k = 1; k <= pointCount; ++k)
        headers << QStringLiteral("检点%1").arg(k);
    ui->tbnum->setColumnCount(pointCount + 1);
    ui->tbnum->setRowCount(2);
    ui->tbnum->setHorizontalHeaderLabels(headers);
    ui->tbnum->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tbnum->setItem(0, 0, new QTableWidgetItem(QStringLiteral("温度")));
    ui->tbnum->setItem(1, 0, new QTableWidgetItem(QStringLiteral("湿度")));
    for (int k = 1; k <= pointCount; ++k) {
        ui->tbnum->setItem(0, k, new QTableWidgetItem(sp.tem.value(k - 1)));
        ui->tbnum->setItem(1, k, new QTableWidgetItem(sp.hum.value(k - 1)));
        ui->comboBox_2->addItem(QStringLiteral("检点%1").arg(k));
    }
}

void shoudata::readLayout()
{
    const storage::Selection sel = storage::readSelection().value;
    countsA = acquisition::parseCounts(sel.roadA);
    countsB = acquisition::parseCounts(sel.roadB);
    humFlagsA = sel.roadtypeA;
    humFlagsB = sel.roadtypeB;
    m_header.roadA = sel.roadA;
    m_header.roadB = sel.roadB;
    m_header.typesA = sel.roadtypeA;
    m_header.typesB = sel.roadtypeB;
    const storage::Rows a = storage::loadChannelTable(storage::Device::A).value;
    const storage::Rows b = storage::loadChannelTable(storage::Device::B).value;
    headType = a.isEmpty() ? QString() : a.first().value(1);
    m_channelsA.clear();
    m_channelsB.clear();
    for (const storage::Row &r : a)
        m_channelsA << r.value(0);
    for (const storage::Row &r : b)
        m_channelsB << r.value(0);
}

void shoudata::loadCollectors(QStringList *serials, QStringList *ports)
{
    serials->clear();
    ports->clear();
    const storage::Result<storage::Rows> rows = storage::listCollectors();
    if (!rows)
        pagekit::reportFailure(this, QStringLiteral("读取采集器列表失败"), rows.error);
    for (const storage::Row &r : rows.value) {
        *serials << r.value(4);
        *ports << r.value(3);
    }
}

void shoudata::selectPortFor(const QString &serial, QComboBox *ports)
{
    const int i = collectorSerials.indexOf(serial);
    if (i >= 0)
        pagekit::selectText(ports, collectorPorts.value(i));
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
        loadCollectors(&collectorSerials, &collectorPorts);
        ui->comboBox_6->addItems(collectorSerials);
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

void shoudata::rebuildLiveTable()
{
    m_channelList = m_channelsA;
    if (m_two)
        m_channelList += m_channelsB;
    QStringList headers{QStringLiteral("时间"), QStringLiteral("检定点")};
    for (int i = 0; i < m_channelsA.size(); ++i)
        headers << acquisition::channelHeader(m_channelsA[i], humFlagsA, i);
    if (m_two)
        for (int i = 0; i < m_channelsB.size(); ++i)
            headers << acquisition::channelHeader(m_channelsB[i], humFlagsB, i);
    ui->twshow->clear();
    ui->twshow->setRowCount(0);
    ui->twshow->setColumnCount(headers.size());
    ui->twshow->setHorizontalHeaderLabels(headers);
    ui->twshow->scrollToBottom();
    // 135 pixels, or wider when the font needs it to show the whole time.
    const int timeWidth =
        ui->twshow->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16;
    ui->twshow->setColumnWidth(0, qMax(135, timeWidth));
    m_tableTwo = m_two;
    m_processed = true;
}

bool shoudata::openLine(int collector, QString *error)
{
    auto *line = new rtu::SerialLine(this);
    QComboBox *ports = collector == 1 ? ui->comboBox_3 : ui->comboBox_4;
    if (!line->open(ports->currentText(), error)) {
        delete line;
        return false;
    }
    if (collector == 1) {
        port1 = line;
        connect(line, &rtu::SerialLine::received, this, &shoudata::recvMsg1);
    } else {
        port2 = line;
        connect(line, &rtu::SerialLine::received, this, &shoudata::recvMsg2);
    }
    connect(line, &rtu::SerialLine::lineFailed, this,
            [this, collector](const QString &reason) { lineFailed(collector, reason); });
    return true;
}

bool shoudata::speedEcho(rtu::SerialLine *line)
{
    line->sendHex(rtu::frame::speedM702);
    rtu::pauseWithEvents(200);
    const QString echo = line->rxHex();
    line->clearRx();
    return echo.size() == rtu::reply::echo && rtu::replyCrcMatches(echo);
}

void shoudata::closeLines()
{
    for (rtu::SerialLine **line : {&port1, &port2}) {
        if (*line) {
            (*line)->close();
            (*line)->deleteLater();
            *line = nullptr;
        }
    }
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
    if (m_running || m_starting)
        return;
    if (!ui->checkBox->isChecked())
        return;
    if (ui->comboBox_2->count() == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有可用的校准点，请先选定带校准点的试验设备。"));
        return;
    }
    const bool first =
        ui->comboBox_2->currentText() == QStringLiteral("检点1") || ui->twshow->columnCount() <= 2;
    if (first && hasUnprocessedRows() &&
        !prompts::question(
            this, QStringLiteral("提示"),
            QStringLiteral("表格中有尚未处理的数据，从检点1重新开始将清空表格。是否继续？")))
        return;

    if (!first && ui->checkBox_2->isChecked() != m_tableTwo) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("采集器数量与本次校准开始时不同，请从检点1重新开始。"));
        return;
    }

    m_starting = true;
    ui->pushButton->setEnabled(false);
    auto fail = [this](const QString &message) {
        closeLines();
        m_starting = false;
        ui->pushButton->setEnabled(true);
        if (!message.isEmpty())
            prompts::about(this, QStringLiteral("提示"), message);
    };
    qDebug() << "start";
    if (first)
        readLayout();
    const bool two = ui->checkBox_2->isChecked();
    const bool family702 = m702();

    QString error;
    if (!openLine(1, &error)) {
        qDebug().noquote() << "run: cannot open" << ui->comboBox_3->currentText() << error;
        fail(QStringLiteral("连接失败！"));
        return;
    }
    if (family702 && !speedEcho(port1)) {
        fail(QStringLiteral("设备一没有应答！"));
        return;
    }
    if (family702)
        qDebug() << "sudu ok";
    if (two) {
        if (!openLine(2, &error)) {
            qDebug().noquote() << "run: cannot open" << ui->comboBox_4->currentText() << error;
            fail(QStringLiteral("连接失败！"));
            return;
        }
        if (family702 && !speedEcho(port2)) {
            fail(QStringLiteral("设备二没有应答！"));
            return;
        }
    }

    m_two = two;
    m_m702 = family702;
    if (first) {
        rebuildLiveTable();
        m_header.equipment = equipmentName;
        m_header.collector = ui->comboBox_5->currentText();
    }
    m_stats1 = m_stats2 = CollectorStats();
    m_lineError.clear();
    m_reply1.clear();
    m_reply2.clear();
    m_waiting1 = m_waiting2 = false;

    if (ui->lineEdit->text().isEmpty())
        ui->lineEdit->setText(QStringLiteral("120"));
    const int interval = qMax(1, ui->lineEdit->text().toInt());

    m_running = true;
    m_starting = false;
    setRunControls(true);
    pollTimer = new QTimer(this);
    pollTimer->setInterval(interval * 1000);
    if (m_m702)
        connect(pollTimer, &QTimer::timeout, this,
                m_two ? &shoudata::sendmes2 : &shoudata::sendmes);
    else
        connect(pollTimer, &QTimer::timeout, this, m_two ? &shoudata::sendTc2 : &shoudata::sendTc);
    pollTimer->start();
    qDebug() << (m_two ? "kaishi2...." : "kaishi1....");
    updateStatus();
}

void shoudata::stopRun()
{
    if (!m_running)
        return;
    m_running = false; // replies from now on are ignored
    if (pollTimer) {
        pollTimer->stop();
        pollTimer->deleteLater();
        pollTimer = nullptr;
    }
    m_secondSend->stop();
    // Count the tick still waiting for its reply.
    if (m_waiting1)
        ++m_stats1.missed;
    if (m_two && m_waiting2)
        ++m_stats2.missed;
    m_waiting1 = m_waiting2 = false;
    rtu::pauseWithEvents(200);
    closeLines();
    m_reply1.clear();
    m_reply2.clear();
    setRunControls(false);
    updateStatus();
}

void shoudata::on_pushButton_2_clicked()
{
    if (!m_running)
        return;
    ui->pushButton_2->setEnabled(false);
    stopRun();
    const int next = ui->comboBox_2->currentIndex() + 1;
    ui->comboBox_2->setCurrentIndex(next < ui->comboBox_2->count() ? next : 0);
}

void shoudata::beginTick()
{
    // A tick whose reading never came counts as missed.
    if (m_waiting1)
        ++m_stats1.missed;
    if (m_two && m_waiting2)
        ++m_stats2.missed;
    m_reply1.clear();
    m_reply2.clear();
    m_waiting1 = true;
    m_waiting2 = m_two;
    updateStatus();
}

void shoudata::sendTc()
{
    if (!m_running || !port1)
        return;
    beginTick();
    port1->sendHex(rtu::frame::readM701);
    qDebug().noquote() << "send:" + rtu::frame::readM701;
}

void shoudata::sendmes()
{
    if (!m_running || !port1)
        return;
    beginTick();
    port1->sendHex(rtu::frame::measureM702);
    qDebug().noquote() << "send:" + rtu::frame::measureM702;
}

void shoudata::sendTc2()
{
    sendTc();
    if (m_running)
        m_secondSend->start();
}

void shoudata::sendmes2()
{
    sendmes();
    if (m_running)
        m_secondSend->start();
}

void shoudata::sendSecond()
{
    if (!m_running || !port2)
        return;
    const QString frame = m_m702 ? rtu::frame::measureM702 : rtu::frame::readM701;
    port2->sendHex(frame);
    qDebug().noquote() << "send:" + frame;
}

void shoudata::recvMsg1()
{
    onReply(1);
}

void shoudata::recvMsg2()
{
    onReply(2);
}

void shoudata::onReply(int collector)
{
    rtu::SerialLine *line = collector == 1 ? port1 : port2;
    if (!m_running || !line || (collector == 2 && !m_two))
        return;
    const qint64 start = m_replyClock.nsecsElapsed();
    const QString text = acquisition::stripEchoes(line->rxHex());
    if (text.isEmpty())
        return;
    CollectorStats &stats = collector == 1 ? m_stats1 : m_stats2;
    switch (acquisition::judge(text)) {
    case Verdict::Incomplete:
        qDebug().noquote() << "sone:" + text;
        return;
    case Verdict::Rejected:
        qDebug().noquote() << "rejected reply from collector" << collector << text;
        ++stats.rejected;
        line->clearRx();
        updateStatus();
        return;
    case Verdict::Complete:
        break;
    }
    line->clearRx();
    bool &waiting = collector == 1 ? m_waiting1 : m_waiting2;
    if (!waiting)
        return; // a second reading for the same tick
    waiting = false;
    (collector == 1 ? m_reply1 : m_reply2) = text;
    m_replyStartNs = start;
    dispatch();
}

void shoudata::dispatch()
{
    if (m_reply1.isEmpty() || (m_two && m_reply2.isEmpty()))
        return;
    QStringList values, part;
    bool ok = true;
    if (m_m702) {
        ok = acquisition::decodeM702(m_reply1, m_channelsA, &part);
        values += part;
        if (ok && m_two) {
            ok = acquisition::decodeM702(m_reply2, m_channelsB, &part);
            values += part;
        }
    } else if (!m_two) {
        ok = acquisition::decodeM701(m_reply1, m_channelList, &values);
    } else {
        const int sumA = countsA[0] + countsA[1] + countsA[2];
        const int sumB = countsB[0] + countsB[1] + countsB[2];
        ok = m_channelList.size() >= sumA + sumB &&
             acquisition::decodeM701(m_reply1, m_channelList.mid(0, sumA), &part);
        values += part;
        if (ok) {
            ok = acquisition::decodeM701(m_reply2, m_channelList.mid(sumA, sumB), &part);
            values += part;
        }
    }
    m_reply1.clear();
    m_reply2.clear();
    if (!ok || values.size() != ui->twshow->columnCount() - 2) {
        // No reading is ever stored as 0 for want of data.
        ++m_stats1.missed;
        if (m_two)
            ++m_stats2.missed;
        ++m_stats1.rejected;
        updateStatus();
        return;
    }
    ++m_stats1.answered;
    if (m_two)
        ++m_stats2.answered;
    addSample(values, m_replyStartNs);
}

void shoudata::addSample(const QStringList &values, qint64 startNs)
{
    const QString time = QDateTime::currentDateTime().toString(QLatin1String(kTimeFormat));
    const QString point = ui->comboBox_2->currentText();
    const int row = ui->twshow->rowCount();
    ui->twshow->insertRow(row);
    ui->twshow->setItem(row, 0, new QTableWidgetItem(time));
    ui->twshow->setItem(row, 1, new QTableWidgetItem(point));
    for (int i = 0; i < values.size(); ++i)
        ui->twshow->setItem(row, i + 2, new QTableWidgetItem(values[i]));
    ui->twshow->scrollToBottom();
    m_processed = false;

    const storage::Result<storage::Selection> sel = storage::readSelection();
    const int n = sel.value.secA.toInt();
    const QString channels = acquisition::listText(m_channelList.mid(0, qMax(0, n)));
    storage::Status st = sel.status();
    if (st)
        st = storage::insertSample(
            storage::Sample{equipmentName, point, time, channels, acquisition::listText(values)});
    if (!st) {
        // The row stays in the table; the page shows how many could not be stored.
        ++m_unstored;
        m_lastStoreError = st.error;
    }
    m_lastLatencyNs = m_replyClock.nsecsElapsed() - startNs;
    updateStatus();
    emit sampleAdded();
}

void shoudata::lineFailed(int collector, const QString &reason)
{
    m_lineError = QStringLiteral("设备%1串口故障：%2")
                      .arg(collector == 1 ? QStringLiteral("一") : QStringLiteral("二"), reason);
    updateStatus();
}

void shoudata::updateStatus()
{
    auto part = [](const QString &name, const CollectorStats &s) {
        return QStringLiteral("%1：应答 %2 次，未应答 %3 次，拒收 %4 次")
            .arg(name)
            .arg(s.answered)
            .arg(s.missed)
            .arg(s.rejected);
    };
    QStringList parts{part(QStringLiteral("设备一"), m_stats1)};
    if (m_two)
        parts << part(QStringLiteral("设备二"), m_stats2);
    if (m_unstored > 0)
        parts << QStringLiteral("未能保存 %1 条：%2").arg(m_unstored).arg(m_lastStoreError);
    if (!m_lineError.isEmpty())
        parts << m_lineError;
    ui->label_status->setText(parts.join(QStringLiteral("；")));
    acquisition::setRunActive(this, m_running || m_starting || hasUnprocessedRows());
    const bool alarm = m_unstored > 0 || !m_lineError.isEmpty();
    ui->label_status->setStyleSheet(alarm ? QStringLiteral("color: #c0392b; font-weight: bold;")
                                          : QString());
}

void shoudata::on_pushButton_4_clicked()
{
    if (m_running)
        return;
    const int rows = ui->twshow->rowCount();
    if (rows == 0) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("当前没有数据！"));
        return;
    }
    const storage::Result<QString> type = storage::equipmentType(m_header.equipment);
    if (!type) {
        pagekit::reportFailure(this, QStringLiteral("处理失败"), type.error);
        return;
    }
    if (type.value.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("试验设备“%1”没有被校参数类别，无法处理本次校准。")
                           .arg(m_header.equipment));
        return;
    }
    const QString begin = ui->twshow->item(0, 0)->text();
    const QString end = ui->twshow->item(rows - 1, 0)->text();
    const storage::Result<bool> exists = storage::headerExists(begin);
    if (!exists) {
        pagekit::reportFailure(this, QStringLiteral("处理失败"), exists.error);
        return;
    }
    if (exists.value &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("这次校准已经处理过，是否用新的结果替换原有记录？")))
        return;
    const storage::Result<int> count = storage::countHeaders();
    const storage::Result<storage::Ambient> ambient = storage::readAmbient();
    if (!count || !ambient) {
        pagekit::reportFailure(this, QStringLiteral("处理失败"),
                               !count ? count.error : ambient.error);
        return;
    }
    QStringList tem, hum;
    for (int c = 1; c < ui->tbnum->columnCount(); ++c) {
        tem << pagekit::itemText(ui->tbnum, 0, c);
        hum << pagekit::itemText(ui->tbnum, 1, c);
    }
    const int channels = ui->twshow->columnCount() - 2;
    // A replaced header keeps its number.
    const QString number =
        exists.value ? storage::headerNumber(begin).value : QString::number(count.value + 1);
    const storage::Row header{number,
                              begin,
                              end,
                              QString::number(ui->tbnum->columnCount() - 1),
                              acquisition::listText(tem),
                              acquisition::listText(hum),
                              m_header.roadA,
                              m_header.roadB,
                              m_header.collector,
                              m_header.equipment,
                              QString::number(channels),
                              QString::number(rows),
                              acquisition::listText(m_channelList.mid(0, channels)),
                              ambient.value.tem,
                              ambient.value.hum,
                              type.value,
                              m_header.typesA,
                              m_header.typesB};
    const storage::RunHeader typed = storage::RunHeader::fromRow(header);
    const storage::Status st =
        exists.value ? storage::replaceHeader(typed) : storage::insertHeader(typed);
    if (!st) {
        pagekit::reportFailure(this, QStringLiteral("处理失败"), st.error);
        return;
    }
    m_processed = true;
    updateStatus();
    prompts::about(this, QStringLiteral("提示"), QStringLiteral("处理完成！"));
}
