#include "pages/reports/evaluationview.h"


#include "pages/reports/budgetdialog.h"
#include "results/chamber.h"
#include "storage/statements.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

using results::EvaluatedFigure;
using results::Method;

namespace {

QString unitOf(bool humidity)
{
    return humidity ? QStringLiteral("%RH") : QStringLiteral("℃");
}

QTableWidgetItem *cellItem(const QString &text, bool editable = false)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

} // namespace

EvaluationView::EvaluationView(const Widgets &widgets, QWidget *page)
    : QObject(page), w(widgets), m_page(page)
{
    for (Method m : results::allMethods())
        w.method->addItem(results::methodName(m));
    w.window->addItems({QStringLiteral("整个校准点"), QStringLiteral("每点最后")});
    w.minutes->setRange(1, 24 * 60);
    w.minutes->setValue(30);
    w.minutes->setSuffix(QStringLiteral(" 分钟"));
    w.centreT->setToolTip(QStringLiteral("温度的中心通道（参考位置）"));
    w.centreH->setToolTip(QStringLiteral("湿度的中心通道（参考位置）"));
    w.table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    auto onControl = [this] {
        if (m_filling)
            return;
        readControls();
        changed();
    };
    connect(w.method, QOverload<int>::of(&QComboBox::currentIndexChanged), this, onControl);
    connect(w.centreT, QOverload<int>::of(&QComboBox::currentIndexChanged), this, onControl);
    connect(w.centreH, QOverload<int>::of(&QComboBox::currentIndexChanged), this, onControl);
    connect(w.window, QOverload<int>::of(&QComboBox::currentIndexChanged), this, onControl);
    connect(w.minutes, QOverload<int>::of(&QSpinBox::valueChanged), this, onControl);
    connect(w.table, &QTableWidget::cellChanged, this, &EvaluationView::onCellChanged);
    connect(w.table, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int column) { openBudget(row, column); });
    connect(w.budget, &QPushButton::clicked, this, [this] {
        if (!openBudget(w.table->currentRow(), w.table->currentColumn()))
            w.status->setText(QStringLiteral("请先在表中选中一个数值，再看它的不确定度分量"));
    });
    clear();
}

EvaluationView::~EvaluationView()
{
    if (m_task)
        m_task->cancel();
}

void EvaluationView::clear()
{
    if (m_task)
        m_task->cancel();
    m_again = false;
    m_loaded = false;
    m_key.clear();
    m_calibration = results::Calibration();
    m_recorded.clear();
    m_evaluation = results::Evaluation();
    m_filling = true;
    w.table->clear();
    w.table->setRowCount(0);
    w.table->setColumnCount(0);
    m_cells.clear();
    m_filling = false;
    for (QWidget *c : w.controls)
        c->setEnabled(false);
    if (m_dialog)
        m_dialog->hide();
}

void EvaluationView::setShown(bool shown)
{
    for (QWidget *c : w.controls)
        c->setVisible(shown);
    w.table->setVisible(shown);
}

