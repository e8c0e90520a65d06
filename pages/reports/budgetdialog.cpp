#include "pages/reports/budgetdialog.h"

#include "ui_budgetdialog.h"

#include <QHeaderView>
#include <cmath>

namespace {

// The components the operator gives (they are edited in this table).
bool isInput(const QString &name)
{
    static const QStringList inputs{QStringLiteral("标准器漂移"), QStringLiteral("自热"),
                                    QStringLiteral("示值"),       QStringLiteral("辐射"),
                                    QStringLiteral("负载"),       QStringLiteral("示值分辨力")};
    return inputs.contains(name);
}

QString number(double v, int decimals = 4)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("未知");
}

} // namespace

BudgetDialog::BudgetDialog(QWidget *parent) : QDialog(parent), ui(new Ui::BudgetDialog)
{
    ui->setupUi(this);
    setModal(false);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->tbbudget, &QTableWidget::cellChanged, this, &BudgetDialog::onChanged);
    ui->tbbudget->verticalHeader()->hide();
}

BudgetDialog::~BudgetDialog()
{
    delete ui;
}

void BudgetDialog::show(const QString &title, const QString &unit,
                        const results::EvaluatedFigure &figure, bool inputsEditable)
{
    m_filling = true;
    ui->label_figure->setText(title);
    const QStringList headers{QStringLiteral("分量"),       QStringLiteral("来源值"),
                              QStringLiteral("分布"),       QStringLiteral("除数"),
                              QStringLiteral("灵敏系数"),   QStringLiteral("标准不确定度"),
                              QStringLiteral("贡献") + QStringLiteral(" (") + unit + QLatin1Char(')'),
                              QStringLiteral("说明")};
    QTableWidget *t = ui->tbbudget;
    t->clear();
    t->setColumnCount(headers.size());
    t->setHorizontalHeaderLabels(headers);
    t->setRowCount(figure.budget.components.size());
    for (int r = 0; r < figure.budget.components.size(); ++r) {
        const results::Component &c = figure.budget.components[r];
        const QStringList cells{
            c.name,
            c.known ? number(c.value) : QStringLiteral("未知"),
            c.distribution == results::Distribution::Normal ? QStringLiteral("正态")
                                                             : QStringLiteral("矩形"),
            number(c.divisor),
            number(c.coefficient),
            c.known ? number(c.standard()) : QStringLiteral("未知"),
            c.known ? number(c.contribution()) : QStringLiteral("未知"),
            c.note};
        for (int col = 0; col < cells.size(); ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (col == 1 && inputsEditable && isInput(c.name))
                flags |= Qt::ItemIsEditable;
            item->setFlags(flags);
            if (col == 1 && (flags & Qt::ItemIsEditable))
                item->setToolTip(QStringLiteral("双击输入数值"));
            if (col == 7)
                item->setToolTip(c.note);
            t->setItem(r, col, item);
        }
    }
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    if (!figure.hasBudget) {
        ui->label_total->setText(figure.why);
    } else if (figure.budget.known()) {
        const double U = figure.budget.expanded();
        const results::CertificateFigure c =
            results::roundForCertificate(figure.figure.ok ? figure.figure.value : NAN, U);
        ui->label_total->setText(
            QStringLiteral("合成标准不确定度 u_c = %1 %4；k = %2；扩展不确定度 U = %3 %4（证书：%5 ± %6 %4）")
                .arg(number(figure.budget.combined()),
                     figure.budget.k == 2
                         ? QStringLiteral("2")
                         : QStringLiteral("%1（有效自由度 %2，包含概率 95 %）")
                               .arg(QString::number(figure.budget.k, 'f', 2),
                                    QString::number(figure.budget.effectiveDof(), 'f', 1)),
                     number(U), unit, c.value.isEmpty() ? QStringLiteral("无数据") : c.value,
                     c.uncertainty));
    } else {
        ui->label_total->setText(QStringLiteral("扩展不确定度：无数据（%1）").arg(figure.why));
    }
    ui->label_hint->setText(inputsEditable ? QStringLiteral("漂移、自热、辐射、负载为半宽；示值分辨力为显示末位；"
                                                            "示值为标准不确定度。双击数值修改；未给出的为未知，可忽略时输入 0。")
                                           : QString());
    m_filling = false;
    QDialog::show();
    raise();
}

void BudgetDialog::onChanged(int row, int column)
{
    if (m_filling || column != 1)
        return;
    const QString name = ui->tbbudget->item(row, 0)->text();
    const QString text = ui->tbbudget->item(row, 1)->text().trimmed();
    // Emptied: not given again (unknown, not 0).
    if (text.isEmpty() || text == QStringLiteral("未知")) {
        emit inputChanged(name, NAN);
        return;
    }
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0) {
        ui->label_hint->setText(QStringLiteral("“%1”须为不小于 0 的数").arg(name));
        return;
    }
    emit inputChanged(name, v);
}
