#include "pages/channels/form3.h"

#include "link/exchange.h"
#include "link/frames.h"
#include "pages/busyguard.h"
#include "pages/channels/form4.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "storage/statements.h"
#include "ui_form3.h"

#include "link/trace.h"
#include <QComboBox>
#include <QTimer>
#include <QItemSelectionModel>
#include <memory>
#include <utility>

using namespace channels;

Form3::Form3(QWidget *parent) : QWidget(parent), ui(new Ui::Form3)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    ui->lenum->setValidator(pagekit::numberValidator(ui->lenum));
    load(storage::Device::A);
    pagekit::fillPorts(ui->comboBox);
    showCollector();
}

void Form3::showCollector()
{
    // Which collector "设备一" is, and its port chosen already.
    const base::Result<storage::Selection> sel = storage::readSelection();
    const base::Result<storage::Collector> c = storage::collectorRecord(sel.value.datacollect);
    if (shownDevice() == storage::Device::A) {
        if (!c.value.isEmpty()) {
            ui->label_collector->setText(
                QStringLiteral("设备一：%1  %2（串口 %3）")
                    .arg(c.value.serialnum, c.value.name, c.value.portnum));
            pagekit::selectText(ui->comboBox, c.value.portnum);
        } else {
            ui->label_collector->setText(
                QStringLiteral("设备一：还没有选定采集器（在“采集器”页面点“选定采集器”）"));
        }
    } else {
        ui->label_collector->setText(QStringLiteral("设备二：第二台采集器，请选择它所接的串口"));
    }
}

Form3::~Form3()
{
    delete ui;
}

storage::Device Form3::shownDevice() const
{
    // The button names the other device.
    return ui->pushButton_5->text() == QStringLiteral("切换到设备二") ? storage::Device::A
                                                                      : storage::Device::B;
}

QString Form3::cellText(int row, int column) const
{
    const QString text = pagekit::itemText(ui->twShow, row, column);
    if (text == QLatin1String("AAA"))
        if (auto *box = qobject_cast<QComboBox *>(ui->twShow->cellWidget(row, column)))
            return box->currentText();
    return text;
}

storage::Rows Form3::tableRows() const
{
    storage::Rows rows;
    for (int r = 0; r < ui->twShow->rowCount(); ++r) {
        storage::Row row;
        for (int c = 0; c < ColumnCount; ++c)
            row << cellText(r, c);
        rows << row;
    }
    return rows;
}

bool Form3::channelNumbersUnique() const
{
    QStringList numbers;
    for (int r = 0; r < ui->twShow->rowCount(); ++r)
        numbers << cellText(r, Number);
    return channels::channelNumbersUnique(numbers);
}

void Form3::setCell(int row, int column, const QString &text)
{
    ui->twShow->removeCellWidget(row, column);
    ui->twShow->setItem(row, column, new QTableWidgetItem(text));
}

void Form3::rebuild(int rows)
{
    ui->checkBox->setChecked(false);
    ui->twShow->clear();
    ui->twShow->setRowCount(0); // also drops the cell combo boxes
    // The channel's columns, then where its probe sits in the chamber.
    ui->twShow->setColumnCount(ColumnCount + 1);
    ui->twShow->setHorizontalHeaderLabels(headers() << QStringLiteral("位置"));
    if (rows <= 0)
        return;
    ui->twShow->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const storage::Row row = defaultRow(r);
        for (int c = 0; c < ColumnCount; ++c)
            setCell(r, c, row[c]);
        setCell(r, ColumnCount, QString());
    }
}

QString Form3::locationText(const QString &name) const
{
    return !name.isEmpty() && name == m_layout.centre ? name + QStringLiteral("（中心）") : name;
}

QString Form3::locationOf(int row) const
{
    return cellText(row, ColumnCount).remove(QStringLiteral("（中心）"));
}

void Form3::showLocations()
{
    const base::Result<storage::Selection> sel = storage::readSelection();
    const base::Result<storage::EquipmentExtra> extra =
        storage::equipmentExtra(sel.value.equipdata);
    m_layout = results::chamberLayout(extra.value);
    const base::Result<QMap<QString, QString>> stored = storage::channelLocations(shownDevice());
    if (!stored)
        pagekit::reportFailure(this, QStringLiteral("读取通道位置失败"), stored.error);
    for (int r = 0; r < ui->twShow->rowCount(); ++r)
        setCell(r, ColumnCount, locationText(stored.value.value(cellText(r, Number))));
}

