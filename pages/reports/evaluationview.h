#pragma once

#include "base/task.h"
#include "results/evaluation.h"

#include <QObject>
#include <QPointer>
#include <memory>

class BudgetDialog;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

// The query page's results view: the loaded calibration evaluated under
// the chosen method, every figure with its U (k=2), the settings that go
// with it (method, centre channels, window, indicated values, the
// operator's inputs) kept with the calibration. Evaluates on a worker
// thread; a figure's budget opens beside the page.
class EvaluationView : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QComboBox *method = nullptr, *centreT = nullptr, *centreH = nullptr, *window = nullptr;
        QSpinBox *minutes = nullptr;
        QPushButton *budget = nullptr;
        QTableWidget *table = nullptr;
        QLabel *status = nullptr;
        QList<QWidget *> controls; // shown with the results view
    };
    EvaluationView(const Widgets &widgets, QWidget *page);
    ~EvaluationView() override;

    // The calibration just loaded: its settings and its standard are read,
    // then it is evaluated.
    void setCalibration(const results::Calibration &calibration,
                        const QVector<results::PointResult> &recorded);
    void clear();
    void setShown(bool shown);

    const results::EvaluationSettings &settings() const { return m_settings; }
    const results::Evaluation &evaluation() const { return m_evaluation; }
    bool isEvaluating() const { return m_task != nullptr; }
    BudgetDialog *budgetDialog() const { return m_dialog; }
    // Opens the budget of the figure in `row`, `column` of the table.
    bool openBudget(int row, int column);

signals:
    void evaluated();

private:
    struct Cell
    {
        int point = -1; // index into the evaluation's points
        bool humidity = false;
        int figure = -1; // index into the kind's figures; -1: not a figure
        bool indicated = false;
    };
    void fillControls();
    void readControls();
    void changed(); // the settings changed: keep them and evaluate again
    void start();
    void fill();
    void onCellChanged(int row, int column);
    void onInput(const QString &component, double value);
    const results::KindEvaluation *kindAt(const Cell &c) const;

    Widgets w;
    QWidget *m_page;
    QString m_key;
    results::Calibration m_calibration;
    QVector<results::PointResult> m_recorded;
    results::StandardData m_standard;
    results::EvaluationSettings m_settings;
    results::Evaluation m_evaluation;
    std::unique_ptr<base::Task> m_task;
    std::shared_ptr<results::Evaluation> m_pending;
    bool m_again = false;
    bool m_filling = false;
    bool m_loaded = false;
    QVector<QVector<Cell>> m_cells; // [row][column]
    BudgetDialog *m_dialog = nullptr;
    Cell m_dialogCell;
};
