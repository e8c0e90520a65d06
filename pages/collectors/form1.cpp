#include "pages/collectors/form1.h"

#include "link/commands.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "pages/busyguard.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "ui_form1.h"

#include "link/trace.h"

#include <QTimer>

static const char *const kDateFormat = "yyyy-MM-dd";

Form1::Form1(QWidget *parent) : QWidget(parent), ui(new Ui::Form1)
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    for (QWidget *w : {ui->comboBox_3, ui->comboBox_4, ui->comboBox_5, ui->comboBox_6})
        w->setEnabled(false);
    for (QLineEdit *e : {ui->lineEdit_4, ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7,
                         ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11, ui->lineEdit_12,
                         ui->lineEdit_stabilityT, ui->lineEdit_stabilityH})
        e->setValidator(pagekit::numberValidator(e));
    ui->dateEdit->setDisplayFormat(QLatin1String(kDateFormat));
    // A new certificate is good for a year; 2000-01-01 would be expired at once.
    ui->dateEdit->setDate(QDate::currentDate().addYears(1));
    pagekit::fillPorts(ui->comboBox_2);
    loadList();
}

Form1::~Form1()
{
    delete ui;
}

QList<QLineEdit *> Form1::measurementFields() const
{
    return {ui->lineEdit_4, ui->lineEdit_5,  ui->lineEdit_6,  ui->lineEdit_7, ui->lineEdit_8,
            ui->lineEdit_9, ui->lineEdit_10, ui->lineEdit_11, ui->lineEdit_12};
}

storage::CollectorExtra Form1::fieldsExtra() const
{
    return storage::CollectorExtra{ui->lineEdit_stabilityT->text().trimmed(),
                                   ui->lineEdit_stabilityH->text().trimmed()};
}

storage::Collector Form1::fieldsRecord() const
{
    storage::Collector c;
    c.num = ui->lineEdit->text();
    c.name = ui->lineEdit_2->text();
    c.type = ui->comboBox->currentText();
    c.portnum = ui->comboBox_2->currentText();
    c.serialnum = ui->lineEdit_3->text();
    c.zqtem = ui->lineEdit_4->text();
    c.zqhum = ui->lineEdit_5->text();
    c.cltem = ui->lineEdit_6->text();
    c.clhum = ui->lineEdit_7->text();
    c.zhengshu = ui->lineEdit_8->text();
    c.temnosure = ui->lineEdit_9->text();
    c.temnosurek = ui->lineEdit_10->text();
    c.humnosure = ui->lineEdit_11->text();
    c.humnosurek = ui->lineEdit_12->text();
    c.todata = ui->dateEdit->date().toString(QLatin1String(kDateFormat));
    return c;
}

void Form1::loadList()
{
    static const QStringList headers{"编号",       "名称",         "型号",         "串口号",
                                     "序列号",     "温度准确率",   "湿度准确率",   "温度分辨率",
                                     "湿度分辨率", "校准证书编号", "温度不确定度", "湿度不确定度",
                                     "温度K",      "湿度K",        "有效期"};
    ui->twshow->clear();
    ui->twshow->setColumnCount(headers.size());
    ui->twshow->setHorizontalHeaderLabels(headers);
    const base::Result<QList<storage::Collector>> collectors = storage::listCollectors();
    if (!collectors) {
        ui->twshow->setRowCount(0);
        pagekit::reportFailure(this, QStringLiteral("读取采集器列表失败"), collectors.error);
        return;
    }
    ui->twshow->setRowCount(collectors.value.size());
    for (int r = 0; r < collectors.value.size(); ++r) {
        const storage::Row cells = collectors.value[r].toRow(); // one column per field
        for (int c = 0; c < headers.size(); ++c)
            ui->twshow->setItem(r, c, new QTableWidgetItem(cells.value(c)));
    }
}

static constexpr int kSettleMs = 500; // after opening, before the request
static constexpr int kReplyMs = 1000;