// Every channel's location as the table shows it, kept at once (it is not
// written into the collector).
void Form3::storeLocations()
{
    QMap<QString, QString> locations;
    for (int r = 0; r < ui->twShow->rowCount(); ++r)
        locations.insert(cellText(r, Number), locationOf(r));
    const base::Status st = storage::storeChannelLocations(shownDevice(), locations);
    if (!st)
        pagekit::reportFailure(this, QStringLiteral("保存通道位置失败"), st.error);
}

void Form3::load(storage::Device device)
{
    const base::Result<QList<storage::ChannelRow>> stored = storage::loadChannelTable(device);
    if (!stored)
        pagekit::reportFailure(this, QStringLiteral("读取通道配置失败"), stored.error);
    const QList<storage::ChannelRow> rows = stored.value;
    ui->lenum->setText(QString::number(rows.size()));
    rebuild(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const storage::Row cells = rows[r].toRow(); // the table's columns are the record's
        for (int c = 0; c < ColumnCount; ++c)
            setCell(r, c, cells.value(c));
    }
    showLocations();
}

void Form3::on_lenum_textChanged(const QString &arg1)
{
    rebuild(arg1.toInt());
}

void Form3::on_pushButton_3_clicked()
{
    rebuild(ui->lenum->text().toInt());
}

void Form3::on_pushButton_5_clicked()
{
    const bool toTwo = shownDevice() == storage::Device::A;
    ui->pushButton_5->setText(toTwo ? QStringLiteral("切换到设备一")
                                    : QStringLiteral("切换到设备二"));
    ui->label->setText(toTwo ? QStringLiteral("设备二") : QStringLiteral("设备一"));
    ui->lenum->clear();
    load(toTwo ? storage::Device::B : storage::Device::A);
    showCollector();
}

void Form3::on_twShow_cellDoubleClicked(int row, int column)
{
    if (column == ColumnCount) {
        editLocation(row);
        return;
    }
    QStringList items;
    switch (column) {
    case ProbeType:
        items = probeTypes();
        break;
    case SensorType:
        items = sensorTypesFor(cellText(row, ProbeType));
        break;
    case Wiring:
        items = wirings();
        break;
    case Compensation:
        items = compensations();
        break;
    default:
        return;
    }
    if (items.isEmpty())
        return;
    const QString current = cellText(row, column);
    auto *box = new QComboBox;
    box->addItems(items);
    // Opening the editor alone must not change the value.
    if (items.contains(current))
        box->setCurrentText(current);
    ui->twShow->setItem(row, column, new QTableWidgetItem(QStringLiteral("AAA")));
    ui->twShow->setCellWidget(row, column, box);
    if (column == ProbeType) {
        // A row never says two things: the cells that do not apply to the
        // new type are emptied.
        connect(box, &QComboBox::currentTextChanged, this, [this, box](const QString &type) {
            for (int r = 0; r < ui->twShow->rowCount(); ++r) {
                if (ui->twShow->cellWidget(r, ProbeType) != box)
                    continue;
                const storage::Row before = tableRows().value(r);
                const storage::Row after = withProbeType(before, type);
                for (int c = SensorType; c < ColumnCount; ++c)
                    if (after[c] != before[c])
                        setCell(r, c, after[c]);
            }
        });
    }
}

void Form3::editLocation(int row)
{
    if (m_layout.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("选定的试验设备还没有布点（在“试验设备”页面选择 9 点、15 点或自定位置）。"));
        return;
    }
    QStringList items{QString()};
    for (const storage::Location &l : m_layout.locations)
        items << locationText(l.name);
    const QString current = locationText(locationOf(row));
    auto *box = new QComboBox;
    box->addItems(items);
    box->setCurrentText(current);
    ui->twShow->setItem(row, ColumnCount, new QTableWidgetItem(QStringLiteral("AAA")));
    ui->twShow->setCellWidget(row, ColumnCount, box);
    connect(box, &QComboBox::currentTextChanged, this, [this] { storeLocations(); });
}

