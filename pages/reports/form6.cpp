#include "pages/reports/form6.h"

#include "office/wordpdf.h"

#include "office/sources.h"
#include "office/standardcertificate.h"
#include "pages/reports/chamberview.h"
#include "pages/reports/evaluationview.h"
#include "pages/reports/exporttarget.h"
#include "storage/samplereader.h"

#include "acquisition/runregistry.h"
#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "pages/reports/sampletablemodel.h"
#include "storage/statements.h"
#include "ui_form6.h"

#include "office/conversion.h"
#include "office/customreport.h"
#include "office/rawworkbook.h"
#include "office/templates.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QUrl>

Form6::Form6(QWidget *parent)
    : QWidget(parent), ui(new Ui::Form6), m_model(new SampleTableModel(this))
{
    ui->setupUi(this);
    pagekit::makeFrameless(this);
    ui->tbdata->setModel(m_model);
    ui->tbnum->verticalHeader()->hide();
    ui->tbdata->verticalHeader()->hide();
    ui->tbresult->verticalHeader()->hide();
    // Rows of one height let the view skip measuring a hundred thousand rows.
    ui->tbdata->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->tbdata->verticalHeader()->setDefaultSectionSize(ui->tbdata->fontMetrics().height() + 8);
    EvaluationView::Widgets view;
    view.method = ui->comboBox_method;
    view.centreT = ui->comboBox_centreT;
    view.centreH = ui->comboBox_centreH;
    view.window = ui->comboBox_window;
    view.minutes = ui->spinBox_window;
    view.budget = ui->pushButton_budget;
    view.table = ui->tbresult;
    view.status = ui->label_evaluation;
    view.controls = {ui->label_method,      ui->comboBox_method,    ui->label_centreT,
                     ui->comboBox_centreT,  ui->label_centreH,      ui->comboBox_centreH,
                     ui->label_window,      ui->comboBox_window,    ui->spinBox_window,
                     ui->pushButton_budget, ui->pushButton_chamber, ui->label_evaluation};
    m_view = new EvaluationView(view, this);
    m_view->setShown(false);
    showLoading(false);
    fillList();
}

Form6::~Form6()
{
    stopLoading();
    delete ui;
}

bool Form6::isLoading() const
{
    return m_loading;
}

const results::Calibration *Form6::loadedCalibration() const
{
    return m_job && m_loadDone ? &m_job->calibration() : nullptr;
}

void Form6::fillList()
{
    ui->tbnum->clear();
    // Start and end in full (four-digit years), the customer and the
    // equipment: enough to tell calibrations apart. The list scrolls
    // sideways; each row's tooltip says it all at once.
    const QStringList headings{QStringLiteral("序号"), QStringLiteral("开始"),
                               QStringLiteral("结束"), QStringLiteral("委托单位"),
                               QStringLiteral("试验设备")};
    ui->tbnum->setColumnCount(headings.size());
    ui->tbnum->setHorizontalHeaderLabels(headings);
    ui->tbnum->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->tbnum->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_keys.clear();
    const base::Result<QList<storage::RunHeader>> headers = storage::listHeaders();
    if (!headers) {
        ui->tbnum->setRowCount(0);
        pagekit::reportFailure(this, QStringLiteral("读取校准列表失败"), headers.error);
        return;
    }
    // On a shared server every station's calibrations are listed; the
    // station that recorded one is told by its tooltip.
    const base::Result<QHash<QString, QString>> stations = storage::stationsOfCalibrations();
    const base::Result<QHash<QString, QString>> customers = storage::customersOfCalibrations();
    ui->tbnum->setRowCount(headers.value.size());
    for (int i = 0; i < headers.value.size(); ++i) {
        const storage::RunHeader &h = headers.value[i];
        m_keys << h.dtbegin;
        const QString station = stations.value.value(h.dtbegin);
        const QString customer = customers.value.value(h.dtbegin);
        const QStringList cells{QString::number(i + 1), h.dtbegin, h.dtend, customer, h.equipname};
        QString tip = QStringLiteral("开始：%1\n结束：%2\n委托单位：%3\n试验设备：%4")
                          .arg(h.dtbegin, h.dtend,
                               customer.isEmpty() ? QStringLiteral("—") : customer, h.equipname);
        if (!station.isEmpty())
            tip = QStringLiteral("工作站：%1\n").arg(station) + tip;
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setToolTip(tip);
            ui->tbnum->setItem(i, c, item);
        }
    }
}

