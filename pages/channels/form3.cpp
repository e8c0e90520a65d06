#include "pages/channels/form3.h"

#include "link/serialline.h"
#include "pages/busyguard.h"
#include "pages/channels/form4.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "ui_form3.h"

#include "link/trace.h"
#include <QComboBox>
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
    ui->twShow->setColumnCount(ColumnCount);
    ui->twShow->setHorizontalHeaderLabels(headers());
    if (rows <= 0)
        return;
    ui->twShow->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const storage::Row row = defaultRow(r);
        for (int c = 0; c < ColumnCount; ++c)
            setCell(r, c, row[c]);
    }
}

void Form3::load(storage::Device device)
{
    const storage::Result<storage::Rows> stored = storage::loadChannelTable(device);
    if (!stored)
        pagekit::reportFailure(this, QStringLiteral("读取通道配置失败"), stored.error);
    const storage::Rows rows = stored.value;
    ui->lenum->setText(QString::number(rows.size()));
    rebuild(rows.size());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < ColumnCount; ++c)
            setCell(r, c, rows[r].value(c));
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
}

void Form3::on_twShow_cellDoubleClicked(int row, int column)
{
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
}

void Form3::on_checkBox_stateChanged(int arg1)
{
    const int rows = ui->twShow->rowCount();
    if (rows == 0)
        return;
    ui->twShow->setRangeSelected(QTableWidgetSelectionRange(0, 0, rows - 1, ColumnCount - 1),
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

    rtu::SerialLine line;
    QString error;
    if (!line.open(ui->comboBox->currentText(), &error)) {
        qCDebug(lcTrace).noquote()
            << "download: cannot open" << ui->comboBox->currentText() << error;
        prompts::about(nullptr, QStringLiteral("提示"), QStringLiteral("连接失败！"));
        return;
    }
    m_port = &line;
    m_downloading = true;
    connect(&line, &rtu::SerialLine::received, this, &Form3::recvMsg);
    setEditing(false);
    auto guard = std::make_unique<BusyGuard>(
        this, QList<QWidget *>{ui->comboBox, ui->pushButton_6, ui->pushButton_9});

    bool accepted = true;
    bool cancelled = false;
    QStringList unconfirmed;
    for (const Step &s : plan.steps) {
        if (busy::cancelRequested(this)) {
            cancelled = true;
            break;
        }
        line.clearRx();
        line.sendHex(s.frame);
        qCDebug(lcTrace).noquote() << s.trace + s.frame;
        rtu::pauseWithEvents(s.pauseMs);
        const QString reply = line.rxHex();
        if (s.fatal) {
            qCDebug(lcTrace).noquote() << reply.toUpper();
            if (!confirms(s, reply)) {
                accepted = false;
                break;
            }
            if (plan.family == rtu::Family::M702)
                qCDebug(lcTrace) << "kai shi pei zhi tong dao!";
            continue;
        }
        if (s.expected == 0)
            continue;
        if (confirms(s, reply)) {
            qCDebug(lcTrace).noquote() << QString::number(s.channel) + QStringLiteral(" ok!");
        } else {
            const QString ch = QString::number(s.channel);
            if (!unconfirmed.contains(ch))
                unconfirmed << ch;
        }
    }
    if (!cancelled)
        rtu::pauseWithEvents(200);
    line.close();
    m_port = nullptr;
    qCDebug(lcTrace) << "Port Close!";
    m_downloading = false;
    setEditing(true);
    guard.reset();
    if (cancelled)
        return; // the program is closing: nothing is stored

    if (!accepted) {
        prompts::about(nullptr, QStringLiteral("失败"), QStringLiteral("设置失败!"));
        return;
    }
    qCDebug(lcTrace) << "tongdaopeizhi ok";
    const storage::Status stored =
        storage::storeChannelLayout(device, rows, plan.count, plan.road, plan.kinds);
    if (!stored.ok) {
        pagekit::reportFailure(nullptr, QStringLiteral("通道配置已写入采集器，但保存失败"),
                               stored.error);
        return;
    }
    if (!unconfirmed.isEmpty()) {
        prompts::about(nullptr, QStringLiteral("失败"),
                       QStringLiteral("通道 %1 未得到采集器确认，请重新设置。")
                           .arg(unconfirmed.join(QStringLiteral("、"))));
        return;
    }
    prompts::about(nullptr, QStringLiteral("成功"), QStringLiteral("设置完成!"));
}

void Form3::recvMsg()
{
    if (m_port)
        qCDebug(lcTrace).noquote() << "rec:" + m_port->rxHex();
}

void Form3::on_pushButton_6_clicked()
{
    pagekit::fillPorts(ui->comboBox);
}

void Form3::on_pushButton_9_clicked()
{
    close();
}