void Form3::on_checkBox_stateChanged(int arg1)
{
    const int rows = ui->twShow->rowCount();
    if (rows == 0)
        return;
    ui->twShow->setRangeSelected(QTableWidgetSelectionRange(0, 0, rows - 1, ColumnCount),
                                 arg1 == Qt::Checked);
}

void Form3::on_pushButton_clicked()
{
    m_batchRows.clear();
    const QModelIndexList selected = ui->twShow->selectionModel()->selectedRows(0);
    for (const QModelIndex &index : selected)
        m_batchRows << index.row();
    if (m_batchRows.isEmpty()) {
        prompts::about(nullptr, QStringLiteral("失败"), QStringLiteral("未选择通道！!"));
        return;
    }
    auto *dialog = new Form4;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    connect(dialog, &Form4::sendData, this, &Form3::receivData);
    dialog->show();
}

void Form3::receivData(const QString &data1, const QString &data2, const QString &data3,
                       const QString &data4, const QString &data5, const QString &data6,
                       const QString &data7, const QString &data8, const QString &data9,
                       const QString &data10, const QString &data11, const QString &data12,
                       const QString &data13)
{
    const QStringList values{data1, data2, data3,  data4,  data5,  data6, data7,
                             data8, data9, data10, data11, data12, data13};
    for (int row : std::as_const(m_batchRows)) {
        if (row >= ui->twShow->rowCount())
            continue;
        for (int c = 0; c < values.size(); ++c)
            setCell(row, c + 1, values[c]);
    }
}

void Form3::setEditing(bool enabled)
{
    const QList<QWidget *> editing{ui->twShow,       ui->lenum,        ui->pushButton,
                                   ui->pushButton_3, ui->pushButton_5, ui->checkBox};
    for (QWidget *w : editing)
        w->setEnabled(enabled);
    ui->pushButton_2->setEnabled(enabled);
    ui->pushButton_2->setText(enabled ? QStringLiteral("设置通道") : QStringLiteral("正在设置"));
}

void Form3::on_pushButton_2_clicked()
{
    if (m_downloading)
        return;
    if (ui->twShow->rowCount() == 0) {
        prompts::about(nullptr, QStringLiteral("失败"), QStringLiteral("还未配置通道!"));
        return;
    }
    if (!channelNumbersUnique()) {
        prompts::about(nullptr, QStringLiteral("失败"), QStringLiteral("存在相同通道编号!"));
        return;
    }
    // What is sent and stored is this snapshot, whatever happens on the page meanwhile.
    const storage::Rows rows = tableRows();
    const storage::Device device = shownDevice();
    const Plan plan = planDownload(rows);
    if (!plan.ok()) {
        prompts::about(nullptr, QStringLiteral("失败"), plan.error);
        return;
    }

    const QString port = ui->comboBox->currentText();
    auto d = std::make_unique<Download>();
    d->exchange = std::make_unique<rtu::Exchange>(std::make_unique<rtu::SerialPort>());
    QString error;
    if (!d->exchange->open(port, &error)) {
        qCDebug(lcTrace).noquote() << "download: cannot open" << port << error;
        prompts::about(nullptr, QStringLiteral("提示"), QStringLiteral("连接失败！\n") + error);
        return;
    }
    connect(d->exchange.get(), &rtu::Exchange::replied, this, &Form3::onStepReply);
    d->plan = plan;
    d->rows = rows;
    d->device = device;
    d->port = port;
    m_download = std::move(d);
    m_downloading = true;
    setEditing(false);
    m_download->guard = std::make_unique<BusyGuard>(
        this, QList<QWidget *>{ui->comboBox, ui->pushButton_6, ui->pushButton_9});
    m_stopRequested = false;
    ui->pushButton_stop->setEnabled(true);
    ui->progressBar->setRange(0, plan.steps.size());
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    sendStep();
}

void Form3::sendStep()
{
    Download &d = *m_download;
    if (busy::cancelRequested(this) || m_stopRequested) {
        finishDownload(true);
        return;
    }
    if (d.step >= d.plan.steps.size()) {
        // The last reply's time before the line closes, as after every frame.
        QTimer::singleShot(200, this, [this] { finishDownload(false); });
        return;
    }
    const Step &s = d.plan.steps[d.step];
    ui->progressBar->setValue(d.step);
    ui->label_progress->setText(s.channel > 0 ? QStringLiteral("正在写入通道 %1（第 %2 / %3 帧）")
                                                    .arg(s.channel)
                                                    .arg(d.step + 1)
                                                    .arg(d.plan.steps.size())
                                              : QStringLiteral("正在设置采集器（第 %1 / %2 帧）")
                                                    .arg(d.step + 1)
                                                    .arg(d.plan.steps.size()));
    qCDebug(lcTrace).noquote() << s.trace + rtu::hexText(s.frame);
    d.exchange->request(s.frame, s.pauseMs);
}