void Form6::stopLoading()
{
    if (!m_job)
        return;
    m_job->disconnect(this);
    // Given up without waiting for it: a read on a server that holds it back
    // is cut off, a connection being made ends within its time-out, and the
    // job goes once its worker is done. The window never waits on it.
    results::LoadJob *job = m_job.release();
    job->cancel();
    if (job->isRunning()) {
        job->setParent(QCoreApplication::instance());
        connect(job, &results::LoadJob::finished, job, &QObject::deleteLater);
    } else {
        delete job;
    }
    m_loadDone = false;
    m_loading = false;
    showLoading(false);
}

void Form6::resetTables()
{
    stopLoading();
    m_model->clear();
    m_loadedKey.clear();
    m_results.clear();
    m_view->clear();
}

void Form6::showLoading(bool loading)
{
    ui->progress_load->setVisible(loading);
    ui->pushButton_cancel->setVisible(loading);
    // The header line takes the room of the progress bar once it is gone.
    ui->label_load->resize(loading
                               ? ui->progress_load->x() - ui->label_load->x() - 4
                               : ui->pushButton_cancel->geometry().right() - ui->label_load->x(),
                           ui->label_load->height());
    if (loading) {
        ui->progress_load->setRange(0, 0);
        ui->label_load->setText(QStringLiteral("正在加载…"));
    }
}

void Form6::on_tbnum_cellClicked(int row, int)
{
    resetTables();
    const QString key = m_keys.value(row);
    if (key.isEmpty())
        return;
    const base::Result<storage::FoundHeader> found = storage::readHeader(key);
    if (!found) {
        ui->label_load->clear();
        pagekit::reportFailure(this, QStringLiteral("读取校准失败"), found.error);
        return;
    }
    const storage::RunHeader header = found.value.header; // empty when gone meanwhile
    if (found.value.found) {
        if (const base::Status st = results::checkHeader(header); !st) {
            ui->label_load->setText(QStringLiteral("校准记录已损坏"));
            pagekit::reportFailure(this, QStringLiteral("读取校准失败"), st.error);
            return;
        }
    }
    m_loadedKey = key;
    const results::ChannelLayout layout = results::ChannelLayout::fromHeader(header);
    m_model->reset(header, layout);
    ui->tbdata->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ui->tbdata->setColumnWidth(
        0, ui->tbdata->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    ui->tbdata->setColumnWidth(
        1, ui->tbdata->fontMetrics().horizontalAdvance(QStringLiteral("00-00 00:00:00   ")) + 16);
    ui->tbdata->setColumnWidth(
        2, ui->tbdata->fontMetrics().horizontalAdvance(QStringLiteral("-000.0℃  000.0%RH")) + 16);
    if (!found.value.found) {
        ui->label_load->setText(QStringLiteral("没有找到这次校准的记录。"));
        return;
    }
    m_job = std::make_unique<results::LoadJob>(storage::databasePath(), header);
    connect(m_job.get(), &results::LoadJob::batchLoaded, this, &Form6::onBatch);
    connect(m_job.get(), &results::LoadJob::progress, this, &Form6::onProgress);
    connect(m_job.get(), &results::LoadJob::resultsReady, this, &Form6::onResults);
    connect(m_job.get(), &results::LoadJob::finished, this, &Form6::onFinished);
    showLoading(true);
    m_loading = true;
    m_job->start();
}

void Form6::onBatch(const QVector<results::StoredSample> &batch)
{
    m_model->append(batch);
}

void Form6::onProgress(qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    ui->progress_load->setRange(0, 1000);
    ui->progress_load->setValue(int(done * 1000 / total));
    ui->label_load->setText(QStringLiteral("正在加载… %1 / %2 条").arg(done).arg(total));
}

void Form6::onResults(const QVector<results::PointResult> &r)
{
    m_results = r;
}

void Form6::onFinished(bool ok, const QString &error, bool cancelled)
{
    m_loading = false;
    showLoading(false);
    if (!ok) {
        ui->label_load->setText(QStringLiteral("加载失败"));
        pagekit::reportFailure(this, QStringLiteral("读取样本失败"), error);
        return;
    }
    if (cancelled) {
        ui->label_load->setText(
            QStringLiteral("已取消加载，显示了 %1 条").arg(m_model->loadedSamples()));
        return;
    }
    m_loadDone = true;
    m_model->finish();
    QString line = QStringLiteral("%1  共 %2 条样本，%3 个校准点")
                       .arg(m_loadedKey)
                       .arg(m_model->loadedSamples())
                       .arg(m_results.size());
    // On a shared server: which station recorded it.
    const QString station = storage::stationsOfCalibrations().value.value(m_loadedKey);
    if (!station.isEmpty())
        line += QStringLiteral("，工作站 %1").arg(station);
    pagekit::elideText(ui->label_load, line);
    m_view->setCalibration(*loadedCalibration(), m_results);
    emit loaded();
}

void Form6::on_pushButton_cancel_clicked()
{
    if (!m_job)
        return;
    const int shown = m_model->loadedSamples();
    stopLoading();
    ui->label_load->setText(QStringLiteral("已取消加载，显示了 %1 条").arg(shown));
}

void Form6::on_pushButton_data_toggled(bool checked)
{
    ui->tbdata->setVisible(checked);
    m_view->setShown(!checked);
}

bool Form6::hasSamples() const
{
    return m_model->rowCount() > 0;
}

void Form6::on_pushButton_3_clicked()
{
    if (!hasSamples()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("当前没有选择要删除的数据项！"));
        return;
    }
    if (!prompts::question(this, QStringLiteral("提示"), QStringLiteral("确定删除选中项数据？"),
                           true))
        return;
    const QString key = m_loadedKey; // the calibration shown, whatever row is current
    stopLoading();
    const base::Result<int> removed = storage::deleteCalibration(key);
    if (!removed) {
        pagekit::reportFailure(this, QStringLiteral("删除失败"), removed.error);
        return;
    }
    resetTables();
    ui->label_load->setText(
        QStringLiteral("已删除 %1 的校准及其 %2 条样本").arg(key).arg(removed.value));
    fillList();
}