void Form1::on_pushButton_clicked()
{
    if (busy::isBusy(this))
        return;
    // Nothing that could start another exchange or change the record being
    // written is live during the scan; the serial field keeps its text until
    // the reply has been judged.
    m_guard = std::make_unique<BusyGuard>(
        this, QList<QWidget *>{ui->pushButton, ui->pushButton_2, ui->pushButton_3, ui->pushButton_4,
                               ui->pushButton_5, ui->pushButton_6, ui->pushButton_8, ui->comboBox,
                               ui->comboBox_2, ui->lineEdit, ui->lineEdit_3, ui->twshow});
    m_scanPort = ui->comboBox_2->currentText();
    m_scan = std::make_unique<rtu::Exchange>(std::make_unique<rtu::SerialPort>());
    QString error;
    if (!m_scan->open(m_scanPort, &error)) {
        qCDebug(lcTrace).noquote() << "scan: cannot open" << m_scanPort << error;
        finishScan(QStringLiteral("连接失败！\n") + error);
        return;
    }
    connect(m_scan.get(), &rtu::Exchange::replied, this, &Form1::onScanReply);
    // Some adapters need a moment after opening.
    QTimer::singleShot(kSettleMs, this, &Form1::sendIdentify);
}

void Form1::sendIdentify()
{
    if (!m_scan)
        return;
    if (busy::cancelRequested(this)) {
        finishScan(QString());
        return;
    }
    rtu::Family family;
    if (!rtu::familyFromModel(ui->comboBox->currentText(), &family))
        family = rtu::Family::M702;
    m_scan->request(rtu::frame::identify(family), kReplyMs);
}

void Form1::onScanReply(const rtu::Reply &reply)
{
    if (busy::cancelRequested(this)) {
        finishScan(QString());
        return;
    }
    qCDebug(lcTrace).noquote() << "rec:" + rtu::hexText(reply.bytes);
    // A whole reply with its CRC; anything else is a failed scan.
    if (reply.kind == rtu::Reply::Answered && reply.bytes.size() > 5) {
        const int count = quint8(reply.bytes[2]);
        const QString serial = rtu::asciiOf(reply.bytes.mid(3, qMin(count, rtu::reply::serial)));
        ui->lineEdit_3->setText(serial);
        qCDebug(lcTrace).noquote() << serial;
        finishScan(QStringLiteral("成功！\n序列号 %1").arg(serial));
        return;
    }
    if (reply.kind == rtu::Reply::TimedOut && reply.refusals == 0 && reply.bytes.isEmpty()) {
        finishScan(QStringLiteral("扫描失败！\n采集器没有应答（串口 %1，1 秒）。请检查采集器电源、"
                                  "连接线，以及“型号”是否与采集器相符。")
                       .arg(m_scanPort));
        return;
    }
    qCDebug(lcTrace).noquote() << "scan: rejected reply" << rtu::hexText(reply.bytes);
    if (reply.fault == rtu::Fault::Incomplete)
        finishScan(QStringLiteral("扫描失败！\n应答不完整（收到 %1 字节），请重试。")
                       .arg(reply.bytes.size()));
    else
        finishScan(QStringLiteral("扫描失败！\n应答校验错误，请检查连接线后重试。"));
}

void Form1::finishScan(const QString &message)
{
    if (m_scan) {
        m_scan->disconnect(this);
        m_scan->close();
        m_scan.reset();
    }
    m_guard.reset();
    if (!message.isEmpty())
        prompts::about(this, QStringLiteral("提示"), message);
}

void Form1::on_pushButton_2_clicked()
{
    pagekit::fillPorts(ui->comboBox_2, true);
}

void Form1::on_pushButton_3_clicked()
{
    const storage::Collector record = fieldsRecord();
    const QString serial = record.serialnum.trimmed();
    if (serial.isEmpty()) {
        prompts::about(
            this, QStringLiteral("提示"),
            QStringLiteral("未填写序列号！\n请点“扫描端口”从采集器读出序列号，或直接填写。"));
        return;
    }
    // A serial number names one collector: saving it again replaces it.
    const base::Result<int> existing = storage::countCollectorsBySerial(serial);
    if (!existing) {
        pagekit::reportFailure(this, QStringLiteral("保存失败"), existing.error);
        return;
    }
    if (existing.value > 0 &&
        !prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("该序列号已存在，是否覆盖？\n序列号 %1").arg(serial),
                           true))
        return;
    const base::Status st = storage::saveCollector(record, fieldsExtra(), existing.value > 0);
    loadList();
    pagekit::reportOutcome(
        this, st, QStringLiteral("保存失败"),
        QStringLiteral("保存成功！\n采集器 %1（序列号 %2）").arg(record.name, serial));
}