void Form3::onStepReply(const rtu::Reply &reply)
{
    if (!m_download)
        return;
    Download &d = *m_download;
    const Step &s = d.plan.steps[d.step];
    const QByteArray bytes = reply.kind == rtu::Reply::Answered ? reply.bytes : QByteArray();
    qCDebug(lcTrace).noquote() << "rec:" + rtu::hexText(reply.bytes);
    ++d.step;
    if (s.fatal) {
        if (!confirms(s, bytes)) {
            d.firstReply = reply.bytes;
            d.accepted = false;
            finishDownload(false);
            return;
        }
        if (d.plan.family == rtu::Family::M702)
            qCDebug(lcTrace) << "kai shi pei zhi tong dao!";
    } else if (s.expected > 0) {
        if (confirms(s, bytes)) {
            qCDebug(lcTrace).noquote() << QString::number(s.channel) + QStringLiteral(" ok!");
        } else {
            const QString ch = QString::number(s.channel);
            if (!d.unconfirmed.contains(ch))
                d.unconfirmed << ch;
        }
    }
    // The next frame from the event loop: the exchange has finished its signal.
    QTimer::singleShot(0, this, &Form3::sendStep);
}

void Form3::finishDownload(bool cancelled)
{
    if (!m_download)
        return;
    std::unique_ptr<Download> d = std::move(m_download);
    d->exchange->close();
    qCDebug(lcTrace) << "Port Close!";
    m_downloading = false;
    setEditing(true);
    ui->pushButton_stop->setEnabled(false);
    ui->progressBar->hide();
    ui->label_progress->clear();
    d->guard.reset();
    if (cancelled) {
        // Nothing is stored; the collector holds part of the new layout.
        if (m_stopRequested)
            prompts::about(nullptr, QStringLiteral("提示"),
                           QStringLiteral("设置已停止，未保存。\n采集器中的通道配置现在不完整，"
                                          "校准前请重新设置通道。"));
        return;
    }
    if (!d->accepted) {
        const int seconds = qMax(1, d->plan.steps.value(0).pauseMs / 1000);
        prompts::about(
            nullptr, QStringLiteral("失败"),
            d->firstReply.isEmpty()
                ? QStringLiteral("设置失败!\n采集器没有应答（串口 %1，%2 秒），请检查采集器"
                                 "电源、连接线和所选串口。")
                      .arg(d->port)
                      .arg(seconds)
                : QStringLiteral("设置失败!\n应答校验错误（收到 %1 字节），请检查连接线"
                                 "后重试。")
                      .arg(d->firstReply.size()));
        return;
    }
    qCDebug(lcTrace) << "tongdaopeizhi ok";
    QList<storage::ChannelRow> records;
    for (const storage::Row &row : d->rows)
        records << storage::ChannelRow::fromRow(row);
    const base::Status stored =
        storage::storeChannelLayout(d->device, records, d->plan.count, d->plan.road, d->plan.kinds);
    if (!stored.ok) {
        pagekit::reportFailure(nullptr, QStringLiteral("通道配置已写入采集器，但保存失败"),
                               stored.error);
        return;
    }
    if (!d->unconfirmed.isEmpty()) {
        prompts::about(nullptr, QStringLiteral("失败"),
                       QStringLiteral("通道 %1 未得到采集器确认，请重新设置。")
                           .arg(d->unconfirmed.join(QStringLiteral("、"))));
        return;
    }
    prompts::about(nullptr, QStringLiteral("成功"),
                   QStringLiteral("设置完成!\n%1 个通道已写入采集器并保存").arg(d->rows.size()));
}

void Form3::on_pushButton_6_clicked()
{
    pagekit::fillPorts(ui->comboBox, true);
}

void Form3::on_pushButton_stop_clicked()
{
    m_stopRequested = true;
}

void Form3::on_pushButton_9_clicked()
{
    close();
}