void Form6::on_pushButton_4_clicked()
{
    if (acquisition::anyRunActive()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("校准正在进行，或校准页面有尚未处理的数据，不能全清。"
                                      "\n请先停止并处理（数据处理）后再试。"));
        return;
    }
    if (!prompts::question(this, QStringLiteral("提示"),
                           QStringLiteral("该操作会清空所有数据 确认继续？"), true))
        return;
    stopLoading();
    const base::Status st = storage::clearCalibrations();
    resetTables();
    ui->label_load->clear();
    fillList();
    if (!st)
        pagekit::reportFailure(this, QStringLiteral("全清失败"), st.error);
}

void Form6::on_pushButton_5_clicked()
{
    close();
}

void Form6::on_pushButton_clicked()
{
    exportDocument(office::DocumentKind::Record);
}

void Form6::on_pushButton_2_clicked()
{
    exportDocument(office::DocumentKind::Certificate);
}

bool Form6::readExportRecords(office::ExportRecords *out)
{
    storage::SampleReader reader;
    base::Status st = reader.open(storage::databasePath());
    if (st) {
        const base::Result<office::ExportRecords> records =
            office::readExportRecords(reader, loadedCalibration()->header);
        if (records)
            *out = records.value;
        st = records.status();
    }
    if (!st)
        pagekit::reportFailure(this, QStringLiteral("读取导出数据失败"), st.error);
    return st.ok;
}

bool Form6::readyToExport()
{
    if (m_task) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("正在导出，请等当前导出完成。"));
        return false;
    }
    if (m_loading) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("正在加载这次校准的数据，请加载完成后再导出。"));
        return false;
    }
    if (!hasSamples() || !loadedCalibration()) {
        prompts::about(this, QStringLiteral("提示"), QStringLiteral("当前没有数据！"));
        return false;
    }
    return true;
}