void Form1::on_pushButton_4_clicked()
{
    // The number is both the new value and the key, so it cannot be changed
    // here; a number that matches no row changes nothing.
    const storage::Collector record = fieldsRecord();
    const base::Result<int> r = storage::modifyCollector(record, fieldsExtra());
    loadList();
    if (r && r.value == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有找到编号为“%1”的采集器，未修改。\n编号是修改的依据，"
                                      "请先在列表中点选要修改的采集器。")
                           .arg(record.num));
        return;
    }
    pagekit::reportOutcome(this, r.status(), QStringLiteral("修改失败"),
                           QStringLiteral("修改成功！"));
}

void Form1::on_pushButton_8_clicked()
{
    const QString serial = ui->lineEdit_3->text();
    if (serial.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("未选择采集器！"));
        return;
    }
    if (!prompts::question(this, QStringLiteral("提示"), QStringLiteral("确定删除指定设备？"),
                           true))
        return;
    const base::Result<int> r = storage::deleteCollectorsBySerial(serial);
    loadList();
    if (r && r.value == 0) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("没有找到序列号为“%1”的采集器，未删除。").arg(serial));
        return;
    }
    pagekit::reportOutcome(this, r.status(), QStringLiteral("删除失败"),
                           QStringLiteral("删除成功！"));
}

void Form1::on_pushButton_5_clicked()
{
    if (!prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("该操作会清空所有设备数据，是否继续？"), true))
        return;
    const base::Status st = storage::deleteAllCollectors();
    loadList();
    if (!st.ok) {
        pagekit::reportFailure(this, QStringLiteral("全清失败"), st.error);
        return;
    }
    ui->lineEdit->clear();
    ui->lineEdit_2->clear();
    ui->lineEdit_3->clear();
    for (QLineEdit *e : measurementFields())
        e->clear();
    ui->lineEdit_stabilityT->clear();
    ui->lineEdit_stabilityH->clear();
    prompts::about(this, QStringLiteral("提示"), QStringLiteral("全清成功！"));
}

void Form1::on_pushButton_6_clicked()
{
    const QString serial = ui->lineEdit_3->text();
    if (serial.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("未选择采集器！"));
        return;
    }
    pagekit::reportOutcome(this, storage::selectCollector(serial), QStringLiteral("选择失败"),
                           QStringLiteral("选择成功！\n校准将使用采集器 %1（%2）")
                               .arg(serial, ui->lineEdit_2->text()));
}

void Form1::on_pushButton_7_clicked()
{
    close();
}

void Form1::on_twshow_cellClicked(int row, int)
{
    auto cell = [&](int c) { return pagekit::itemText(ui->twshow, row, c); };
    ui->lineEdit->setText(cell(0));
    ui->lineEdit_2->setText(cell(1));
    ui->comboBox->setCurrentText(cell(2));
    ui->comboBox_2->setCurrentText(cell(3));
    ui->lineEdit_3->setText(cell(4));
    const QList<QLineEdit *> fields = measurementFields();
    for (int i = 0; i < fields.size(); ++i)
        fields[i]->setText(cell(5 + i));
    // A date not in yyyy-MM-dd form is invalid; the date field then keeps its value.
    ui->dateEdit->setDate(QDate::fromString(cell(14), QLatin1String(kDateFormat)));
    const base::Result<storage::CollectorExtra> extra = storage::collectorExtra(cell(4));
    if (!extra)
        pagekit::reportFailure(this, QStringLiteral("读取稳定性失败"), extra.error);
    ui->lineEdit_stabilityT->setText(extra.value.stabilityT);
    ui->lineEdit_stabilityH->setText(extra.value.stabilityH);
}