void EvaluationView::setCalibration(const results::Calibration &calibration,
                                    const QVector<results::PointResult> &recorded)
{
    clear();
    m_calibration = calibration;
    m_recorded = recorded;
    m_key = calibration.header.dtbegin;
    QStringList problems;
    // The standards as they were when the calibration was processed, or
    // today's record of collector one for one processed before.
    const base::Result<storage::FoundSnapshot> kept = storage::snapshotOf(m_key);
    if (kept && kept.value.found) {
        const storage::Snapshot &k = kept.value.snapshot;
        m_standard = results::StandardData::fromCollectors(k.collectors, calibration.layout,
                                                           k.collectorExtras, k.equipmentExtra);
    } else {
        const base::Result<storage::Collector> collector =
            storage::collectorRecord(calibration.header.collector);
        if (!kept || !collector)
            problems << QStringLiteral("读取采集器记录失败：") +
                            (!kept ? kept.error : collector.error);
        m_standard = results::StandardData::fromCollector(collector.value);
    }
    const base::Result<QString> settings = storage::evaluationSettings(m_key);
    if (!settings)
        problems << QStringLiteral("读取评定设置失败：") + settings.error;
    m_settings = results::EvaluationSettings::fromJson(settings.value);
    if (kept && kept.value.found) {
        const storage::Snapshot &k = kept.value.snapshot;
        results::centresFromLayout(&m_settings, calibration.layout,
                                   results::chamberLayout(k.equipmentExtra), k.locationsA,
                                   k.locationsB);
    }
    fillControls();
    for (QWidget *c : w.controls)
        c->setEnabled(true);
    w.centreT->setEnabled(w.centreT->count() > 0);
    w.centreH->setEnabled(w.centreH->count() > 0);
    m_loaded = true;
    if (!problems.isEmpty())
        w.status->setText(problems.join(QStringLiteral("；")));
    start();
}

void EvaluationView::fillControls()
{
    m_filling = true;
    w.method->setCurrentIndex(qMax(0, results::allMethods().indexOf(m_settings.method)));
    for (bool humidity : {false, true}) {
        QComboBox *box = humidity ? w.centreH : w.centreT;
        box->clear();
        box->addItems(results::channelsOfKind(
            m_calibration.layout, humidity ? results::Kind::Humidity : results::Kind::Temperature));
        const int at = box->findText(humidity ? m_settings.centreH : m_settings.centreT);
        box->setCurrentIndex(qMax(0, at));
    }
    w.window->setCurrentIndex(m_settings.windowMinutes > 0 ? 1 : 0);
    if (m_settings.windowMinutes > 0)
        w.minutes->setValue(m_settings.windowMinutes);
    w.minutes->setEnabled(m_settings.windowMinutes > 0);
    m_filling = false;
}

void EvaluationView::readControls()
{
    m_settings.method = results::allMethods().value(w.method->currentIndex(), Method::Recorded);
    m_settings.centreT = w.centreT->currentText();
    m_settings.centreH = w.centreH->currentText();
    m_settings.windowMinutes = w.window->currentIndex() == 1 ? w.minutes->value() : 0;
    w.minutes->setEnabled(w.window->currentIndex() == 1);
}

void EvaluationView::changed()
{
    if (!m_loaded)
        return;
    const base::Status st = storage::storeEvaluationSettings(m_key, m_settings.toJson());
    if (!st)
        w.status->setText(QStringLiteral("评定设置未能保存：") + st.error);
    start();
}

void EvaluationView::start()
{
    if (m_task) {
        m_again = true; // once this one ends
        m_task->cancel();
        return;
    }
    auto out = std::make_shared<results::Evaluation>();
    const results::Calibration calibration = m_calibration;
    const QVector<results::PointResult> recorded = m_recorded;
    const results::StandardData standard = m_standard;
    const results::EvaluationSettings settings = m_settings;
    m_task = std::make_unique<base::Task>([=](const base::Progress &progress) {
        *out = results::evaluate(calibration, recorded, standard, settings, progress.cancel);
        return base::Status();
    });
    connect(
        m_task.get(), &base::Task::finished, this,
        [this, out](bool ok, const QString &error, bool cancelled) {
            m_task.reset();
            if (m_again && m_loaded) {
                m_again = false;
                start();
                return;
            }
            if (cancelled || !m_loaded)
                return;
            if (!ok) {
                w.status->setText(QStringLiteral("评定失败：") + error);
                return;
            }
            m_evaluation = *out;
            fill();
            emit evaluated();
        },
        Qt::QueuedConnection);
    m_task->start();
}

const results::KindEvaluation *EvaluationView::kindAt(const Cell &c) const
{
    if (c.point < 0 || c.point >= m_evaluation.points.size())
        return nullptr;
    const results::PointEvaluation &p = m_evaluation.points[c.point];
    return c.humidity ? &p.h : &p.t;
}