void Form6::exportDocument(office::DocumentKind kind)
{
    if (!readyToExport())
        return;
    const storage::RunHeader header = loadedCalibration()->header;
    office::ExportRecords records;
    if (!readExportRecords(&records))
        return;
    const office::DocumentSources sources = records.sources;
    const QString missing = office::missingRecords(kind, header, sources);
    if (!missing.isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), missing);
        return;
    }
    const QStringList gaps = office::figureGaps(header, m_results);
    if (!gaps.isEmpty() &&
        !prompts::question(
            this, QStringLiteral("提示"),
            QStringLiteral("以下校准点没有可用的数据：\n%1\n文件中这些数值将写为“无数据”。"
                           "是否继续导出？")
                .arg(gaps.join(QLatin1Char('\n')))))
        return;
    if (kind == office::DocumentKind::Certificate &&
        !standardsAccepted(records, header.dtbegin, QStringLiteral("仍要出具证书吗？")))
        return;
    const QString name = office::templateName(kind);
    const QString templatePath = office::findTemplate(name);
    if (templatePath.isEmpty()) {
        prompts::about(
            this, QStringLiteral("失败"),
            QStringLiteral("找不到模板文件 %1。\n请把 %2 放在程序所在的文件夹后再导出。")
                .arg(QDir::toNativeSeparators(office::expectedTemplatePath(name)), name));
        return;
    }
    const QString file =
        exporttarget::ask(this,
                          kind == office::DocumentKind::Record ? QStringLiteral("校准记录")
                                                               : QStringLiteral("校准证书"),
                          header, {exporttarget::Format::Pdf, exporttarget::Format::Docx});
    if (file.isEmpty())
        return;
    // The installed templates' PDF is drawn directly; a laboratory's own
    // template needs LibreOffice.
    if (!office::isWordFile(file) && !office::isInstalledTemplate(templatePath) &&
        office::findSoffice().isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), office::sofficeMissingText(true));
        return;
    }
    office::DocumentJob job;
    job.kind = kind;
    job.calibration = *loadedCalibration();
    job.points = m_results;
    job.sources = sources;
    job.templatePath = templatePath;
    job.target = file;
    runTask(
        kind == office::DocumentKind::Record ? QStringLiteral("导出校准记录")
                                             : QStringLiteral("导出校准证书"),
        [job](const office::Progress &progress) { return office::writeDocument(job, progress); },
        [this, records] {
            prompts::about(this, QStringLiteral("提示"),
                           exportedText(QStringLiteral("导出成功!"), records));
        });
}

void Form6::runTask(const QString &title, base::Task::Work work, std::function<void()> done)
{
    m_progress =
        new QProgressDialog(title + QStringLiteral("…"), QStringLiteral("取消"), 0, 0, this);
    m_progress->setWindowTitle(title);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_task = std::make_unique<base::Task>(std::move(work));
    // What was exported, of which calibration, goes into the audit trail.
    const QString object = loadedCalibration()
                               ? QStringLiteral("校准 ") + loadedCalibration()->header.dtbegin
                               : QString();
    connect(m_task.get(), &base::Task::stage, m_progress, &QProgressDialog::setLabelText);
    connect(m_progress, &QProgressDialog::canceled, m_task.get(), &base::Task::cancel);
    connect(
        m_task.get(), &base::Task::finished, this,
        [this, done, title, object](bool ok, const QString &error, bool cancelled) {
            // Hidden now: the box that follows would keep it on screen until
            // it closes.
            m_progress->hide();
            m_progress->deleteLater();
            m_progress = nullptr;
            m_task.reset();
            if (cancelled) {
                ui->label_load->setText(QStringLiteral("导出已取消"));
                return;
            }
            if (!ok) {
                prompts::about(this, QStringLiteral("失败"), error);
                return;
            }
            if (const base::Status logged = storage::appendAudit(title, object); !logged)
                ui->label_load->setText(QStringLiteral("审计记录未能写入：") + logged.error);
            done();
        },
        Qt::QueuedConnection);
    m_progress->show();
    m_task->start();
}

void Form6::on_pushButton_6_clicked()
{
    if (!readyToExport())
        return;
    const QString file =
        exporttarget::ask(this, QStringLiteral("原始数据"), loadedCalibration()->header,
                          {exporttarget::Format::Xlsx});
    if (file.isEmpty())
        return;
    office::RawWorkbookJob job;
    job.calibration = *loadedCalibration();
    job.points = m_results;
    job.target = QFileInfo(file).absoluteFilePath();
    // The layout as kept with the records, for its sheet.
    if (const base::Result<storage::FoundSnapshot> kept =
            storage::snapshotOf(job.calibration.header.dtbegin);
        kept && kept.value.found) {
        job.equipment = kept.value.snapshot.equipmentExtra;
        job.locationsA = kept.value.snapshot.locationsA;
        job.locationsB = kept.value.snapshot.locationsB;
    }
    runTask(
        QStringLiteral("导出原始数据"),
        [job](const office::Progress &progress) { return office::writeRawWorkbook(job, progress); },
        [this, target = job.target] {
            if (prompts::question(this, QStringLiteral("完成"),
                                  QStringLiteral("文件已经导出，是否现在打开？")))
                prompts::openUrl(QUrl::fromLocalFile(target));
        });
}

