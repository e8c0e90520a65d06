#pragma once

#include "results/evaluation.h"

#include <QDialog>

namespace Ui {
class BudgetDialog;
}

// The budget of one figure as a table: every component with the value it
// comes from, its distribution, divisor, sensitivity coefficient, standard
// uncertainty and contribution; then u_c, k and U. The operator's own
// inputs (DKD-R 5-7) are edited in place. Shown beside the page, never
// modal.
class BudgetDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BudgetDialog(QWidget *parent = nullptr);
    ~BudgetDialog() override;

    // `title`: which point, kind and figure; `unit`: "℃" or "%RH".
    void show(const QString &title, const QString &unit, const results::EvaluatedFigure &figure,
              bool inputsEditable);

signals:
    // An input was changed: its component name and the value as entered.
    void inputChanged(const QString &component, double value);

private:
    void onChanged(int row, int column);

    Ui::BudgetDialog *ui;
    bool m_filling = false;
};