void EvaluationView::fill()
{
    m_filling = true;
    const bool dkd = m_evaluation.method == Method::Dkd57;
    bool wantT = results::typeWantsTemperature(m_calibration.header.equiptype);
    bool wantH = results::typeWantsHumidity(m_calibration.header.equiptype);
    if (!wantT && !wantH)
        wantT = wantH = true; // an unknown type: show what there is
    // The method's figures, as its first kind with figures has them.
    QVector<EvaluatedFigure> columns;
    for (const results::PointEvaluation &p : std::as_const(m_evaluation.points)) {
        if (!p.t.figures.isEmpty() && wantT) {
            columns = p.t.figures;
            break;
        }
        if (!p.h.figures.isEmpty() && wantH) {
            columns = p.h.figures;
            break;
        }
    }
    QStringList headers{QStringLiteral("校准点"), QStringLiteral("参数"), QStringLiteral("设定值")};
    if (dkd)
        headers << QStringLiteral("示值");
    // A long heading goes on two lines before its bracket ("不确定度" over
    // "(k=2)"); the columns are as wide as their contents: no heading or
    // figure is cut (the table scrolls sideways when it must).
    auto wrapped = [](const QString &name) {
        const int bracket = name.indexOf(QLatin1Char('('));
        return bracket >= 3 ? name.left(bracket) + QLatin1Char('\n') + name.mid(bracket) : name;
    };
    for (const EvaluatedFigure &f : std::as_const(columns)) {
        headers << wrapped(f.name);
        if (f.hasBudget)
            headers << QStringLiteral("U(k=2)");
    }
    headers << QStringLiteral("样本数");
    QTableWidget *t = w.table;
    t->clear();
    t->setColumnCount(headers.size());
    t->setHorizontalHeaderLabels(headers);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setRowCount(0);
    m_cells.clear();
    for (int pi = 0; pi < m_evaluation.points.size(); ++pi) {
        const results::PointEvaluation &p = m_evaluation.points[pi];
        for (bool humidity : {false, true}) {
            if ((!humidity && !wantT) || (humidity && !wantH))
                continue;
            const results::KindEvaluation &k = humidity ? p.h : p.t;
            const int row = t->rowCount();
            t->insertRow(row);
            QVector<Cell> cells(headers.size());
            int col = 0;
            auto put = [&](QTableWidgetItem *item, Cell cell = Cell()) {
                cell.point = pi;
                cell.humidity = humidity;
                cells[col] = cell;
                t->setItem(row, col++, item);
            };
            put(cellItem(QStringLiteral("检点%1").arg(p.point)));
            put(cellItem(humidity ? QStringLiteral("湿度(%RH)") : QStringLiteral("温度(℃)")));
            put(cellItem(k.set.isEmpty() ? QStringLiteral("无数据") : k.set));
            if (dkd) {
                Cell c;
                c.indicated = true;
                QTableWidgetItem *item = cellItem(
                    std::isfinite(k.indicated) ? QString::number(k.indicated, 'f', 3) : QString(),
                    k.channels > 0);
                item->setToolTip(QStringLiteral("设备在此点显示的值；双击输入"));
                put(item, c);
            }
            for (int fi = 0; fi < columns.size(); ++fi) {
                const EvaluatedFigure *f = fi < k.figures.size() ? &k.figures[fi] : nullptr;
                Cell c;
                c.figure = f ? fi : -1;
                QTableWidgetItem *value =
                    cellItem(f && f->figure.ok ? f->figure.text() : QStringLiteral("无数据"));
                if (f && !f->why.isEmpty())
                    value->setToolTip(f->why);
                put(value, c);
                if (!columns[fi].hasBudget)
                    continue;
                QString u = QStringLiteral("无数据");
                if (f && f->hasUncertainty())
                    u = results::roundForCertificate(f->figure.value, f->budget.expanded())
                            .uncertainty;
                QTableWidgetItem *uItem = cellItem(u);
                uItem->setToolTip(f && !f->why.isEmpty() ? f->why
                                                         : QStringLiteral("双击查看不确定度分量"));
                put(uItem, c);
            }
            put(cellItem(QString::number(p.samples)));
            m_cells << cells;
        }
    }
    m_filling = false;
    w.status->setText(
        QStringLiteral("评定方法：%1%2")
            .arg(results::methodName(m_evaluation.method),
                 m_evaluation.windowMinutes > 0
                     ? QStringLiteral("，每点最后 %1 分钟").arg(m_evaluation.windowMinutes)
                     : QString()));
    if (m_dialog && m_dialog->isVisible()) {
        // The open budget follows the new figures.
        for (int r = 0; r < m_cells.size(); ++r)
            for (int c = 0; c < m_cells[r].size(); ++c)
                if (m_cells[r][c].point == m_dialogCell.point &&
                    m_cells[r][c].humidity == m_dialogCell.humidity &&
                    m_cells[r][c].figure == m_dialogCell.figure && m_dialogCell.figure >= 0) {
                    openBudget(r, c);
                    return;
                }
    }
}