void Form6::on_pushButton_7_clicked()
{
    QString error;
    const QString path = office::editableTemplate(QStringLiteral("test.xls"), &error);
    if (!error.isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), error);
        return;
    }
    if (path.isEmpty()) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("找不到自定义模板文件，它应当在：\n%1")
                           .arg(QDir::toNativeSeparators(
                               office::expectedTemplatePath(QStringLiteral("test.xls")))));
        return;
    }
    if (!prompts::openUrl(QUrl::fromLocalFile(path)))
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("没有能打开 .xls 文件的程序：%1").arg(path));
}

void Form6::on_pushButton_8_clicked()
{
    if (!readyToExport())
        return;
    const QString templatePath = office::findTemplate(QStringLiteral("test.xls"));
    if (templatePath.isEmpty()) {
        prompts::about(this, QStringLiteral("失败"),
                       QStringLiteral("找不到自定义模板文件，它应当在：\n%1")
                           .arg(QDir::toNativeSeparators(
                               office::expectedTemplatePath(QStringLiteral("test.xls")))));
        return;
    }
    const QString file =
        exporttarget::ask(this, QStringLiteral("自定义报表"), loadedCalibration()->header,
                          {exporttarget::Format::Xls});
    if (file.isEmpty())
        return;
    if (office::sameFile(file, templatePath)) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("不能把报表保存到模板文件本身，请换一个文件名。"));
        return;
    }
    if (office::findSoffice().isEmpty()) {
        prompts::about(this, QStringLiteral("失败"), office::sofficeMissingText(false));
        return;
    }
    const storage::RunHeader header = loadedCalibration()->header;
    office::ExportRecords records;
    if (!readExportRecords(&records))
        return;
    office::CustomReportJob job;
    job.header = header;
    job.equipment = records.sources.equipment;
    job.collector = records.sources.collector;
    job.channelsA = records.channelsA;
    job.channelsB = records.channelsB;
    job.templatePath = templatePath;
    job.target = QFileInfo(file).absoluteFilePath();
    runTask(
        QStringLiteral("导出自定义报表"),
        [job](const office::Progress &progress) {
            return office::writeCustomReport(job, progress);
        },
        [this, records] {
            prompts::about(this, QStringLiteral("提示"),
                           exportedText(QStringLiteral("报表导出成功"), records));
        });
}

// The chamber as a picture: the point and kind chosen, each located
// channel's mean deviation; a click on a dot selects its channel's column.
void Form6::on_pushButton_chamber_clicked()
{
    const results::Calibration *c = loadedCalibration();
    if (!c) {
        prompts::about(this, QStringLiteral("提示"),
                       QStringLiteral("请先选择一次校准并等它加载完成。"));
        return;
    }
    const base::Result<storage::FoundSnapshot> kept = storage::snapshotOf(c->header.dtbegin);
    if (!kept) {
        pagekit::reportFailure(this, QStringLiteral("读取布点失败"), kept.error);
        return;
    }
    if (!m_chamber) {
        m_chamber = new ChamberWindow(QStringLiteral("布点图"), true, this);
        connect(m_chamber, &ChamberWindow::choiceChanged, this, &Form6::showChamber);
        connect(m_chamber->view(), &ChamberView::channelClicked, this, &Form6::selectChannel);
    }
    const storage::Snapshot &records = kept.value.snapshot;
    m_chamber->setLayout(results::chamberLayout(records.equipmentExtra), records.locationsA,
                         records.locationsB);
    m_chamber->setPoints(c->header.pointnum.toInt());
    showChamber();
    m_chamber->show();
    m_chamber->raise();
}

void Form6::showChamber()
{
    const results::Calibration *c = loadedCalibration();
    if (!c || !m_chamber)
        return;
    m_chamber->showPicture(results::chamberPicture(*c, m_chamber->chamberLayout(),
                                                   m_chamber->locationsA(), m_chamber->locationsB(),
                                                   m_chamber->point(), m_chamber->kind()));
}

void Form6::selectChannel(const QString &channel)
{
    for (int col = 0; col < m_model->columnCount(); ++col) {
        const QString head = m_model->headerData(col, Qt::Horizontal).toString();
        if (head == channel || head.startsWith(channel + QLatin1Char('('))) {
            ui->tbdata->selectColumn(col);
            ui->tbdata->scrollTo(m_model->index(0, col));
            return;
        }
    }
}