bool EvaluationView::openBudget(int row, int column)
{
    if (row < 0 || row >= m_cells.size() || column < 0 || column >= m_cells[row].size())
        return false;
    const Cell c = m_cells[row][column];
    const results::KindEvaluation *k = kindAt(c);
    if (!k || c.figure < 0 || c.figure >= k->figures.size())
        return false;
    const EvaluatedFigure &f = k->figures[c.figure];
    if (!m_dialog) {
        m_dialog = new BudgetDialog(m_page);
        connect(m_dialog, &BudgetDialog::inputChanged, this, &EvaluationView::onInput);
    }
    m_dialogCell = c;
    const results::PointEvaluation &p = m_evaluation.points[c.point];
    m_dialog->show(QStringLiteral("检点%1  %2  %3（%4）")
                       .arg(p.point)
                       .arg(c.humidity ? QStringLiteral("湿度") : QStringLiteral("温度"), f.name,
                            results::methodName(m_evaluation.method)),
                   unitOf(c.humidity), f,
                   m_evaluation.method == Method::Dkd57 && f.id == QLatin1String("correction"));
    return true;
}

void EvaluationView::onCellChanged(int row, int column)
{
    if (m_filling || row >= m_cells.size() || column >= m_cells[row].size())
        return;
    const Cell c = m_cells[row][column];
    if (!c.indicated)
        return;
    const int point = m_evaluation.points.value(c.point).point;
    QMap<int, double> &values = c.humidity ? m_settings.indicatedH : m_settings.indicatedT;
    const QString text = w.table->item(row, column)->text().trimmed();
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (text.isEmpty()) {
        values.remove(point);
    } else if (ok && std::isfinite(v)) {
        values.insert(point, v);
    } else {
        w.status->setText(QStringLiteral("示值须为数字：“%1”").arg(text));
        m_filling = true;
        w.table->item(row, column)
            ->setText(values.contains(point) ? QString::number(values.value(point), 'f', 3)
                                             : QString());
        m_filling = false;
        return;
    }
    changed();
}

void EvaluationView::onInput(const QString &component, double value)
{
    results::ExtraInputs &in = m_dialogCell.humidity ? m_settings.inputsH : m_settings.inputsT;
    if (component == QStringLiteral("标准器漂移"))
        in.drift = value;
    else if (component == QStringLiteral("自热"))
        in.selfHeating = value;
    else if (component == QStringLiteral("示值"))
        in.indication = value;
    else if (component == QStringLiteral("辐射"))
        in.radiation = value;
    else if (component == QStringLiteral("负载"))
        in.load = value;
    else if (component == QStringLiteral("示值分辨力"))
        in.displayResolution = value;
    else
        return;
    changed();
}
